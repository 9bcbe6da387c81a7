#include <cstring>

#include "korv/string.h"
#include "korv_internal.h"

extern "C" int KORLStrDecodeColon(const char *in, char *out, int cap)
{
    if (!in || !out || in == out) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    // The decoded text is never longer than the input.
    if (static_cast<long long>(std::strlen(in)) + 1 > cap) {
        KORV_ERR(KORL_ERR_BUF_SMALL);
        return -1;
    }
    int len = 0;
    for (const char *p = in; *p; ++p) {
        if (*p != ';') {
            out[len++] = *p;
            continue;
        }
        if (p[1] == ',')
            out[len++] = ':';
        else if (p[1] == ';')
            out[len++] = ';';
        else
            break;  // not an escape: the text ends here
        ++p;
    }
    out[len] = '\0';
    return len;
}
