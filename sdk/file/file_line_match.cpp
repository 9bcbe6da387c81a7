// Whether a line matches a pattern: anywhere, at its start or at its end, optionally ignoring case.
#include <string.h>

#include <new>
#include <string>

#include "korv/file.h"
#include "korv/unicode.h"
#include "korv_internal.h"

namespace {

// The upper-cased text; false when the conversion fails. The buffer is sized by asking for the
// length first, since upper-casing may lengthen a text ("ß" becomes "SS").
bool Upper(const char *text, std::string &out)
{
    int n = KORLUnicodeUTF8StrUpper(text, nullptr, 0);
    if (n < 0)
        return false;
    out.assign(static_cast<size_t>(n) + 1, '\0');
    int m = KORLUnicodeUTF8StrUpper(text, out.data(), n + 1);
    if (m != n)
        return false;
    out.resize(static_cast<size_t>(n));
    return true;
}

}  // namespace

extern "C" int KORLFileLineMatch(const char *line, const char *pattern, int flags)
{
    if (!line || !pattern || flags < 0) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return 0;
    }
    if (line[0] == '#' || line[0] == ';')
        return 0;

    std::string text, pat;
    try {
        if (flags & OP_MATCH_NOCASE) {
            if (!Upper(line, text) || !Upper(pattern, pat))
                return 0;
        } else {
            text = line;
            pat = pattern;
        }
    } catch (const std::bad_alloc &) {
        KORV_ERR(KORL_ERR_NO_MEMORY);
        return 0;
    }

    if (flags & OP_MATCH_PREFIX)
        return text.compare(0, pat.size(), pat) == 0 ? 1 : 0;
    if (flags & OP_MATCH_SUFFIX) {
        // The line's text ends at its first newline, or at its end when it has none.
        size_t end = text.find('\n');
        if (end == std::string::npos)
            end = text.size();
        if (pat.size() > end)
            return 0;
        return text.compare(end - pat.size(), pat.size(), pat) == 0 ? 1 : 0;
    }
    return text.find(pat) != std::string::npos ? 1 : 0;
}
