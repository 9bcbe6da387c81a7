#include "korv/string.h"
#include "korv_internal.h"

extern "C" int KORLStrEncodeColon(const char *in, char *out, int cap)
{
    if (!in || !out || in == out) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    // Not even the terminator fits.
    if (cap < 1) {
        KORV_ERR(KORL_ERR_BUF_SMALL);
        return -1;
    }
    int len = 0;
    // Each byte is checked as it is written: the byte and the NUL after it must fit.
    auto put = [&](char c) {
        if (static_cast<long long>(len) + 1 + 1 > cap)
            return false;
        out[len++] = c;
        return true;
    };
    for (const char *p = in; *p; ++p) {
        const bool ok = *p == ':' ? put(';') && put(',') : *p == ';' ? put(';') && put(';') : put(*p);
        if (!ok) {
            // What was written stays readable as a text; the room for this NUL was checked.
            out[len] = '\0';
            KORV_ERR(KORL_ERR_BUF_SMALL);
            return -1;
        }
    }
    out[len] = '\0';
    return len;
}
