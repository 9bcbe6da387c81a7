#include <string>

#include <gtest/gtest.h>

#include "korv/error.h"
#include "korv/list.h"
#include "list_test_util.h"

using namespace listtest;

namespace {

struct OrCase {
    const char *name;
    Texts first;
    int firstMode;
    Texts second;
    int secondMode;
    int flags;
    Texts result;
    int resultMode;
};

void PrintTo(const OrCase &c, std::ostream *os) { *os << c.name; }

class Union : public testing::TestWithParam<OrCase> {};

TEST_P(Union, GivesTheItemsInTheirOrder)
{
    const OrCase &c = GetParam();
    List first;
    build(first, c.first, c.firstMode);
    List second;
    build(second, c.second, c.secondMode);
    Texts firstBefore = items(first.ptr);

    PKORLSZLIST r = PslKORLSzListOr(first.addr(), second.ptr, c.flags);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(items(r), c.result);
    EXPECT_EQ(r->sortMode, c.resultMode);
    EXPECT_TRUE(sound(r));
    EXPECT_EQ(items(second.ptr), c.second);
    if (c.flags == KORL_SZLIST_OR_NEW) {
        EXPECT_NE(r, first.ptr);
        EXPECT_EQ(items(first.ptr), firstBefore);
        KORLSzListFree(r);
    } else {
        EXPECT_EQ(r, first.ptr);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Union,
    testing::Values(
        OrCase{"UnsortedInSortedInPlace", {"a", "b", "c"}, 0, {"b", "d"}, 1, 0, {"a", "c", "b", "d"}, 0},
        OrCase{"UnsortedInSortedNew", {"a", "b", "c"}, 0, {"b", "d"}, 1, 0x1000, {"b", "d", "a", "c"}, 0},
        // Any other in-place flags leave the first list's items that the second holds.
        OrCase{"UnsortedInSortedOtherFlags", {"a", "b", "c"}, 0, {"b", "d"}, 1, 2, {"a", "b", "c", "b", "d"}, 0},
        OrCase{"UnsortedInCaselessInPlace", {"Bob", "x"}, 0, {"alice", "bob"}, 0x10, 0, {"x", "alice", "bob"}, 0},
        // In place the scan sees the items appended during the call; a new result does not.
        OrCase{"BothUnsortedInPlace", {"a", "b"}, 0, {"b", "c", "c"}, 0, 0, {"a", "b", "c"}, 0},
        OrCase{"BothUnsortedNew", {"a", "b"}, 0, {"b", "c", "c"}, 0, 0x1000, {"a", "b", "c", "c"}, 0},
        OrCase{"GapsSkippedInPlace", {"<gap>", "a"}, 0, {"<gap>", "b"}, 0, 0, {"a", "b"}, 0},
        OrCase{"GapsSkippedNew", {"<gap>", "a"}, 0, {"<gap>", "a", "b"}, 0, 0x1000, {"a", "b"}, 0},
        OrCase{"SortedWithUnsortedInPlace", {"a", "c"}, 1, {"d", "b", "a"}, 0, 0, {"a", "b", "c", "d"}, 1},
        OrCase{"SortedWithUnsortedNew", {"a", "c"}, 1, {"d", "b", "a"}, 0, 0x1000, {"a", "c", "d", "b"}, 0},
        OrCase{"CaselessWithUnsortedInPlace", {"Alice", "carol"}, 0x10, {"ALICE", "Bob"}, 0, 0,
               {"Alice", "Bob", "carol"}, 0x10},
        OrCase{"BothSortedInPlace", {"a", "c", "e"}, 1, {"b", "c", "f"}, 1, 0, {"a", "b", "c", "e", "f"}, 1},
        OrCase{"BothSortedNew", {"a", "c", "e"}, 1, {"b", "c", "f"}, 1, 0x1000, {"a", "b", "c", "e", "f"}, 1},
        OrCase{"BothCaselessInPlace", {"Alice", "carol"}, 0x10, {"ALICE", "bob", "dave"}, 0x10, 0,
               {"Alice", "bob", "carol", "dave"}, 0x10},
        OrCase{"BothCaselessNew", {"Alice", "carol"}, 0x10, {"ALICE", "bob"}, 0x10, 0x1000,
               {"Alice", "bob", "carol"}, 0x10},
        OrCase{"EmptyFirst", {}, 0, {"b", "a"}, 0, 0, {"b", "a"}, 0},
        OrCase{"EmptySecondSorted", {"b", "a"}, 0, {}, 1, 0x1000, {"b", "a"}, 0}),
    [](const testing::TestParamInfo<OrCase> &i) { return std::string(i.param.name); });

TEST(ListOr, RefusesMixedSortedModesAndBadArguments)
{
    List a;
    build(a, {"a"}, 1);
    List b;
    build(b, {"b"}, 0x10);
    for (int flags : {0, 0x1000}) {
        KORLErrSet(0);
        EXPECT_EQ(PslKORLSzListOr(a.addr(), b.ptr, flags), nullptr);
        EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
        EXPECT_STREQ(KORLErrFileGet(), "list_or.cpp");
    }
    EXPECT_EQ(items(a.ptr), (Texts{"a"}));
    KORLErrSet(0);
    EXPECT_EQ(PslKORLSzListOr(nullptr, b.ptr, 0), nullptr);
    EXPECT_EQ(PslKORLSzListOr(a.addr(), nullptr, 0), nullptr);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
}

TEST(ListOr, UnknownSortModeFails)
{
    List a;
    build(a, {"a"}, 0);
    List b;
    build(b, {"b"}, 2);  // records mode 2 without sorting
    EXPECT_EQ(PslKORLSzListOr(a.addr(), b.ptr, 0x1000), nullptr);
    KORLErrSet(0);
    EXPECT_EQ(PslKORLSzListOr(a.addr(), b.ptr, 0), nullptr);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
    EXPECT_TRUE(sound(a.ptr));
}

// Text that is not UTF-8 makes the caseless comparison fail, and with it the merge of two caseless lists.
TEST(ListOr, FailingCaselessComparisonFailsTheMerge)
{
    List a;
    build(a, {"\xff\xfe"}, 0x10);
    List b;
    build(b, {"alice"}, 0x10);
    EXPECT_EQ(PslKORLSzListOr(a.addr(), b.ptr, 0x1000), nullptr);
    EXPECT_EQ(PslKORLSzListOr(a.addr(), b.ptr, 0), nullptr);
    // In place the list stays valid, holding what it had.
    EXPECT_EQ(items(a.ptr), (Texts{"\xff\xfe"}));
    EXPECT_TRUE(sound(a.ptr));
}

TEST(ListOr, ListUnitedWithItself)
{
    for (int mode : {0, 1, 0x10}) {
        List a;
        build(a, {"a", "b", "c"}, mode);
        PKORLSZLIST r = PslKORLSzListOr(a.addr(), a.ptr, 0);
        ASSERT_EQ(r, a.ptr) << mode;
        EXPECT_EQ(items(a.ptr), (Texts{"a", "b", "c"})) << mode;
        EXPECT_EQ(a->sortMode, mode);
        EXPECT_TRUE(sound(a.ptr));
    }
}

TEST(ListOr, InPlaceGrowthUpdatesTheCallersPointer)
{
    List a;
    List b;
    for (int i = 0; i < 60; i++) {
        ASSERT_GE(KORLSzListPush(a.addr(), ("first" + std::to_string(i)).c_str()), 0);
        ASSERT_GE(KORLSzListPush(b.addr(), ("second" + std::to_string(i)).c_str()), 0);
    }
    ASSERT_EQ(a->cbSize, 1024);
    PKORLSZLIST r = PslKORLSzListOr(a.addr(), b.ptr, 0);
    ASSERT_EQ(r, a.ptr);
    EXPECT_EQ(a->cbSize, 2048);
    ASSERT_EQ(a->nItem, 120);
    EXPECT_STREQ(SzKORLSzListGet(a.ptr, 59), "first59");
    EXPECT_STREQ(SzKORLSzListGet(a.ptr, 119), "second59");
    EXPECT_TRUE(sound(a.ptr));
}

TEST(ListOr, NewResultIsSizedByTheUsedBytesOfBoth)
{
    List a;
    List b;
    for (int i = 0; i < 30; i++)
        ASSERT_GE(KORLSzListPush(a.addr(), ("item" + std::to_string(100 + i)).c_str()), 0);  // 12 bytes each
    for (int i = 0; i < 20; i++)
        ASSERT_GE(KORLSzListPush(b.addr(), ("other" + std::to_string(100 + i)).c_str()), 0);  // 13 bytes each
    PKORLSZLIST r = PslKORLSzListOr(a.addr(), b.ptr, 0x1000);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->cbSize, (24 + 30 * 12) + (24 + 20 * 13));
    EXPECT_EQ(r->nItem, 50);
    EXPECT_TRUE(sound(r));
    KORLSzListFree(r);
}

}  // namespace
