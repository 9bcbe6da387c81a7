#include <cstdlib>

#include "hash_internal.h"
#include "korv_internal.h"

using namespace korv::hash;

namespace {

// Hands a rebuilt block to the caller. The old one is freed only here, once the new one is complete:
// key and value may point into it, and any failure before must leave the caller's hash as it was.
void Adopt(PKORLSZHASH *phash, PKORLSZHASH target)
{
    if (target != *phash) {
        free(*phash);
        *phash = target;
    }
}

// The slot holds key: a value that is not longer overwrites the old one in place, a longer one
// takes new pool bytes.
int KORLSzHashValueReplace(PKORLSZHASH *phash, int slot, const char *key, const char *value)
{
    PKORLSZHASH hash = *phash;
    char *old = At(hash, Slots(hash)[slot].value);
    size_t vlen = strlen(value);
    if (vlen <= strlen(old)) {
        memmove(old, value, vlen + 1);  // value may overlap the old one
        return slot;
    }
    int64_t need = static_cast<int64_t>(vlen) + 1;
    PKORLSZHASH target = KORLSzHashGrow(hash, need);
    if (!target)
        return -1;
    if (target != hash)
        slot = KORLSzHashFindKey(target, key);
    int32_t at = target->pPoolNext;
    memcpy(At(target, at), value, vlen + 1);
    Slots(target)[slot].value = at;
    target->pPoolNext += static_cast<int32_t>(need);
    target->cbPoolFree -= static_cast<int32_t>(need);
    Adopt(phash, target);
    return slot;
}

// A new key, at the slot for storing (that of the rebuilt table when the hash grows).
int KORLSzHashInsert(PKORLSZHASH *phash, int slot, const char *key, const char *value)
{
    PKORLSZHASH hash = *phash;
    int64_t need = static_cast<int64_t>(strlen(key)) + static_cast<int64_t>(strlen(value)) + 2;
    PKORLSZHASH target = KORLSzHashGrow(hash, need);
    if (!target)
        return -1;
    if (target != hash)
        slot = KORLSzHashFindSlot(target, key);
    if (slot < 0) {
        // Only a table of 2 to 4 slots gets here, its one keyless slot a tombstone on the key's
        // home: the growth test keeps it while a slot is free. A rebuild of the same figures drops
        // the tombstone, and the freed slot is then an empty one the key can take.
        PKORLSZHASH rebuilt = KORLSzHashRealloc(target, target->nSlot, target->cbPool);
        if (target != hash)
            free(target);
        if (!rebuilt)
            return -1;
        target = rebuilt;
        slot = KORLSzHashFindSlot(target, key);
        if (slot < 0) {
            free(target);
            KORV_ERR(KORL_ERR_OTHER);
            return -1;
        }
    }
    KORLSzHashStore(target, slot, key, value);
    Adopt(phash, target);
    return slot;
}

}  // namespace

extern "C" int KORLSzHashSetValue(PKORLSZHASH *phash, const char *key, const char *value)
{
    if (!key || !value || !phash || !*phash)
        return -1;
    PKORLSZHASH hash = *phash;
    int slot = KORLSzHashFindSlot(hash, key);
    if (slot >= 0 && Slots(hash)[slot].key)
        return KORLSzHashValueReplace(phash, slot, key, value);
    return KORLSzHashInsert(phash, slot, key, value);
}
