#include <cstring>

#include "korv/string.h"
#include "korv_internal.h"

extern "C" int KORLStrTrimSpace(char *s, char *out)
{
    if (!s) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    size_t len = std::strlen(s);
    // Writing the result from inside s would overrun the bytes not yet moved.
    if (out && out > s && out <= s + len) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    if (!out)
        out = s;

    const char *begin = s;
    const char *end = s + len;
    while (begin < end && StrIsSpace(static_cast<unsigned char>(*begin)))
        ++begin;
    while (end > begin && StrIsSpace(static_cast<unsigned char>(end[-1])))
        --end;
    if (end - begin >= 2 && *begin == '"' && end[-1] == '"') {
        ++begin;
        --end;
    }
    size_t n = static_cast<size_t>(end - begin);
    std::memmove(out, begin, n);
    out[n] = '\0';
    return static_cast<int>(n);
}
