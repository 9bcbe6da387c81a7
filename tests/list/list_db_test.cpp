#include <fcntl.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "korv/error.h"
#include "korv/list.h"
#include "list_test_util.h"

using namespace listtest;

namespace {

using Bytes = std::vector<unsigned char>;

void putLe32(Bytes &b, size_t at, uint32_t v)
{
    b[at] = v & 0xff;
    b[at + 1] = (v >> 8) & 0xff;
    b[at + 2] = (v >> 16) & 0xff;
    b[at + 3] = (v >> 24) & 0xff;
}

void putText(Bytes &b, size_t at, const char *s) { std::memcpy(b.data() + at, s, std::strlen(s) + 1); }

Bytes pack(PKORLSZLIST l)
{
    auto *p = static_cast<unsigned char *>(KORVListDBPack(l, l->cbSize));
    EXPECT_NE(p, nullptr);
    if (!p)
        return {};
    Bytes out(p, p + l->cbSize);
    free(p);
    return out;
}

// "ab", "cde", a gap, "z", sorted nowhere: the stored form written out by hand.
TEST(ListDBPack, StoredFormByteForByte)
{
    List l;
    pushAll(l, {"ab", "cde"});
    ASSERT_EQ(KORLSzListInsert(l.addr(), 3, "z"), 3);

    Bytes want(512, 0);
    putLe32(want, 0, 512);
    putLe32(want, 4, 4);
    putLe32(want, 8, 488 - 7 - 8 - 2 - 8);
    putLe32(want, 12, 0);
    putLe32(want, 16, 503);
    putLe32(want, 20, 511);
    putLe32(want, 24, 509);
    putLe32(want, 28, 505);
    putLe32(want, 32, 511);  // the gap points at the shared empty string
    putLe32(want, 36, 503);
    putText(want, 503, "z");
    putText(want, 505, "cde");
    putText(want, 509, "ab");
    EXPECT_EQ(pack(l.ptr), want);
}

TEST(ListDBPack, GrownListCarriesNoStaleBytes)
{
    List l;
    for (int i = 0; i < 40; i++)
        ASSERT_GE(KORLSzListPush(l.addr(), "0123456789"), 0);
    ASSERT_EQ(l->cbSize, 1024);
    for (int i = 0; i < 39; i++)
        ASSERT_NE(SzKORLSzListPop(l.ptr), nullptr);
    KORLSzListSort(l.ptr, 1);

    Bytes want(1024, 0);
    putLe32(want, 0, 1024);
    putLe32(want, 4, 1);
    putLe32(want, 8, 1000 - 40 * 11 - 4);
    putLe32(want, 12, 1);
    putLe32(want, 16, 1024 - 40 * 11);
    putLe32(want, 20, 1023);
    putLe32(want, 24, 1024 - 11);
    // The popped items' bytes are still counted as used, but only the live item is stored.
    putText(want, 1024 - 11, "0123456789");
    EXPECT_EQ(pack(l.ptr), want);
}

TEST(ListDBPack, RefusesASizeOtherThanTheBlocks)
{
    List l;
    pushAll(l, {"a"});
    for (int size : {0, -1, 511, 513, 1024}) {
        KORLErrSet(0);
        EXPECT_EQ(KORVListDBPack(l.ptr, size), nullptr) << size;
        EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM) << size;
        EXPECT_STREQ(KORLErrFileGet(), "list_db_pack.cpp");
    }
    KORLErrSet(0);
    EXPECT_EQ(KORVListDBPack(nullptr, 512), nullptr);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
}

TEST(ListDBUnpack, RoundTripKeepsItemsOrderAndMode)
{
    for (int mode : {0, 1, 0x10, 0x11}) {
        List l;
        pushAll(l, {"carol", "Alice", "bob", ""});
        ASSERT_EQ(KORLSzListInsert(l.addr(), 6, "zed"), 6);
        if (mode)
            KORLSzListSort(l.ptr, mode);
        Bytes stored = pack(l.ptr);
        PKORLSZLIST back = KORVListDBUnpack(stored.data(), static_cast<int>(stored.size()));
        ASSERT_NE(back, nullptr) << mode;
        EXPECT_EQ(items(back), items(l.ptr)) << mode;
        EXPECT_EQ(back->sortMode, mode);
        EXPECT_EQ(back->cbFree, l->cbFree);
        EXPECT_EQ(std::memcmp(back, l.ptr, 512), 0);
        // An unpacked list is an ordinary one: it grows and sorts.
        for (int i = 0; i < 50; i++)
            ASSERT_GE(KORLSzListPush(&back, "more text"), 0);
        EXPECT_EQ(back->cbSize, 1024);
        EXPECT_TRUE(sound(back));
        KORLSzListFree(back);
    }
}

struct Damage {
    const char *name;
    std::function<void(Bytes &, int &)> apply;  // may change the bytes and the size given
};

void PrintTo(const Damage &d, std::ostream *os) { *os << d.name; }

class UnpackDamaged : public testing::TestWithParam<Damage> {};

// A sound stored list: "abcdef", "x", "" and a gap, in a block of 512.
Bytes sample()
{
    List l;
    pushAll(l, {"abcdef", "x", ""});
    EXPECT_EQ(KORLSzListInsert(l.addr(), 4, "y"), 4);
    return pack(l.ptr);
}

TEST_P(UnpackDamaged, IsRefused)
{
    Bytes v = sample();
    int size = static_cast<int>(v.size());
    PKORLSZLIST sound = KORVListDBUnpack(v.data(), size);
    ASSERT_NE(sound, nullptr) << "the sample itself must be sound";
    KORLSzListFree(sound);

    GetParam().apply(v, size);
    KORLErrSet(0);
    EXPECT_EQ(KORVListDBUnpack(v.data(), size), nullptr);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_BDB_INVALID);
    EXPECT_STREQ(KORLErrFileGet(), "list_db_unpack.cpp");
}

// Layout of the sample: items at 24.. (abcdef 505, x 503, "" 502, gap 511, y 500), pLow 500.
INSTANTIATE_TEST_SUITE_P(
    Damages, UnpackDamaged,
    testing::Values(
        Damage{"Truncated", [](Bytes &, int &size) { size = 300; }},
        Damage{"HeaderOnly", [](Bytes &, int &size) { size = 24; }},
        Damage{"ShorterThanAHeader", [](Bytes &, int &size) { size = 10; }},
        Damage{"SizeWordDiffers", [](Bytes &b, int &) { putLe32(b, 0, 1024); }},
        Damage{"LastByteNotNul", [](Bytes &b, int &) { b[511] = 'q'; }},
        Damage{"EmptyOffsetWrong", [](Bytes &b, int &) { putLe32(b, 20, 510); }},
        Damage{"CountNegative", [](Bytes &b, int &) { putLe32(b, 4, 0xffffffffu); }},
        Damage{"CountPastTheBlock", [](Bytes &b, int &) { putLe32(b, 4, 0x40000000u); }},
        Damage{"CountIntoTheStrings", [](Bytes &b, int &) { putLe32(b, 4, 120); }},
        Damage{"FreeBytesOverstated", [](Bytes &b, int &) { putLe32(b, 8, 4000); }},
        Damage{"FreeBytesUnderstated", [](Bytes &b, int &) { putLe32(b, 8, 10); }},
        Damage{"LowBelowTheItems", [](Bytes &b, int &) { putLe32(b, 16, 30); }},
        Damage{"LowPastTheEnd", [](Bytes &b, int &) { putLe32(b, 16, 600); }},
        Damage{"ItemPastTheEnd", [](Bytes &b, int &) { putLe32(b, 24, 512); }},
        Damage{"ItemFarOutside", [](Bytes &b, int &) { putLe32(b, 28, 0x7fff0000u); }},
        Damage{"ItemNegative", [](Bytes &b, int &) { putLe32(b, 28, 0xfffffff0u); }},
        Damage{"ItemIntoTheHeader", [](Bytes &b, int &) { putLe32(b, 28, 4); }},
        Damage{"ItemIntoTheFreeBytes", [](Bytes &b, int &) { putLe32(b, 28, 300); }},
        // Two items on one copy claim more string bytes than the block holds.
        Damage{"ItemsShareACopy", [](Bytes &b, int &) { putLe32(b, 28, 505); putLe32(b, 32, 505); }},
        Damage{"SmallerThanAnyList", [](Bytes &b, int &size) {
                   // A consistent block of 256 bytes that no list function makes.
                   Bytes s(256, 0);
                   putLe32(s, 0, 256);
                   putLe32(s, 8, 232);
                   putLe32(s, 16, 256);
                   putLe32(s, 20, 255);
                   b = s;
                   size = 256;
               }}),
    [](const testing::TestParamInfo<Damage> &i) { return std::string(i.param.name); });

TEST(ListDBUnpack, RefusesNullAndZeroSize)
{
    Bytes v = sample();
    for (int size : {0, -5}) {
        KORLErrSet(0);
        EXPECT_EQ(KORVListDBUnpack(v.data(), size), nullptr);
        EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
    }
    KORLErrSet(0);
    EXPECT_EQ(KORVListDBUnpack(nullptr, 512), nullptr);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
}

TEST(ListRealloc, GrowsAndFreesOnZero)
{
    void *p = KORLRealloc(nullptr, 16);
    ASSERT_NE(p, nullptr);
    std::memset(p, 'x', 16);
    p = KORLRealloc(p, 4096);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(static_cast<char *>(p)[15], 'x');
    EXPECT_EQ(KORLRealloc(p, 0), nullptr);  // freed: ASan reports a leak otherwise
    EXPECT_EQ(KORLRealloc(nullptr, 0), nullptr);
}

}  // namespace

namespace {

TEST(ListDBSet, StoredUnderUpperCasedSectionAndReplaced)
{
    KORVBDB *store = KORVBDbOpen("/tmp/.db.list.0947", O_RDWR | O_CREAT, 1);
    ASSERT_NE(store, nullptr);
    List first;
    pushAll(first, {"alice", "bob"});
    KORLSzListSort(first.ptr, KORL_SZLIST_SORT);
    ASSERT_EQ(0, KORVListDBSet(store, "homes-é", first.ptr));
    List second;
    pushAll(second, {"carol"});
    // A marker key: even in a store with duplicates the second list replaces the first.
    ASSERT_EQ(0, KORVListDBSet(store, "Homes-é", second.ptr));

    ASSERT_EQ(0, KORVBDbCursorSetType(store, KORV_BDB_CURSOR_FIRST));
    void *key = nullptr, *value = nullptr;
    int cbKey = 0, cbValue = 0;
    ASSERT_EQ(0, KORVBDbCursorGet(store, 0, &key, &cbKey, &value, &cbValue));
    // Only a to z are upper-cased; the NUL is part of the key.
    EXPECT_EQ(std::string("#HOMES-\xC3\xA9\0", 10), std::string(static_cast<char *>(key), cbKey));
    EXPECT_EQ(second->cbSize, cbValue);
    PKORLSZLIST back = KORVListDBUnpack(value, cbValue);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(std::vector<std::string>{"carol"}, items(back));
    KORLSzListFree(back);
    ASSERT_EQ(0, KORVBDbCursorSetType(store, KORV_BDB_CURSOR_NEXT));
    EXPECT_EQ(-1, KORVBDbCursorGet(store, 0, &key, &cbKey, &value, &cbValue));
    EXPECT_EQ(KORL_ERR_BDB_END, KORLErrGet());

    KORLErrSet(0x7700);
    EXPECT_EQ(-1, KORVListDBSet(nullptr, "s", second.ptr));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    EXPECT_EQ(-1, KORVListDBSet(store, nullptr, second.ptr));
    EXPECT_EQ(-1, KORVListDBSet(store, "s", nullptr));
    KORVBDbFree(key);
    KORVBDbFree(value);
    KORVBDbClose(store);
}

}  // namespace
