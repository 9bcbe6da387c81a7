// Tables of 2 to 4 slots, where the growth test never fires while one slot is keyless: a set whose
// only keyless slot is a tombstone on its key's own home must still find room.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hash_test_util.h"
#include "korv/error.h"

using namespace hashtest;

namespace {

struct TinyCase {
    const char *name;
    int slots;
    std::vector<const char *> fill;  // set in this order, each to the value "v" + key
    const char *removed;             // then removed, leaving a tombstone on its home
    const char *key;                 // then set to "new"
    int slot;                        // where it lands
    Keys after;                      // keys in slot order afterwards
};

void PrintTo(const TinyCase &c, std::ostream *os)
{
    *os << c.name;
}

// Single letters: the home slot is the letter's code modulo the slot count.
const TinyCase kTinyCases[] = {
    {"TwoSlotsSameKeyAgain", 2, {"b", "a"}, "a", "a", 1, {"b", "a"}},
    {"TwoSlotsKeyOfTheSameHome", 2, {"b", "a"}, "a", "c", 1, {"b", "c"}},
    {"ThreeSlots", 3, {"c", "a", "b"}, "a", "d", 1, {"c", "d", "b"}},
    {"FourSlots", 4, {"d", "a", "b", "c"}, "b", "f", 2, {"d", "a", "f", "c"}},
    {"FourSlotsFirstSlot", 4, {"d", "a", "b", "c"}, "d", "h", 0, {"h", "a", "b", "c"}},
};

class TinyHash : public testing::TestWithParam<TinyCase> {};

TEST_P(TinyHash, RebuildsInsteadOfRefusing)
{
    const TinyCase &c = GetParam();
    Hash h(PshKORLSzHashAllocator(c.slots, 1000));
    ASSERT_NE(h.ptr, nullptr);
    for (const char *k : c.fill)
        ASSERT_GE(KORLSzHashSetValue(h.addr(), k, (std::string("v") + k).c_str()), 0) << k;
    ASSERT_EQ(h->nSlot, c.slots);
    ASSERT_NE(SzKORLSzHashRemoveKey(h.ptr, c.removed), nullptr);

    KORLErrSet(0);
    EXPECT_EQ(KORLSzHashSetValue(h.addr(), c.key, "new"), c.slot);
    EXPECT_EQ(KORLErrGet(), 0);
    // Rebuilt with its own slot count: the tombstone and the dead pool bytes are gone.
    EXPECT_EQ(h->nSlot, c.slots);
    EXPECT_EQ(keys(h.ptr), c.after);
    EXPECT_EQ(h->nUsed, static_cast<int>(c.after.size()));
    int live = 0;
    for (int i = 0; i < h->nSlot; i++) {
        EXPECT_NE(state(h.ptr, i), SlotState::Tombstone) << i;
        if (const char *k = SzKORLSzHashSlotKey(h.ptr, i))
            live += static_cast<int>(strlen(k) + strlen(SzKORLSzHashSlotValue(h.ptr, i)) + 2);
    }
    EXPECT_EQ(h->cbPoolFree, h->cbPool - live);
    EXPECT_STREQ(SzKORLSzHashGetValue(h.ptr, c.key), "new");
    for (const std::string &k : c.after) {
        if (k != c.key) {
            EXPECT_EQ(std::string(SzKORLSzHashGetValue(h.ptr, k.c_str())), "v" + k);
        }
    }
    EXPECT_EQ(SzKORLSzHashGetValue(h.ptr, c.removed == std::string(c.key) ? "none" : c.removed), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Cases, TinyHash, testing::ValuesIn(kTinyCases),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
