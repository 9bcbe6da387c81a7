// Markers hold one 32-bit word, little-endian on every build like the device's stores.
#include <stdlib.h>

#include "korv_bdb.h"
#include "korv_internal.h"
#include "korv_le32.h"

namespace korv::bdb {

int MarkerGet(KORVBDB *h, const char *key, int keyLen, int32_t *value)
{
    void *buf = nullptr;
    int cb = 0;
    if (KORVBDbGet(h, key, keyLen, &buf, &cb) != 0) {
        free(buf);
        return -1;
    }
    bool ok = cb == 4;
    if (ok)
        *value = static_cast<int32_t>(korv::Le32Get(buf));
    free(buf);
    if (!ok) {
        KORV_ERR(KORL_ERR_MALFORMED);
        return -1;
    }
    return 0;
}

int MarkerSet(KORVBDB *h, const char *key, int keyLen, int32_t value)
{
    unsigned char word[4];
    korv::Le32Put(word, static_cast<uint32_t>(value));
    return KORVBDbSet(h, key, keyLen, word, sizeof word);
}

}  // namespace korv::bdb

namespace korv::bdb {

int MarkerGetCopy(KORVBDB *h, const char *key, int keyLen, void **ppValue, const char *file, int line)
{
    if (!h || !ppValue || *ppValue) {
        KORLErrSetEx(KORL_ERR_BAD_PARAM, file, line);
        return -1;
    }
    int32_t v;
    if (MarkerGet(h, key, keyLen, &v) != 0)
        return -1;
    int *out = static_cast<int *>(malloc(sizeof(int)));
    if (!out) {
        KORLErrSetEx(KORL_ERR_NO_MEMORY, file, line);
        return -1;
    }
    *out = v;
    *ppValue = out;
    return 0;
}

}  // namespace korv::bdb
