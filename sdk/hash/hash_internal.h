// Layout of the hash block and the steps of lookup, storing and growth that its functions share.
#pragma once

#include <cstdint>
#include <cstring>

#include "korv/hash.h"

namespace korv::hash {

static_assert(sizeof(KORLSZHASH) == 20, "the hash header is five 32-bit words");
static_assert(sizeof(KORLSZHASHSLOT) == 8, "a slot is two 32-bit offsets");

constexpr int32_t kHeader = 20;
constexpr int32_t kSlotSize = 8;

inline char *Base(PKORLSZHASH h) { return reinterpret_cast<char *>(h); }
inline KORLSZHASHSLOT *Slots(PKORLSZHASH h) { return reinterpret_cast<KORLSZHASHSLOT *>(Base(h) + kHeader); }
inline int32_t PoolStart(PKORLSZHASH h) { return kHeader + kSlotSize * h->nSlot; }
inline char *At(PKORLSZHASH h, int32_t off) { return Base(h) + off; }

// A zero-filled hash of that many slots and pool bytes, or null (0x0200).
PKORLSZHASH NewHash(int64_t slots, int64_t pool);

}  // namespace korv::hash

// Home slot of key: the unsigned sum of its 32-bit little-endian words modulo nSlot; -1 for no key.
int KORLSzHashKeyIndex(const char *key, int nSlot);
// Slot holding key, or -1.
int KORLSzHashFindKey(PKORLSZHASH hash, const char *key);
// Slot holding key, else the first keyless slot of its probe, else -1.
int KORLSzHashFindSlot(PKORLSZHASH hash, const char *key);
// Copies key and value into the pool and points slot at them.
void KORLSzHashStore(PKORLSZHASH hash, int slot, const char *key, const char *value);
// The hash to store need more pool bytes into: hash itself, or a rebuilt copy (hash is not freed).
// Null when the rebuild failed.
PKORLSZHASH KORLSzHashGrow(PKORLSZHASH hash, int64_t need);
// A rebuilt copy with those figures (hash is not freed), or null.
PKORLSZHASH KORLSzHashRealloc(PKORLSZHASH hash, int64_t slots, int64_t pool);
// Stores every entry of src into dst in src's slot order; 0, or -1 when one does not fit.
int KORLSzHashCopyAll(PKORLSZHASH src, PKORLSZHASH dst);
