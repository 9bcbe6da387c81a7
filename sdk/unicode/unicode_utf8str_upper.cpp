#include <unicode/ustring.h>

#include "korv_internal.h"
#include "unicode_internal.h"

using korv::MallocPtr;

extern "C" int KORLUnicodeUTF8StrUpper(const char *src, char *out, int outSize)
{
    if (!src || outSize < 0 || (!out && outSize > 0)) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    if (!*src) {
        if (outSize > 0)
            out[0] = '\0';
        return 0;
    }

    MallocPtr<UChar> upper;
    int err = 0;
    int32_t upperLen = korv::unicode::utf8ToUpperUtf16(src, upper, &err);
    if (upperLen < 0) {
        if (err)
            KORV_ERR(err);
        return -1;
    }

    size_t cap = 6 * static_cast<size_t>(upperLen) + 1;
    MallocPtr<char> utf8;
    if (int e = korv::unicode::allocUnits(cap, utf8)) {
        KORV_ERR(e);
        return -1;
    }
    UErrorCode st = U_ZERO_ERROR;
    int32_t len = 0;
    u_strToUTF8(utf8.get(), static_cast<int32_t>(cap), &len, upper.get(), upperLen, &st);
    if (U_FAILURE(st) || len < 0 || static_cast<size_t>(len) >= cap) {
        KORV_ERR(KORL_ERR_OTHER);
        return -1;
    }
    return korv::unicode::sizedOutput(utf8.get(), static_cast<size_t>(len), out, outSize);
}
