// Base64: any text decoded into a buffer of any capacity, and any bytes encoded and decoded back.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "korv/string.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const int cap = data[0];
    const char *src = reinterpret_cast<const char *>(data) + 1;
    const int n = static_cast<int>(size - 1);
    std::vector<unsigned char> out(static_cast<size_t>(cap) + 1);
    int got = cap;
    Base64Decode(src, n, out.data(), &got);
    if (got < 0 || got > cap)
        abort();

    // What the encoder makes of a text, the decoder takes back whole (a NUL may end the
    // encoding early).
    if (n <= 1533 && !memchr(src, 0, static_cast<size_t>(n))) {
        const char *enc = SzBase64EncodeOneLine(src, n);
        if (enc) {
            std::vector<unsigned char> back(static_cast<size_t>(n) + 4);
            int room = static_cast<int>(back.size());
            if (Base64Decode(enc, static_cast<int>(strlen(enc)), back.data(), &room) != 1 || room != n ||
                memcmp(back.data(), src, static_cast<size_t>(n)) != 0)
                abort();
        }
    }
    return 0;
}
