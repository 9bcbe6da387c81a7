#include "hash_internal.h"
#include "korv_internal.h"

using namespace korv::hash;

extern "C" int HashFileFormatCheck(const char *format)
{
    if (!format)
        return 1;
    // The format is given to fprintf with exactly two texts: any other conversion would read
    // arguments that are not there.
    const char *conv[2] = {nullptr, nullptr};
    int n = 0;
    for (const char *p = format; *p; p++) {
        if (*p != '%')
            continue;
        if (p[1] == '%') {
            p++;
            continue;
        }
        if (p[1] != 's' || n == 2)
            return 0;
        conv[n++] = p++;
    }
    if (n != 2)
        return 0;
    const char *eq = static_cast<const char *>(memchr(conv[0] + 2, '=', conv[1] - (conv[0] + 2)));
    return eq && strchr(conv[1] + 2, '\n') ? 1 : 0;
}

extern "C" int KORLSzHashFileHash2File(FILE *stream, const char *section, PKORLSZHASH hash, const char *format)
{
    if (!format)
        format = "%s=%s\n";
    if (!stream || !HashFileFormatCheck(format)) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    if (section && fprintf(stream, "[%s]\n", section) < 0) {
        KORV_ERR(KORL_ERR_WRITE);
        return -1;
    }
    if (!hash)
        return 0;
    KORLSZHASHSLOT *slots = Slots(hash);
    for (int i = 0; i < hash->nSlot; i++) {
        if (!slots[i].key)
            continue;
        int written = fprintf(stream, format, At(hash, slots[i].key), At(hash, slots[i].value));
        if (written < 0) {
            KORV_ERR(KORL_ERR_WRITE);
            return -1;
        }
    }
    return 0;
}
