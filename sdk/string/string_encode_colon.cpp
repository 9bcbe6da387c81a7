#include "korv/string.h"
#include "korv_internal.h"

extern "C" int KORLStrEncodeColon(const char *in, char *out, int cap)
{
    if (!in || !out || in == out) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    if (cap < 1) {
        KORV_ERR(KORL_ERR_BUF_SMALL);
        return -1;
    }
    int len = 0;
    for (const char *p = in; *p; ++p) {
        const bool escaped = *p == ':' || *p == ';';
        const int width = escaped ? 2 : 1;
        if (static_cast<long long>(len) + width + 1 > cap) {
            // What fitted stays readable as a text.
            out[len] = '\0';
            KORV_ERR(KORL_ERR_BUF_SMALL);
            return -1;
        }
        if (escaped) {
            out[len++] = ';';
            out[len++] = *p == ':' ? ',' : ';';
        } else {
            out[len++] = *p;
        }
    }
    out[len] = '\0';
    return len;
}
