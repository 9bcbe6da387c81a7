// Reading the value of one key.
#include <string.h>

#include "file_internal.h"
#include "korv/file.h"
#include "korv/string.h"
#include "korv_internal.h"

extern "C" int KORLFileGetKeyValue(const char *path, const char *key, char *buf, int size, int flags)
{
    if (!path || !key || flags < 0 || (!buf && size != 0)) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    korv::UniqueFile fp(korv::file::OpenTarget(path));
    if (!fp)
        return -1;

    const bool last = (flags & OP_FIND_LAST) != 0;
    int result = 0;  // length + 1 of the deciding value, 0 while none
    korv::LineReader lines(fp.get());
    while (lines.Next()) {
        char *rest = nullptr;
        if (korv::file::LineKeyMatchAt(lines.data(), key, nullptr, &rest) != 1)
            continue;
        // The value runs from after the "=" to the end of the line.
        char *value = rest;
        if (value)
            value[strcspn(value, "\n")] = '\0';
        if (!value || !*value) {
            // An empty value: absent in first-match mode, passed over when the last one counts.
            if (last)
                continue;
            break;
        }
        int n = KORLStrTrimSpace(value, nullptr);
        if (n < 0)
            return -1;
        result = n + 1;
        if (buf && result <= size)
            memcpy(buf, value, static_cast<size_t>(result));
        if (!last)
            break;
    }
    if (lines.Failed()) {
        KORV_ERR(KORL_ERR_READ);
        return -1;
    }
    if (result == 0) {
        KORV_ERR(KORL_ERR_NOT_FOUND);
        return 0;
    }
    // A negative size fits nothing, as a small one does.
    if (buf && result > size) {
        KORV_ERR(KORL_ERR_BUF_SMALL);
        return -1;
    }
    return result;
}
