// Helpers of the Unicode module's source files. They return the error code to record (0 on success)
// so that each public function records it under its own source-file name.
#pragma once

#include <stdlib.h>
#include <string.h>

#include <unicode/ustring.h>
#include <unicode/utypes.h>

#include "korv/error.h"
#include "korv_malloc_ptr.h"
#include "korv/unicode.h"

static_assert(sizeof(KORLUCHAR) == sizeof(UChar), "KORLUCHAR must be ICU's UChar");

namespace korv::unicode {

// count elements of T from malloc into out: 0, or the code to record. ICU takes capacities as int32_t,
// so a larger buffer counts as a failed conversion.
template <typename T>
inline int allocUnits(size_t count, MallocPtr<T> &out)
{
    if (count > INT32_MAX)
        return KORL_ERR_OTHER;
    out.reset(static_cast<T *>(malloc(count * sizeof(T))));
    return out ? 0 : KORL_ERR_NO_MEMORY;
}

// UTF-8 to UTF-16 in a buffer of 2 x strlen(src) + 1 code units; *len is the UTF-16 length.
inline int utf8ToUtf16(const char *src, MallocPtr<UChar> &out, int32_t *len)
{
    size_t cap = 2 * strlen(src) + 1;
    if (int err = allocUnits(cap, out))
        return err;
    UErrorCode st = U_ZERO_ERROR;
    u_strFromUTF8(out.get(), static_cast<int32_t>(cap), len, src, -1, &st);
    // The capacity always leaves room for the NUL, so any status above zero is a real failure.
    if (U_FAILURE(st) || *len < 0 || static_cast<size_t>(*len) >= cap)
        return KORL_ERR_OTHER;
    return 0;
}

// UTF-8 to UTF-16, upper-cased into a fresh buffer of 2 x its length + 1 code units (regrown when
// needed). The upper-cased length, or -1 with *err the code to record (0 when
// KORLUnicodeUTF16StrUpper has recorded its own).
inline int32_t utf8ToUpperUtf16(const char *src, MallocPtr<UChar> &upper, int *err)
{
    MallocPtr<UChar> wide;
    int32_t wideLen = 0;
    if ((*err = utf8ToUtf16(src, wide, &wideLen)) != 0)
        return -1;
    size_t cap = 2 * static_cast<size_t>(wideLen) + 1;
    MallocPtr<UChar> first;
    if ((*err = allocUnits(cap, first)) != 0)
        return -1;
    // The buffer may come back reallocated; on failure it is still the one to free.
    UChar *buf = first.release();
    int32_t n = KORLUnicodeUTF16StrUpper(wide.get(), &buf, static_cast<int>(cap));
    upper.reset(buf);
    return n;
}

// The sized-output convention: with outSize 0 only the length is given; a text that does not fit
// leaves "" in out and still gives its full length.
inline int sizedOutput(const char *text, size_t len, char *out, int outSize)
{
    if (outSize > 0) {
        if (len < static_cast<size_t>(outSize)) {
            memcpy(out, text, len);
            out[len] = '\0';
        } else {
            out[0] = '\0';
        }
    }
    return static_cast<int>(len);
}

}  // namespace korv::unicode
