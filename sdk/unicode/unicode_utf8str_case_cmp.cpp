#include <unicode/ucol.h>

#include "korv_internal.h"
#include "unicode_internal.h"

using korv::MallocPtr;

namespace {

// UTF-8 to upper-cased UTF-16; -1 with the code recorded.
int32_t upperOf(const char *text, MallocPtr<UChar> &upper)
{
    int err = 0;
    int32_t len = korv::unicode::utf8ToUpperUtf16(text, upper, &err);
    if (len < 0 && err)
        KORV_ERR(err);
    return len;
}

}  // namespace

extern "C" int KORLUnicodeUTF8StrCaseCmp(const char *a, const char *b)
{
    if (!a || !b) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -2;
    }
    UCollator *coll = KORLUnicodeOpenCollator();
    if (!coll)
        return -2;
    MallocPtr<UChar> upperA, upperB;
    int32_t lenA = upperOf(a, upperA);
    if (lenA < 0)
        return -2;
    int32_t lenB = upperOf(b, upperB);
    if (lenB < 0)
        return -2;
    UCollationResult r = ucol_strcoll(coll, upperA.get(), lenA, upperB.get(), lenB);
    if (r == UCOL_LESS)
        return -1;
    return r == UCOL_EQUAL ? 0 : 1;
}
