#include <cstdlib>

#include "hash_internal.h"

using namespace korv::hash;

void KORLSzHashStore(PKORLSZHASH hash, int slot, const char *key, const char *value)
{
    size_t klen = strlen(key) + 1;
    size_t vlen = strlen(value) + 1;
    int32_t at = hash->pPoolNext;
    memcpy(At(hash, at), key, klen);
    memcpy(At(hash, at + static_cast<int32_t>(klen)), value, vlen);
    Slots(hash)[slot].key = at;
    Slots(hash)[slot].value = at + static_cast<int32_t>(klen);
    hash->pPoolNext += static_cast<int32_t>(klen + vlen);
    hash->cbPoolFree -= static_cast<int32_t>(klen + vlen);
    hash->nUsed++;
}

int KORLSzHashCopyAll(PKORLSZHASH src, PKORLSZHASH dst)
{
    KORLSZHASHSLOT *slots = Slots(src);
    for (int i = 0; i < src->nSlot; i++) {
        if (!slots[i].key)
            continue;
        const char *key = At(src, slots[i].key);
        const char *value = At(src, slots[i].value);
        int slot = KORLSzHashFindSlot(dst, key);
        if (slot < 0 || static_cast<int64_t>(strlen(key) + strlen(value)) + 2 > dst->cbPoolFree)
            return -1;
        KORLSzHashStore(dst, slot, key, value);
    }
    return 0;
}

PKORLSZHASH KORLSzHashRealloc(PKORLSZHASH hash, int64_t slots, int64_t pool)
{
    PKORLSZHASH grown = NewHash(slots, pool);
    if (!grown)
        return nullptr;
    // Tombstones and dead pool bytes are left behind; the order of the old slots decides the new one.
    if (KORLSzHashCopyAll(hash, grown) < 0) {
        free(grown);
        return nullptr;
    }
    return grown;
}

PKORLSZHASH KORLSzHashGrow(PKORLSZHASH hash, int64_t need)
{
    int64_t slots = hash->nSlot;
    int64_t pool = hash->cbPool;
    bool rebuild = false;
    // Single precision, as the device computes it: the points at which a table grows reach files.
    if (static_cast<float>(hash->nSlot - hash->nUsed) / static_cast<float>(hash->nSlot) < 0.25f) {
        slots = 4 * static_cast<int64_t>(hash->nSlot) - 5;
        rebuild = true;
    }
    if (!(hash->cbPoolFree > need)) {
        int64_t average = hash->nUsed
                              ? static_cast<int64_t>(static_cast<float>(hash->cbPool) / static_cast<float>(hash->nUsed))
                              : need;
        pool = hash->cbPool + need + static_cast<int64_t>(hash->nSlot - hash->nUsed) * average;
        rebuild = true;
    }
    if (!rebuild)
        return hash;
    return KORLSzHashRealloc(hash, slots, pool);
}
