#include "hash_internal.h"

using namespace korv::hash;

extern "C" char *SzKORLSzHashGetValue(PKORLSZHASH hash, const char *key)
{
    if (!hash || !key)
        return nullptr;
    int slot = KORLSzHashFindKey(hash, key);
    return slot < 0 ? nullptr : At(hash, Slots(hash)[slot].value);
}
