// Whether a line is the key line of a key.
#include <stdlib.h>
#include <string.h>

#include "file_internal.h"
#include "korv/file.h"
#include "korv/string.h"
#include "korv_internal.h"
#include "korv_malloc_ptr.h"

namespace korv::file {

int LineKeyMatchAt(char *line, const char *key, char **keyText, char **rest)
{
    if (!line || !key) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return 0;
    }
    if (line[0] == '#' || line[0] == ';')
        return 0;
    // Leading "=" signs are skipped; the key ends at the "=" after the first non-empty run.
    char *cursor = line;
    char *token = KORLStrSepNext(&cursor, "=");
    if (!token)
        return 0;
    korv::MallocPtr<char> work(static_cast<char *>(malloc(strlen(token) + 1)));
    if (!work)
        return 0;
    if (KORLStrTrimSpace(token, work.get()) < 0)
        return 0;
    if (strcmp(work.get(), key) != 0)
        return 0;
    if (keyText)
        *keyText = token;
    if (rest)
        *rest = cursor;
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
