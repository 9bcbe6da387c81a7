#include "hash_internal.h"

using namespace korv::hash;

extern "C" void KORLSzHashClear(PKORLSZHASH hash)
{
    if (!hash)
        return;
    KORLSZHASHSLOT *slots = Slots(hash);
    for (int i = 0; i < hash->nSlot; i++)
        slots[i].key = 0;
    hash->pPoolNext = PoolStart(hash);
    hash->nUsed = 0;
    hash->cbPoolFree = hash->cbPool;
}
