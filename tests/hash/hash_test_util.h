// What the hash tests share: an owner and reading the slots back.
#pragma once

#include <string>
#include <vector>

#include "korv/hash.h"

namespace hashtest {

struct Hash {
    PKORLSZHASH ptr;
    explicit Hash(PKORLSZHASH h) : ptr(h) {}
    Hash(const Hash &) = delete;
    Hash &operator=(const Hash &) = delete;
    ~Hash() { KORLSzHashFree(ptr); }
    PKORLSZHASH *addr() { return &ptr; }
    PKORLSZHASH operator->() const { return ptr; }
};

// Keys in slot order.
inline std::vector<std::string> keys(PKORLSZHASH h)
{
    std::vector<std::string> out;
    for (int i = 0; i < h->nSlot; i++) {
        if (const char *k = SzKORLSzHashSlotKey(h, i))
            out.push_back(k);
    }
    return out;
}

inline int slotOf(PKORLSZHASH h, const std::string &key)
{
    for (int i = 0; i < h->nSlot; i++) {
        const char *k = SzKORLSzHashSlotKey(h, i);
        if (k && key == k)
            return i;
    }
    return -1;
}

enum class SlotState { Empty, Used, Tombstone };

inline SlotState state(PKORLSZHASH h, int i)
{
    const KORLSZHASHSLOT *s = KORLSzHashSlot(h, i);
    return s->key ? SlotState::Used : s->value ? SlotState::Tombstone : SlotState::Empty;
}

using Keys = std::vector<std::string>;

}  // namespace hashtest
