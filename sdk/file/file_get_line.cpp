// Reading the first (or last) line that matches a pattern.
#include <string.h>

#include "file_internal.h"
#include "korv/file.h"
#include "korv_internal.h"

extern "C" int KORLFileGetLine(const char *path, const char *pattern, char *buf, int size, int flags)
{
    if (!path || !pattern || !buf || size <= 0 || flags < 0) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    korv::UniqueFile fp(korv::file::OpenTarget(path));
    if (!fp)
        return -1;

    size_t result = 0;  // length + 1 of the deciding line, 0 while none
    korv::LineReader lines(fp.get());
    while (lines.Next()) {
        if (KORLFileLineMatch(lines.data(), pattern, flags) != 1)
            continue;
        memset(buf, 0, static_cast<size_t>(size));
        result = lines.TextSize() + 1;
        if (result <= static_cast<size_t>(size))
            memcpy(buf, lines.data(), result - 1);
        if (!(flags & OP_FIND_LAST))
            break;
    }
    if (lines.Failed()) {
        KORV_ERR(KORL_ERR_READ);
        return -1;
    }
    if (result > static_cast<size_t>(size)) {
        KORV_ERR(KORL_ERR_BUF_SMALL);
        return -1;
    }
    if (result == 0) {
        KORV_ERR(KORL_ERR_NOT_FOUND);
        return 0;
    }
    return static_cast<int>(result);
}
