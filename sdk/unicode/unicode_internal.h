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

// count elements of T from malloc, owned.
template <typename T>
inline MallocPtr<T> allocUnits(size_t count)
{
    return MallocPtr<T>(static_cast<T *>(malloc(count * sizeof(T))));
}

// UTF-8 to UTF-16 in a buffer of 2 x strlen(src) + 1 code units; *len is the UTF-16 length.
inline int utf8ToUtf16(const char *src, MallocPtr<UChar> &out, int32_t *len)
{
    size_t cap = 2 * strlen(src) + 1;
    if (cap > INT32_MAX)
        return KORL_ERR_OTHER;
    out = allocUnits<UChar>(cap);
    if (!out)
        return KORL_ERR_NO_MEMORY;
    UErrorCode st = U_ZERO_ERROR;
    u_strFromUTF8(out.get(), static_cast<int32_t>(cap), len, src, -1, &st);
    // The capacity always leaves room for the NUL, so any status above zero is a real failure.
    if (U_FAILURE(st) || *len < 0 || static_cast<size_t>(*len) >= cap)
        return KORL_ERR_OTHER;
    return 0;
}

// Upper-cases UTF-16 text into a fresh buffer of 2 x len + 1 code units (regrown when needed).
// Returns the length, or -1 with the code already recorded by KORLUnicodeUTF16StrUpper.
inline int32_t upperUtf16(const UChar *src, int32_t len, MallocPtr<UChar> &out, int *err)
{
    size_t cap = 2 * static_cast<size_t>(len) + 1;
    *err = 0;
    if (cap > INT32_MAX) {
        *err = KORL_ERR_OTHER;
        return -1;
    }
    UChar *buf = static_cast<UChar *>(malloc(cap * sizeof(UChar)));
    if (!buf) {
        *err = KORL_ERR_NO_MEMORY;
        return -1;
    }
    // The buffer may come back reallocated; on failure it is still the one to free.
    int32_t n = KORLUnicodeUTF16StrUpper(src, &buf, static_cast<int>(cap));
    out.reset(buf);
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
