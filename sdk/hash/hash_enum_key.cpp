#include "hash_internal.h"

using namespace korv::hash;

extern "C" int KORLSzHashEnumKey(PKORLSZHASH hash, PKORLSZLIST *plist)
{
    if (!hash)
        return -1;
    if (hash->nUsed == 0)
        return 0;
    int count = 0;
    KORLSZHASHSLOT *slots = Slots(hash);
    for (int i = 0; i < hash->nSlot; i++) {
        if (!slots[i].key)
            continue;
        count++;
        if (plist && KORLSzListPush(plist, At(hash, slots[i].key)) < 0)
            return -1;
    }
    return count;
}
