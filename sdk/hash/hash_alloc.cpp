#include "hash_internal.h"

extern "C" PKORLSZHASH PshKORLSzHashAlloc(int size)
{
    if (size < KORL_SZHASH_MIN_POOL)
        size = KORL_SZHASH_MIN_POOL;
    return PshKORLSzHashAllocator(KORL_SZHASH_DEFAULT_SLOTS, size);
}
