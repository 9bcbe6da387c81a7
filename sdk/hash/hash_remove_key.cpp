#include "hash_internal.h"

using namespace korv::hash;

extern "C" char *SzKORLSzHashRemoveKey(PKORLSZHASH hash, const char *key)
{
    if (!hash || !key)
        return nullptr;
    int slot = KORLSzHashFindKey(hash, key);
    if (slot < 0)
        return nullptr;
    // The slot keeps its value offset: a tombstone, which lookups probe past.
    Slots(hash)[slot].key = 0;
    hash->nUsed--;
    return At(hash, Slots(hash)[slot].value);
}
