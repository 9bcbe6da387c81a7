#include <cstring>

#include "korv/string.h"
#include "korv_internal.h"

extern "C" int KORLStrReplace(char *s, const char *find, const char *repl, char *out, int cap)
{
    if (!s || !find || !repl) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    const size_t lenS = std::strlen(s);
    const size_t lenFind = std::strlen(find);
    const size_t lenRepl = std::strlen(repl);
    // Signed 64-bit: a find longer than s gives a negative result length, which always fits.
    const long long need = static_cast<long long>(lenS) - static_cast<long long>(lenFind) +
                           static_cast<long long>(lenRepl) + 1;
    if (need > cap) {
        KORV_ERR(KORL_ERR_BUF_SMALL);
        return -1;
    }
    char *hit = std::strstr(s, find);
    if (!hit)
        return 0;

    const size_t before = static_cast<size_t>(hit - s);
    const char *rest = hit + lenFind;
    const size_t lenRest = lenS - before - lenFind;
    if (!out || out == s) {
        // Move the tail first so that the replacement does not overwrite it.
        std::memmove(hit + lenRepl, rest, lenRest + 1);
        std::memcpy(hit, repl, lenRepl);
    } else {
        std::memcpy(out, s, before);
        std::memcpy(out + before, repl, lenRepl);
        std::memcpy(out + before + lenRepl, rest, lenRest + 1);
    }
    return 1;
}
