#include <cstdlib>

#include "hash_internal.h"
#include "korv_internal.h"

using namespace korv::hash;

extern "C" int KORLSzHashSetValue(PKORLSZHASH *phash, const char *key, const char *value)
{
    if (!key || !value || !phash || !*phash)
        return -1;
    PKORLSZHASH hash = *phash;
    size_t vlen = strlen(value);
    int slot = KORLSzHashFindSlot(hash, key);
    bool holds = slot >= 0 && Slots(hash)[slot].key && strcmp(At(hash, Slots(hash)[slot].key), key) == 0;

    if (holds) {
        char *old = At(hash, Slots(hash)[slot].value);
        if (vlen <= strlen(old)) {
            memmove(old, value, vlen + 1);  // value may overlap the old one
            return slot;
        }
    }
    int64_t need = static_cast<int64_t>(vlen) + 1 + (holds ? 0 : static_cast<int64_t>(strlen(key)) + 1);

    // The old block stays until the new one is complete: key and value may point into it, and a
    // failure must leave the caller's hash as it was.
    PKORLSZHASH target = KORLSzHashGrow(hash, need);
    if (!target)
        return -1;
    if (target != hash)
        slot = holds ? KORLSzHashFindKey(target, key) : KORLSzHashFindSlot(target, key);
    if (slot < 0 || target->cbPoolFree < need) {
        // Only a tiny table whose one keyless slot is a tombstone at the key's home gets here.
        if (target != hash)
            free(target);
        KORV_ERR(KORL_ERR_OTHER);
        return -1;
    }

    if (holds) {
        int32_t at = target->pPoolNext;
        memcpy(At(target, at), value, vlen + 1);
        Slots(target)[slot].value = at;
        target->pPoolNext += static_cast<int32_t>(need);
        target->cbPoolFree -= static_cast<int32_t>(need);
    } else {
        KORLSzHashStore(target, slot, key, value);
    }
    if (target != hash) {
        free(hash);
        *phash = target;
    }
    return slot;
}
