#include <climits>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "hash/hash_internal.h"
#include "hash_test_util.h"
#include "korv/error.h"

using namespace hashtest;

namespace {

struct HomeCase {
    const char *name;
    const char *key;
    int slot;
};

void PrintTo(const HomeCase &c, std::ostream *os) { *os << c.name; }

class HomeSlot : public testing::TestWithParam<HomeCase> {};

// In an empty table a key lands on its home slot.
TEST_P(HomeSlot, SumOfLittleEndianWordsModuloSlots)
{
    Hash h(PshKORLSzHashAlloc(0));
    ASSERT_NE(h.ptr, nullptr);
    EXPECT_EQ(KORLSzHashSetValue(h.addr(), GetParam().key, "v"), GetParam().slot);
    EXPECT_EQ(slotOf(h.ptr, GetParam().key), GetParam().slot);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, HomeSlot,
    testing::Values(HomeCase{"a", "a", 4}, HomeCase{"ab", "ab", 13}, HomeCase{"abc", "abc", 25},
                    HomeCase{"abcd", "abcd", 13}, HomeCase{"abcde", "abcde", 21}, HomeCase{"admin", "admin", 22},
                    HomeCase{"guest", "guest", 4}, HomeCase{"users", "users", 16}, HomeCase{"empty", "", 0},
                    // Unsigned words: a signed sum would give a negative slot here.
                    HomeCase{"HighBytes", "\xff\xff\xff\xff", 3},
                    HomeCase{"SumWraps", "\xff\xff\xff\xff\x01", 0}),
    [](const testing::TestParamInfo<HomeCase> &i) { return std::string(i.param.name); });

TEST(HashAlloc, DefaultFigures)
{
    for (int size : {0, -1, 100, 512}) {
        Hash h(PshKORLSzHashAlloc(size));
        ASSERT_NE(h.ptr, nullptr);
        EXPECT_EQ(h->nSlot, 31);
        EXPECT_EQ(h->cbPool, 512);
        EXPECT_EQ(h->cbPoolFree, 512);
        EXPECT_EQ(h->nUsed, 0);
        EXPECT_EQ(h->pPoolNext, 20 + 8 * 31);
        for (int i = 0; i < 31; i++)
            EXPECT_EQ(state(h.ptr, i), SlotState::Empty);
    }
    Hash big(PshKORLSzHashAlloc(4000));
    EXPECT_EQ(big->cbPool, 4000);
}

TEST(HashAllocator, ExactFiguresAndRefusals)
{
    Hash h(PshKORLSzHashAllocator(7, 40));
    ASSERT_NE(h.ptr, nullptr);
    EXPECT_EQ(h->nSlot, 7);
    EXPECT_EQ(h->cbPool, 40);
    EXPECT_EQ(h->pPoolNext, 20 + 8 * 7);
    Hash two(PshKORLSzHashAllocator(2, 0));
    ASSERT_NE(two.ptr, nullptr);
    EXPECT_GE(KORLSzHashSetValue(two.addr(), "a", "1"), 0);  // an empty pool grows
    EXPECT_STREQ(SzKORLSzHashGetValue(two.ptr, "a"), "1");

    for (auto [slots, pool] : std::vector<std::pair<int, int>>{{1, 100}, {0, 100}, {-3, 100}, {31, -1}}) {
        KORLErrSet(0);
        EXPECT_EQ(PshKORLSzHashAllocator(slots, pool), nullptr) << slots << "," << pool;
        EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
        EXPECT_STREQ(KORLErrFileGet(), "hash_allocator.cpp");
    }
    KORLErrSet(0);
    EXPECT_EQ(PshKORLSzHashAllocator(INT_MAX, 100), nullptr);  // past what 32-bit offsets reach
    EXPECT_EQ(KORLErrGet(), KORL_ERR_NO_MEMORY);
}

TEST(HashOrder, CollidingKeysFollowTheOrderOfSetting)
{
    Hash h(PshKORLSzHashAlloc(0));
    EXPECT_EQ(KORLSzHashSetValue(h.addr(), "a", "1"), 4);
    EXPECT_EQ(KORLSzHashSetValue(h.addr(), "guest", "2"), 5);
    EXPECT_EQ(keys(h.ptr), (Keys{"a", "guest"}));

    Hash r(PshKORLSzHashAlloc(0));
    EXPECT_EQ(KORLSzHashSetValue(r.addr(), "guest", "2"), 4);
    EXPECT_EQ(KORLSzHashSetValue(r.addr(), "a", "1"), 5);
    EXPECT_EQ(keys(r.ptr), (Keys{"guest", "a"}));
    // The probe wraps from the last slot to the first.
    Hash w(PshKORLSzHashAllocator(3, 100));
    EXPECT_EQ(KORLSzHashSetValue(w.addr(), "b", "1"), 98 % 3);
    EXPECT_EQ(KORLSzHashSetValue(w.addr(), "e", "1"), 0);  // 101 % 3 = 2, taken by "b"
    EXPECT_STREQ(SzKORLSzHashGetValue(w.ptr, "e"), "1");
}

struct GrowthCase {
    int keys;  // keys set in all
    int slots; // slot count after
};

void PrintTo(const GrowthCase &c, std::ostream *os) { *os << c.keys << "keys"; }

class GrowthPoint : public testing::TestWithParam<GrowthCase> {};

std::string nth(int i) { return "key" + std::to_string(1000 + i); }

TEST_P(GrowthPoint, TableGrowsWhenFewerThanAQuarterAreFree)
{
    Hash h(PshKORLSzHashAlloc(1 << 20));  // a pool that never needs to grow
    for (int i = 0; i < GetParam().keys; i++) {
        int slot = KORLSzHashSetValue(h.addr(), nth(i).c_str(), "v");
        ASSERT_GE(slot, 0);
        // The index is that of the table the key now sits in.
        ASSERT_EQ(slotOf(h.ptr, nth(i)), slot) << i;
    }
    EXPECT_EQ(h->nSlot, GetParam().slots);
    EXPECT_EQ(h->nUsed, GetParam().keys);
    for (int i = 0; i < GetParam().keys; i++)
        ASSERT_STREQ(SzKORLSzHashGetValue(h.ptr, nth(i).c_str()), "v") << i;
}

INSTANTIATE_TEST_SUITE_P(Points, GrowthPoint,
                         testing::Values(GrowthCase{24, 31}, GrowthCase{25, 119}, GrowthCase{90, 119},
                                         GrowthCase{91, 471}, GrowthCase{354, 471}, GrowthCase{355, 1879}));

TEST(HashGrowth, TheSettingThatGrowsReturnsTheNewTablesSlotAndMovesTheBlock)
{
    Hash h(PshKORLSzHashAlloc(1 << 16));
    for (int i = 0; i < 24; i++)
        ASSERT_GE(KORLSzHashSetValue(h.addr(), nth(i).c_str(), "v"), 0);
    ASSERT_EQ(h->nSlot, 31);
    PKORLSZHASH old = h.ptr;
    int slot = KORLSzHashSetValue(h.addr(), "admin", "x");
    EXPECT_NE(h.ptr, old);
    EXPECT_EQ(h->nSlot, 119);
    EXPECT_EQ(slot, KORLSzHashKeyIndex("admin", 119));
    EXPECT_EQ(slotOf(h.ptr, "admin"), slot);
}

// A value that is not longer never grows the table; a longer one runs the whole growth check.
TEST(HashGrowth, LongerValueWhileFewerThanAQuarterAreFreeGrowsTheTable)
{
    Hash h(PshKORLSzHashAlloc(1 << 16));
    for (int i = 0; i < 24; i++)
        ASSERT_GE(KORLSzHashSetValue(h.addr(), nth(i).c_str(), "v"), 0);
    EXPECT_EQ(KORLSzHashSetValue(h.addr(), nth(2).c_str(), "w"), slotOf(h.ptr, nth(2)));
    ASSERT_EQ(h->nSlot, 31);
    int slot = KORLSzHashSetValue(h.addr(), nth(3).c_str(), "vv");
    EXPECT_EQ(h->nSlot, 119);
    EXPECT_EQ(h->nUsed, 24);
    EXPECT_EQ(slot, slotOf(h.ptr, nth(3)));
    EXPECT_STREQ(SzKORLSzHashGetValue(h.ptr, nth(3).c_str()), "vv");
    EXPECT_STREQ(SzKORLSzHashGetValue(h.ptr, nth(2).c_str()), "w");
}

// A table of 119 slots with this pool would pass what 32-bit offsets reach, so the rebuild fails;
// the pool's pages beyond the first few are never touched.
TEST(HashGrowth, FailedRebuildLeavesTheHashAsItWas)
{
    Hash h(PshKORLSzHashAllocator(31, INT_MAX - 20 - 8 * 31));
    ASSERT_NE(h.ptr, nullptr);
    for (int i = 0; i < 24; i++)
        ASSERT_GE(KORLSzHashSetValue(h.addr(), nth(i).c_str(), "v"), 0);
    PKORLSZHASH before = h.ptr;
    int next = h->pPoolNext;
    Keys was = keys(h.ptr);

    for (auto [key, value] : std::vector<std::pair<std::string, const char *>>{{"admin", "x"}, {nth(0), "longer"}}) {
        KORLErrSet(0);
        EXPECT_EQ(KORLSzHashSetValue(h.addr(), key.c_str(), value), -1) << key;
        EXPECT_EQ(KORLErrGet(), KORL_ERR_NO_MEMORY);
        EXPECT_STREQ(KORLErrFileGet(), "hash_allocator.cpp");
        EXPECT_EQ(h.ptr, before);
        EXPECT_EQ(h->nSlot, 31);
        EXPECT_EQ(h->nUsed, 24);
        EXPECT_EQ(h->pPoolNext, next);
        EXPECT_EQ(keys(h.ptr), was);
    }
    EXPECT_EQ(SzKORLSzHashGetValue(h.ptr, "admin"), nullptr);
    EXPECT_STREQ(SzKORLSzHashGetValue(h.ptr, nth(0).c_str()), "v");
}

// The rebuild walks the old slots in index order: of two keys that share a home in the new
// table, the one in the lower old slot comes first, whatever order they were set in.
TEST(HashGrowth, RebuildStoresInTheOldSlotOrder)
{
    std::string x, y;
    for (int i = 0; i < 200 && x.empty(); i++) {
        for (int j = 0; j < 200; j++) {
            std::string p = "x" + std::to_string(i), q = "y" + std::to_string(j);
            if (KORLSzHashKeyIndex(p.c_str(), 119) == KORLSzHashKeyIndex(q.c_str(), 119) &&
                KORLSzHashKeyIndex(q.c_str(), 31) < KORLSzHashKeyIndex(p.c_str(), 31)) {
                x = p;
                y = q;
                break;
            }
        }
    }
    ASSERT_FALSE(x.empty());
    int home = KORLSzHashKeyIndex(x.c_str(), 119);

    Hash h(PshKORLSzHashAlloc(1 << 16));
    ASSERT_EQ(KORLSzHashSetValue(h.addr(), x.c_str(), "first"), KORLSzHashKeyIndex(x.c_str(), 31));
    ASSERT_EQ(KORLSzHashSetValue(h.addr(), y.c_str(), "second"), KORLSzHashKeyIndex(y.c_str(), 31));
    // Fillers whose new homes lie far from the shared one, so that even one run of all of them
    // cannot reach it.
    int added = 2;
    for (int i = 0; added < 25; i++) {
        std::string f = "f" + std::to_string(i);
        int fh = KORLSzHashKeyIndex(f.c_str(), 119);
        int distance = (fh - home + 119) % 119;
        if (distance < 30 || distance > 90)
            continue;
        ASSERT_GE(KORLSzHashSetValue(h.addr(), f.c_str(), "f"), 0);
        added++;
    }
    ASSERT_EQ(h->nSlot, 119);
    EXPECT_EQ(slotOf(h.ptr, y), home);
    EXPECT_EQ(slotOf(h.ptr, x), (home + 1) % 119);
}

struct PoolCase {
    const char *name;
    int pool;
    std::vector<std::pair<const char *, const char *>> sets;
    int cbPool;
    int cbPoolFree;
};

void PrintTo(const PoolCase &c, std::ostream *os) { *os << c.name; }

class PoolGrowth : public testing::TestWithParam<PoolCase> {};

TEST_P(PoolGrowth, PoolGrowsByTheAverageEntryPerFreeSlot)
{
    const PoolCase &c = GetParam();
    Hash h(PshKORLSzHashAllocator(31, c.pool));
    for (auto [k, v] : c.sets)
        ASSERT_GE(KORLSzHashSetValue(h.addr(), k, v), 0) << k;
    EXPECT_EQ(h->cbPool, c.cbPool);
    EXPECT_EQ(h->cbPoolFree, c.cbPoolFree);
    EXPECT_EQ(h->nSlot, 31);
    EXPECT_EQ(h->pPoolNext, 20 + 8 * 31 + c.cbPool - c.cbPoolFree);
    for (auto [k, v] : c.sets)
        EXPECT_NE(SzKORLSzHashGetValue(h.ptr, k), nullptr) << k;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PoolGrowth,
    testing::Values(
        // 2 > 4 fails: 10 + 4 + 29 x (10 / 2); the live 8 bytes are copied, then "c=3".
        PoolCase{"AverageOfTwo", 10, {{"a", "1"}, {"b", "2"}, {"c", "3"}}, 159, 147},
        // Exactly as many free bytes as needed is not enough.
        PoolCase{"FreeEqualsNeed", 8, {{"a", "1"}, {"b", "2"}}, 252, 244},
        // No key yet: the average is the need itself.
        PoolCase{"EmptyHash", 2, {{"a", "1"}}, 130, 126},
        // 13 / 3 in single precision, truncated to 4.
        PoolCase{"AverageTruncated", 13, {{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", "4"}}, 129, 113},
        // A longer value needs only its own bytes; the old "1" is left behind by the rebuild.
        PoolCase{"LongerValue", 6, {{"a", "1"}, {"a", "22"}}, 189, 182},
        PoolCase{"NoGrowth", 100, {{"a", "1"}, {"b", "22"}}, 100, 91}),
    [](const testing::TestParamInfo<PoolCase> &i) { return std::string(i.param.name); });

TEST(HashRebuild, DropsTombstonesAndDeadBytes)
{
    Hash h(PshKORLSzHashAllocator(31, 40));
    ASSERT_GE(KORLSzHashSetValue(h.addr(), "a", "1"), 0);
    ASSERT_GE(KORLSzHashSetValue(h.addr(), "gone", "xxxxxxxx"), 0);
    ASSERT_NE(SzKORLSzHashRemoveKey(h.ptr, "gone"), nullptr);
    ASSERT_EQ(h->cbPoolFree, 40 - 4 - 14);
    // 22 > 23 fails: 40 + 23 + 30 x 40, holding "a=1" and the new entry.
    ASSERT_GE(KORLSzHashSetValue(h.addr(), "b", std::string(20, 'v').c_str()), 0);
    EXPECT_EQ(h->cbPool, 40 + 23 + 30 * 40);
    EXPECT_EQ(h->cbPoolFree, h->cbPool - 4 - 23);
    EXPECT_EQ(h->nUsed, 2);
    for (int i = 0; i < h->nSlot; i++)
        EXPECT_NE(state(h.ptr, i), SlotState::Tombstone) << i;
}

TEST(HashTombstone, KeyAtItsHomeIsStoredAfterItWhenSetAgain)
{
    Hash h(PshKORLSzHashAlloc(0));
    ASSERT_EQ(KORLSzHashSetValue(h.addr(), "a", "1"), 4);
    EXPECT_STREQ(SzKORLSzHashRemoveKey(h.ptr, "a"), "1");
    EXPECT_EQ(state(h.ptr, 4), SlotState::Tombstone);
    EXPECT_EQ(h->nUsed, 0);
    EXPECT_EQ(SzKORLSzHashGetValue(h.ptr, "a"), nullptr);
    EXPECT_EQ(KORLSzHashSetValue(h.addr(), "a", "2"), 5);
    EXPECT_STREQ(SzKORLSzHashGetValue(h.ptr, "a"), "2");
}

TEST(HashTombstone, DisplacedKeyReusesItsOwnTombstone)
{
    Hash h(PshKORLSzHashAlloc(0));
    ASSERT_EQ(KORLSzHashSetValue(h.addr(), "a", "1"), 4);
    ASSERT_EQ(KORLSzHashSetValue(h.addr(), "guest", "2"), 5);
    ASSERT_NE(SzKORLSzHashRemoveKey(h.ptr, "guest"), nullptr);
    EXPECT_EQ(KORLSzHashSetValue(h.addr(), "guest", "3"), 5);
    // A lookup probes past a tombstone to a key behind it.
    ASSERT_NE(SzKORLSzHashRemoveKey(h.ptr, "a"), nullptr);
    EXPECT_STREQ(SzKORLSzHashGetValue(h.ptr, "guest"), "3");
    EXPECT_EQ(SzKORLSzHashRemoveKey(h.ptr, "a"), nullptr);
}

TEST(HashClear, EveryUsedSlotBecomesATombstone)
{
    Hash h(PshKORLSzHashAllocator(4, 100));
    for (const char *k : {"k1", "k2", "k3", "k4"})
        ASSERT_GE(KORLSzHashSetValue(h.addr(), k, "v"), 0);
    ASSERT_EQ(h->nSlot, 4);  // 1 of 4 free is not below a quarter: the table is full
    EXPECT_EQ(SzKORLSzHashGetValue(h.ptr, "absent"), nullptr);  // a full circle ends the probe

    KORLSzHashClear(h.ptr);
    EXPECT_EQ(h->nUsed, 0);
    EXPECT_EQ(h->cbPoolFree, 100);
    EXPECT_EQ(h->pPoolNext, 20 + 8 * 4);
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(state(h.ptr, i), SlotState::Tombstone);
    EXPECT_EQ(SzKORLSzHashGetValue(h.ptr, "k1"), nullptr);
    int home = KORLSzHashKeyIndex("k1", 4);
    EXPECT_EQ(KORLSzHashSetValue(h.addr(), "k1", "w"), (home + 1) % 4);
    EXPECT_STREQ(SzKORLSzHashGetValue(h.ptr, "k1"), "w");
    KORLSzHashClear(nullptr);
}

TEST(HashSet, ReplacingAValue)
{
    Hash h(PshKORLSzHashAlloc(0));
    ASSERT_EQ(KORLSzHashSetValue(h.addr(), "admin", "abc"), 22);
    char *v = SzKORLSzHashGetValue(h.ptr, "admin");
    int free0 = h->cbPoolFree;
    EXPECT_EQ(KORLSzHashSetValue(h.addr(), "admin", "xyz"), 22);
    EXPECT_EQ(SzKORLSzHashGetValue(h.ptr, "admin"), v);
    EXPECT_EQ(KORLSzHashSetValue(h.addr(), "admin", "q"), 22);
    EXPECT_EQ(SzKORLSzHashGetValue(h.ptr, "admin"), v);
    EXPECT_EQ(h->cbPoolFree, free0);
    EXPECT_EQ(KORLSzHashSetValue(h.addr(), "admin", "longer"), 22);
    EXPECT_NE(SzKORLSzHashGetValue(h.ptr, "admin"), v);
    EXPECT_STREQ(SzKORLSzHashGetValue(h.ptr, "admin"), "longer");
    EXPECT_EQ(h->cbPoolFree, free0 - 7);
    EXPECT_EQ(h->nUsed, 1);
}

// Texts taken from the hash itself must still be read when the setting rebuilds it.
TEST(HashSet, TextsFromTheHashItselfSurviveTheRebuild)
{
    Hash h(PshKORLSzHashAlloc(0));
    std::string big(100, 'b');
    ASSERT_GE(KORLSzHashSetValue(h.addr(), "source", big.c_str()), 0);
    for (int i = 0; i < 23; i++)
        ASSERT_GE(KORLSzHashSetValue(h.addr(), nth(i).c_str(), "v"), 0);
    ASSERT_EQ(h->nSlot, 31);
    EXPECT_GE(KORLSzHashSetValue(h.addr(), "copy", SzKORLSzHashGetValue(h.ptr, "source")), 0);
    ASSERT_EQ(h->nSlot, 119);
    EXPECT_EQ(SzKORLSzHashGetValue(h.ptr, "copy"), big);

    // A key read from a slot, given a value too long for the pool left.
    int slot = slotOf(h.ptr, "source");
    std::string longer(h->cbPoolFree + 10, 'L');
    int placed = KORLSzHashSetValue(h.addr(), SzKORLSzHashSlotKey(h.ptr, slot), longer.c_str());
    EXPECT_GE(placed, 0);
    EXPECT_EQ(placed, slotOf(h.ptr, "source"));
    EXPECT_EQ(SzKORLSzHashGetValue(h.ptr, "source"), longer);
    EXPECT_EQ(SzKORLSzHashGetValue(h.ptr, "copy"), big);
}

TEST(HashSet, BadArgumentsRecordNothing)
{
    Hash h(PshKORLSzHashAlloc(0));
    PKORLSZHASH none = nullptr;
    KORLErrSet(0x4000);
    EXPECT_EQ(KORLSzHashSetValue(nullptr, "k", "v"), -1);
    EXPECT_EQ(KORLSzHashSetValue(&none, "k", "v"), -1);
    EXPECT_EQ(KORLSzHashSetValue(h.addr(), nullptr, "v"), -1);
    EXPECT_EQ(KORLSzHashSetValue(h.addr(), "k", nullptr), -1);
    EXPECT_EQ(SzKORLSzHashGetValue(nullptr, "k"), nullptr);
    EXPECT_EQ(SzKORLSzHashGetValue(h.ptr, nullptr), nullptr);
    EXPECT_EQ(SzKORLSzHashRemoveKey(nullptr, "k"), nullptr);
    EXPECT_EQ(SzKORLSzHashRemoveKey(h.ptr, nullptr), nullptr);
    EXPECT_EQ(SzKORLSzHashRemoveKey(h.ptr, "k"), nullptr);
    EXPECT_EQ(KORLErrGet(), 0x4000);
    EXPECT_EQ(h->nUsed, 0);
}

TEST(HashEnumKey, CountsAndListsKeysInSlotOrder)
{
    Hash h(PshKORLSzHashAlloc(0));
    EXPECT_EQ(KORLSzHashEnumKey(h.ptr, nullptr), 0);
    for (const char *k : {"users", "guest", "a", "admin"})
        ASSERT_GE(KORLSzHashSetValue(h.addr(), k, "v"), 0);
    EXPECT_EQ(KORLSzHashEnumKey(h.ptr, nullptr), 4);

    PKORLSZLIST list = PslKORLSzListAlloc(0);
    ASSERT_GE(KORLSzListPush(&list, "kept"), 0);
    EXPECT_EQ(KORLSzHashEnumKey(h.ptr, &list), 4);
    std::vector<std::string> got;
    for (int i = 0; i < list->nItem; i++)
        got.push_back(SzKORLSzListGet(list, i));
    // guest 4, a 5 (displaced), users 16, admin 22.
    EXPECT_EQ(got, (Keys{"kept", "guest", "a", "users", "admin"}));
    KORLSzListFree(list);

    EXPECT_EQ(KORLSzHashEnumKey(nullptr, nullptr), -1);
    PKORLSZLIST none = nullptr;
    EXPECT_EQ(KORLSzHashEnumKey(h.ptr, &none), -1);
}

}  // namespace
