// Whether a line is the key line of a key.
#include <stdlib.h>
#include <string.h>

#include "file_internal.h"
#include "korv/file.h"
#include "korv/string.h"
#include "korv_internal.h"
#include "korv_malloc_ptr.h"

namespace korv::file {

bool KeyLine::Cut(char *line, const char *delim)
{
    if (line[0] == '#' || line[0] == ';')
        return false;
    // strsep skipping empty runs: leading delimiters go, the first non-empty run is the key text.
    char *cursor = line;
    text = KORLStrSepNext(&cursor, delim);
    rest = cursor;
    return text != nullptr;
}

int KeyLine::Key(char *out) const
{
    return KORLStrTrimSpace(text, out);
}

int LineKeyMatchAt(char *line, const char *key, char **keyText, char **rest)
{
    if (!line || !key) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return 0;
    }
    KeyLine parts;
    if (!parts.Cut(line))
        return 0;
    korv::MallocPtr<char> work(static_cast<char *>(malloc(strlen(parts.text) + 1)));
    if (!work || parts.Key(work.get()) < 0 || strcmp(work.get(), key) != 0)
        return 0;
    if (keyText)
        *keyText = parts.text;
    if (rest)
        *rest = parts.rest;
    return 1;
}

int CopyKeyMatch(const char *line, const char *key, MallocPtr<char> &copy, char **keyText, char **rest,
                 std::source_location loc)
{
    copy.reset(strdup(line));
    if (!copy) {
        ErrAt(KORL_ERR_NO_MEMORY, loc);
        return -1;
    }
    return LineKeyMatchAt(copy.get(), key, keyText, rest);
}

}  // namespace korv::file

extern "C" int KORLFileLineKeyMatch(char *line, const char *key)
{
    return korv::file::LineKeyMatchAt(line, key, nullptr, nullptr);
}
