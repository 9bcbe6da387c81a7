#include <unicode/ustring.h>

#include "korv_internal.h"
#include "unicode_internal.h"

extern "C" int KORLUnicodeUTF8StrCountChar(const char *s)
{
    if (!s) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    korv::MallocPtr<UChar> wide;
    int32_t wideLen = 0;
    if (int err = korv::unicode::utf8ToUtf16(s, wide, &wideLen)) {
        KORV_ERR(err);
        return -1;
    }
    // A surrogate pair is one character.
    return u_countChar32(wide.get(), wideLen);
}
