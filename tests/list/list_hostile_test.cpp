// Lists as callers leave them before storing: any sort mode that sorting can record, and texts
// replaced or removed that must not live on in the stored form (old passwords, for one).
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "korv/error.h"
#include "korv/list.h"
#include "list_test_util.h"

using namespace listtest;

namespace {

struct StoreCase {
    const char *name;
    std::function<void(List &)> build;
    Texts items;         // afterwards, in order
    int mode;            // afterwards
    const char *secret;  // bytes that must be gone from the stored form; null: none
    bool scrubbed;       // and from the list's own block
};

void PrintTo(const StoreCase &c, std::ostream *os)
{
    *os << c.name;
}

void sorted(List &l, int mode)
{
    pushAll(l, {"carol", "Alice", "bob"});
    ASSERT_EQ(KORLSzListInsert(l.addr(), 4, "dave"), 4);
    KORLSzListSort(l.ptr, mode);
}

const StoreCase kStoreCases[] = {
    {"ModeByteOrder", [](List &l) { sorted(l, 0x1); }, {"Alice", "bob", "carol", "dave"}, 0x1, nullptr, false},
    {"ModeCaseless", [](List &l) { sorted(l, 0x10); }, {"Alice", "bob", "carol", "dave"}, 0x10, nullptr, false},
    {"ModeBothBits", [](List &l) { sorted(l, 0x11); }, {"Alice", "bob", "carol", "dave"}, 0x11, nullptr, false},
    {"ModeCaselessWithBit1", [](List &l) { sorted(l, 0x12); }, {"Alice", "bob", "carol", "dave"}, 0x12, nullptr, false},
    {"ModeByteOrderWithBit1", [](List &l) { sorted(l, 0x3); }, {"Alice", "bob", "carol", "dave"}, 0x3, nullptr, false},
    {"ModeByteOrderWithBit5", [](List &l) { sorted(l, 0x21); }, {"Alice", "bob", "carol", "dave"}, 0x21, nullptr, false},
    {"ModeWithoutSortBits", [](List &l) { sorted(l, 0x100); }, {"carol", "Alice", "bob", "<gap>", "dave"}, 0x100,
     nullptr, false},
    {"ModeAllBits", [](List &l) { sorted(l, -1); }, {"Alice", "bob", "carol", "dave"}, -1, nullptr, false},
    {"SetShorter",
     [](List &l) {
         pushAll(l, {"a", "hunter2secret", "c"});
         char *item = SzKORLSzListGet(l.ptr, 1);
         ASSERT_EQ(KORLSzListSet(l.addr(), 1, "pw"), 1);
         EXPECT_EQ(item, SzKORLSzListGet(l.ptr, 1));  // in place
     },
     {"a", "pw", "c"}, 0, "secret", true},
    {"SetShorterInSortedList",
     [](List &l) {
         build(l, {"alpha", "secretword", "zulu"}, 1);
         ASSERT_EQ(KORLSzListSet(l.addr(), 1, "zz"), 2);
     },
     {"alpha", "zulu", "zz"}, 1, "retword", true},
    {"SetLonger",
     [](List &l) {
         pushAll(l, {"oldpw", "b"});
         ASSERT_EQ(KORLSzListSet(l.addr(), 0, "a much longer password"), 0);
     },
     {"a much longer password", "b"}, 0, "oldpw", true},
    {"SetLongerGrowing",
     [](List &l) {
         pushAll(l, {"oldpw"});
         ASSERT_EQ(KORLSzListSet(l.addr(), 0, std::string(600, 'n').c_str()), 0);
         EXPECT_EQ(l->cbSize, 1024);
     },
     {std::string(600, 'n')}, 0, "oldpw", true},
    // A removed item stays readable for the caller until the list changes again; the stored form
    // carries only what the list holds.
    {"Remove",
     [](List &l) {
         pushAll(l, {"a", "topsecret", "c"});
         EXPECT_STREQ(SzKORLSzListRemove(l.ptr, 1), "topsecret");
     },
     {"a", "c"}, 0, "topsecret", false},
    {"Pop",
     [](List &l) {
         pushAll(l, {"a", "topsecret"});
         EXPECT_STREQ(SzKORLSzListPop(l.ptr), "topsecret");
     },
     {"a"}, 0, "topsecret", false},
    {"Shift",
     [](List &l) {
         pushAll(l, {"topsecret", "b"});
         KORLSzListSort(l.ptr, 0x10);
         EXPECT_STREQ(SzKORLSzListShift(l.ptr), "b");
         EXPECT_STREQ(SzKORLSzListShift(l.ptr), "topsecret");
         ASSERT_GE(KORLSzListPush(l.addr(), "c"), 0);
     },
     {"c"}, 0x10, "topsecret", false},
};

bool holds(const void *block, size_t size, const char *text)
{
    std::string bytes(static_cast<const char *>(block), size);
    return bytes.find(text) != std::string::npos;
}

class StoredList : public testing::TestWithParam<StoreCase> {};

TEST_P(StoredList, SurvivesPackAndUnpackWithNothingElse)
{
    const StoreCase &c = GetParam();
    List l;
    ASSERT_NO_FATAL_FAILURE(c.build(l));
    EXPECT_EQ(items(l.ptr), c.items);
    EXPECT_EQ(l->sortMode, c.mode);
    EXPECT_TRUE(sound(l.ptr));
    if (c.secret && c.scrubbed) {
        EXPECT_FALSE(holds(l.ptr, static_cast<size_t>(l->cbSize), c.secret));
    }

    auto *stored = static_cast<unsigned char *>(KORVListDBPack(l.ptr, l->cbSize));
    ASSERT_NE(stored, nullptr);
    if (c.secret) {
        EXPECT_FALSE(holds(stored, static_cast<size_t>(l->cbSize), c.secret));
    }
    PKORLSZLIST back = KORVListDBUnpack(stored, l->cbSize);
    ASSERT_NE(back, nullptr) << "korverr " << std::hex << KORLErrGet();
    EXPECT_EQ(items(back), c.items);
    EXPECT_EQ(back->sortMode, c.mode);
    EXPECT_EQ(back->cbFree, l->cbFree);
    EXPECT_EQ(back->pLow, l->pLow);
    EXPECT_TRUE(sound(back));
    EXPECT_TRUE(freeBytesZero(back));
    // Stored again, it gives the same bytes.
    auto *again = static_cast<unsigned char *>(KORVListDBPack(back, back->cbSize));
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(0, std::memcmp(stored, again, static_cast<size_t>(l->cbSize)));
    free(again);
    free(stored);
    KORLSzListFree(back);
}

INSTANTIATE_TEST_SUITE_P(Cases, StoredList, testing::ValuesIn(kStoreCases),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
