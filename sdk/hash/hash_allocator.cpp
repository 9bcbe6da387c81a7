#include <cstdlib>

#include "hash_internal.h"
#include "korv_internal.h"

namespace korv::hash {

PKORLSZHASH NewHash(int64_t slots, int64_t pool)
{
    // Offsets are 32-bit, as the device's pointers are.
    int64_t size = kHeader + kSlotSize * slots + pool;
    if (slots < 0 || pool < 0 || size > INT32_MAX) {
        KORV_ERR(KORL_ERR_NO_MEMORY);
        return nullptr;
    }
    auto *h = static_cast<PKORLSZHASH>(calloc(1, static_cast<size_t>(size)));
    if (!h) {
        KORV_ERR(KORL_ERR_NO_MEMORY);
        return nullptr;
    }
    h->cbPool = static_cast<int32_t>(pool);
    h->cbPoolFree = static_cast<int32_t>(pool);
    h->nSlot = static_cast<int32_t>(slots);
    h->nUsed = 0;
    h->pPoolNext = PoolStart(h);
    return h;
}

}  // namespace korv::hash

extern "C" PKORLSZHASH PshKORLSzHashAllocator(int slots, int pool)
{
    // Growth gives 4 x slots - 5: fewer than 2 would leave no slot at all.
    if (slots < 2 || pool < 0) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return nullptr;
    }
    return korv::hash::NewHash(slots, pool);
}
