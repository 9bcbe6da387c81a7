#include <string.h>

#include <unicode/ucnv.h>

#include "korv_internal.h"
#include "unicode_internal.h"

using korv::MallocPtr;

extern "C" int KORLUnicodeStrUTF8ToCP(int index, const char *src, char *out, int outSize)
{
    if (!src || outSize < 0 || (!out && outSize > 0)) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    if (index == KORL_CP_INDEX_UTF8)
        return korv::unicode::sizedOutput(src, strlen(src), out, outSize);

    UConverter *cnv = KORLUnicodeOpenConvertor(index);
    if (!cnv)
        return -1;
    MallocPtr<UChar> wide;
    int32_t wideLen = 0;
    if (int err = korv::unicode::utf8ToUtf16(src, wide, &wideLen)) {
        KORV_ERR(err);
        return -1;
    }
    // One character more than the text: a Unicode converter (UTF-16) writes its byte-order mark
    // first, which the maximum character size does not count.
    size_t cap = (static_cast<size_t>(wideLen) + 1) * static_cast<size_t>(ucnv_getMaxCharSize(cnv)) + 1;
    MallocPtr<char> bytes;
    if (int e = korv::unicode::allocUnits(cap, bytes)) {
        KORV_ERR(e);
        return -1;
    }
    UErrorCode st = U_ZERO_ERROR;
    int32_t len = ucnv_fromUChars(cnv, bytes.get(), static_cast<int32_t>(cap), wide.get(), wideLen, &st);
    // The count is used, not a NUL: a full buffer comes back unterminated.
    if (U_FAILURE(st) || len < 0 || static_cast<size_t>(len) > cap) {
        KORV_ERR(KORL_ERR_OTHER);
        return -1;
    }
    return korv::unicode::sizedOutput(bytes.get(), static_cast<size_t>(len), out, outSize);
}
