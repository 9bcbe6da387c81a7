// Splitting a dotted IPv4 text into its four numbers.
#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "korv/net.h"
#include "korv_internal.h"

extern "C" int KORVNetSepIP(const char *text, int numbers[4])
{
    if (!text || !numbers) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return 0;
    }
    char buf[32];
    size_t len = strnlen(text, sizeof buf);
    if (len >= sizeof buf) {
        // Cut to the buffer, a longer text could read as another address.
        KORV_ERR(KORL_ERR_NOT_IPV4);
        return 0;
    }
    memcpy(buf, text, len + 1);

    // Base 0: "0x" prefixes are hexadecimal and a leading "0" octal, as everywhere on the device.
    const char *p = buf;
    for (int i = 0; i < 4; ++i) {
        char *end = nullptr;
        errno = 0;
        long long v = strtoll(p, &end, 0);
        // A field holds digits, and its number fits the int it is stored in: "4294967297"
        // must not wrap to 1.
        if (end == p || errno == ERANGE || v < INT_MIN || v > INT_MAX) {
            KORV_ERR(KORL_ERR_NOT_IPV4);
            return i;
        }
        numbers[i] = static_cast<int>(v);
        if (i < 3 && *end != '.') {
            KORV_ERR(KORL_ERR_NOT_IPV4);
            return i;
        }
        if (i == 3 && *end != '\0') {
            KORV_ERR(KORL_ERR_NOT_IPV4);
            return 3;
        }
        p = end + 1;
    }
    return 4;
}
