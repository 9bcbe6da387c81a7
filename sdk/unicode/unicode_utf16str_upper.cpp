#include <stdlib.h>

#include <unicode/ustring.h>

#include "korv_internal.h"
#include "unicode_internal.h"

extern "C" int KORLUnicodeUTF16StrUpper(const KORLUCHAR *src, KORLUCHAR **pDst, int capacity)
{
    if (!src || !pDst || !*pDst || capacity <= 0) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    const char *locale = nullptr;
    if (KORLUnicodeGetLocale(0, &locale) < 0)
        return -1;

    UErrorCode st = U_ZERO_ERROR;
    int32_t len = u_strToUpper(*pDst, capacity, src, -1, locale, &st);
    // A result that exactly fills the buffer comes back with the "not terminated" warning: callers
    // read the text up to its NUL, so that buffer is as much too small as an overflowing one.
    bool tooSmall = st == U_STRING_NOT_TERMINATED_WARNING || (U_FAILURE(st) && len >= capacity);
    if (!tooSmall) {
        if (U_FAILURE(st)) {
            KORV_ERR(KORL_ERR_OTHER);
            return -1;
        }
        return len;
    }

    if (len >= INT32_MAX) {
        KORV_ERR(KORL_ERR_OTHER);
        return -1;
    }
    auto *grown = static_cast<KORLUCHAR *>(realloc(*pDst, (static_cast<size_t>(len) + 1) * sizeof(KORLUCHAR)));
    if (!grown) {
        KORV_ERR(KORL_ERR_NO_MEMORY);
        return -1;
    }
    *pDst = grown;
    st = U_ZERO_ERROR;
    int32_t again = u_strToUpper(grown, len + 1, src, -1, locale, &st);
    if (U_FAILURE(st) || st == U_STRING_NOT_TERMINATED_WARNING) {
        KORV_ERR(KORL_ERR_OTHER);
        return -1;
    }
    return again;
}
