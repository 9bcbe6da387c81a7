#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "korv/error.h"
#include "korv/list.h"
#include "list_test_util.h"

using namespace listtest;

namespace {

struct AllocCase {
    int size;
    int cbSize;
    int cbFree;
};

void PrintTo(const AllocCase &c, std::ostream *os) { *os << "size" << (c.size < 0 ? "_neg" : "") << std::abs(c.size); }

class AllocFigures : public testing::TestWithParam<AllocCase> {};

TEST_P(AllocFigures, EmptyBlockIsZeroedAndAccounted)
{
    const AllocCase &c = GetParam();
    List l(c.size);
    ASSERT_NE(l.ptr, nullptr);
    EXPECT_EQ(l->cbSize, c.cbSize);
    EXPECT_EQ(l->cbFree, c.cbFree);
    EXPECT_EQ(l->nItem, 0);
    EXPECT_EQ(l->sortMode, 0);
    EXPECT_EQ(l->pLow, c.cbSize);
    EXPECT_EQ(l->pEmpty, c.cbSize - 1);
    EXPECT_TRUE(sound(l.ptr));
    EXPECT_TRUE(freeBytesZero(l.ptr));
}

INSTANTIATE_TEST_SUITE_P(Sizes, AllocFigures,
                         testing::Values(AllocCase{100, 512, 488}, AllocCase{0, 512, 488}, AllocCase{-7, 512, 488},
                                         AllocCase{512, 512, 488}, AllocCase{513, 513, 489},
                                         AllocCase{4096, 4096, 4072}));

TEST(ListPush, CostsTheCopyAndOneSlot)
{
    List l(100);
    EXPECT_EQ(KORLSzListPush(l.addr(), "abc"), 0);
    EXPECT_EQ(l->cbFree, 480);
    EXPECT_EQ(l->nItem, 1);
    EXPECT_EQ(l->pLow, 508);
    EXPECT_EQ(itemOffset(l.ptr, 0), 508);  // strings grow down from the block's end
    EXPECT_EQ(KORLSzListPush(l.addr(), "de"), 1);
    EXPECT_EQ(itemOffset(l.ptr, 1), 505);
    EXPECT_EQ(l->cbFree, 473);
    EXPECT_EQ(items(l.ptr), (Texts{"abc", "de"}));
    EXPECT_TRUE(sound(l.ptr));
}

TEST(ListInsert, PastTheEndLeavesGapsThatCompactDrops)
{
    List l;
    EXPECT_EQ(KORLSzListInsert(l.addr(), 3, "x"), 3);
    EXPECT_EQ(l->nItem, 4);
    EXPECT_EQ(l->cbFree, 488 - (2 + 16));
    EXPECT_EQ(items(l.ptr), (Texts{"<gap>", "<gap>", "<gap>", "x"}));
    // A gap reads as the shared empty string, the block's last byte.
    EXPECT_STREQ(SzKORLSzListGet(l.ptr, 0), "");
    EXPECT_EQ(SzKORLSzListGet(l.ptr, 1), reinterpret_cast<char *>(l.ptr) + 511);
    EXPECT_TRUE(sound(l.ptr));

    KORLSzListCompact(l.ptr);
    EXPECT_EQ(items(l.ptr), (Texts{"x"}));
    EXPECT_EQ(l->cbFree, 488 - 2 - 4);
    EXPECT_TRUE(sound(l.ptr));
    EXPECT_TRUE(freeBytesZero(l.ptr));
}

TEST(ListInsert, InsideMovesTheLaterItems)
{
    List l;
    pushAll(l, {"a", "c"});
    EXPECT_EQ(KORLSzListInsert(l.addr(), 1, "b"), 1);
    EXPECT_EQ(KORLSzListUnshift(l.addr(), "z"), 0);
    EXPECT_EQ(KORLSzListInsert(l.addr(), 6, "y"), 6);
    EXPECT_EQ(items(l.ptr), (Texts{"z", "a", "b", "c", "<gap>", "<gap>", "y"}));
    EXPECT_EQ(l->cbFree, 488 - 2 * 5 - 4 * 7);
    EXPECT_TRUE(sound(l.ptr));
}

TEST(ListInsert, ExplicitEmptyStringIsNoGap)
{
    List l;
    pushAll(l, {"x", ""});
    EXPECT_FALSE(isGap(l.ptr, 1));
    EXPECT_EQ(KORLSzListFind(l.ptr, ""), 1);
    KORLSzListCompact(l.ptr);
    EXPECT_EQ(items(l.ptr), (Texts{"x", ""}));
}

// The first copy of a block ends on its last byte, the shared empty string: an empty text stored
// first takes one byte more so that it does not turn into a gap.
TEST(ListInsert, EmptyStringStoredFirstIsNoGap)
{
    List l;
    EXPECT_EQ(KORLSzListPush(l.addr(), ""), 0);
    EXPECT_FALSE(isGap(l.ptr, 0));
    EXPECT_EQ(itemOffset(l.ptr, 0), 510);
    EXPECT_EQ(l->cbFree, 488 - 2 - 4);
    EXPECT_EQ(KORLSzListPush(l.addr(), "a"), 1);
    EXPECT_EQ(itemOffset(l.ptr, 1), 508);
    EXPECT_EQ(KORLSzListFind(l.ptr, ""), 0);
    KORLSzListSort(l.ptr, 1);
    EXPECT_EQ(items(l.ptr), (Texts{"", "a"}));
    EXPECT_TRUE(sound(l.ptr));

    // The same after emptying, and when the block is expanded.
    KORLSzListRemoveAll(l.ptr);
    l->sortMode = 0;
    pushAll(l, {"x", ""});
    ASSERT_NE(SzKORLSzListShift(l.ptr), nullptr);
    l.ptr = PslKORLSzListExpand(l.ptr);
    ASSERT_NE(l.ptr, nullptr);
    EXPECT_FALSE(isGap(l.ptr, 0));
    EXPECT_EQ(itemOffset(l.ptr, 0), 1022);
    EXPECT_EQ(l->cbFree, 1000 - 4 - 2);
    EXPECT_TRUE(sound(l.ptr));
    KORLSzListRemoveAll(l.ptr);
    pushAll(l, {""});
    KORLSzListCompact(l.ptr);
    EXPECT_EQ(items(l.ptr), (Texts{""}));
}

// An expansion that leaves no string behind puts the next copy on the block's last bytes again:
// an empty text there must still take its own byte.
TEST(ListInsert, EmptyTextAfterAnExpansionThatLeftNoStringIsNoGap)
{
    List l;
    ASSERT_EQ(KORLSzListInsert(l.addr(), 119, "abcdefg"), 119);
    ASSERT_EQ(l->cbFree, 0);
    ASSERT_STREQ(SzKORLSzListRemove(l.ptr, 119), "abcdefg");
    EXPECT_EQ(KORLSzListPush(l.addr(), ""), 119);
    EXPECT_EQ(l->cbSize, 1024);
    EXPECT_FALSE(isGap(l.ptr, 119));
    EXPECT_EQ(itemOffset(l.ptr, 119), 1022);
    EXPECT_EQ(l->cbFree, 1000 - 4 * 120 - 2);
    EXPECT_EQ(KORLSzListFind(l.ptr, ""), 119);
    EXPECT_TRUE(sound(l.ptr));
}

// One growing call on a list and the index it must return.
struct Step {
    enum { Push, Unshift, InsertAt0 } op;
    const char *text;
    int placed;
};

struct PlaceCase {
    const char *name;
    int mode;
    std::vector<Step> steps;
    Texts after;
};

void PrintTo(const PlaceCase &c, std::ostream *os) { *os << c.name; }

class SortedPlacement : public testing::TestWithParam<PlaceCase> {};

// A sorted list ignores the caller's index; an equal text goes where the search found its equal.
TEST_P(SortedPlacement, ListPlacesTheCopyItself)
{
    const PlaceCase &c = GetParam();
    List l;
    KORLSzListSort(l.ptr, c.mode);
    for (const Step &s : c.steps) {
        int got = s.op == Step::Push      ? KORLSzListPush(l.addr(), s.text)
                  : s.op == Step::Unshift ? KORLSzListUnshift(l.addr(), s.text)
                                          : KORLSzListInsert(l.addr(), 0, s.text);
        EXPECT_EQ(got, s.placed) << s.text;
    }
    EXPECT_EQ(items(l.ptr), c.after);
    EXPECT_EQ(l->sortMode, c.mode);
    EXPECT_TRUE(sound(l.ptr));
}

INSTANTIATE_TEST_SUITE_P(
    Modes, SortedPlacement,
    testing::Values(
        PlaceCase{"ByteOrder", KORL_SZLIST_SORT,
                  {{Step::Push, "b", 0}, {Step::Push, "a", 0}, {Step::Push, "c", 2}, {Step::InsertAt0, "b", 1},
                   {Step::Unshift, "d", 4}},
                  {"a", "b", "b", "c", "d"}},
        PlaceCase{"Caseless", KORL_SZLIST_CASESORT,
                  {{Step::Push, "b", 0}, {Step::Push, "A", 0}, {Step::Push, "c", 2}, {Step::Push, "B", 1}},
                  {"A", "B", "b", "c"}},
        // Only modes 1 and 0x10 place texts; 0x11 keeps the caller's index.
        PlaceCase{"Mode0x11KeepsTheIndex", 0x11,
                  {{Step::Push, "b", 0}, {Step::Push, "a", 1}, {Step::Unshift, "c", 0}},
                  {"c", "b", "a"}}),
    [](const testing::TestParamInfo<PlaceCase> &i) { return std::string(i.param.name); });

TEST(ListInsert, RefusesBadArgumentsAndHugeIndexes)
{
    List l;
    pushAll(l, {"a"});
    struct {
        PKORLSZLIST *plist;
        int index;
        const char *s;
    } bad[] = {{nullptr, 0, "x"}, {l.addr(), 0, nullptr}, {l.addr(), -1, "x"},
               {l.addr(), INT_MAX, "x"}, {l.addr(), 600000000, "x"}};
    for (const auto &b : bad) {
        KORLErrSet(0);
        EXPECT_EQ(KORLSzListInsert(b.plist, b.index, b.s), -1) << b.index;
        EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM) << b.index;
    }
    PKORLSZLIST none = nullptr;
    EXPECT_EQ(KORLSzListPush(&none, "x"), -1);
    EXPECT_EQ(KORLSzListUnshift(nullptr, "x"), -1);
    EXPECT_EQ(KORLSzListPush(l.addr(), nullptr), -1);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
    // Nothing was half-inserted.
    EXPECT_EQ(items(l.ptr), (Texts{"a"}));
    EXPECT_EQ(l->cbSize, 512);
    EXPECT_TRUE(sound(l.ptr));
}

struct DoublingCase {
    int pushes;
    int cbSize;
    int cbFree;
};

void PrintTo(const DoublingCase &c, std::ostream *os) { *os << c.pushes << "pushes"; }

class Doubling : public testing::TestWithParam<DoublingCase> {};

TEST_P(Doubling, BlockDoublesWhenFull)
{
    const DoublingCase &c = GetParam();
    List l;
    PKORLSZLIST first = l.ptr;
    for (int i = 0; i < c.pushes; i++) {
        char text[32];
        snprintf(text, sizeof text, "abcdefgh%02d", i % 100);
        ASSERT_EQ(KORLSzListPush(l.addr(), text), i);
    }
    EXPECT_EQ(l->cbSize, c.cbSize);
    EXPECT_EQ(l->cbFree, c.cbFree);
    EXPECT_EQ(l->nItem, c.pushes);
    if (c.cbSize > 512) {
        EXPECT_NE(l.ptr, first);  // the caller's pointer follows the block
    }
    EXPECT_STREQ(SzKORLSzListGet(l.ptr, 0), "abcdefgh00");
    char last[32];
    snprintf(last, sizeof last, "abcdefgh%02d", (c.pushes - 1) % 100);
    EXPECT_STREQ(SzKORLSzListGet(l.ptr, c.pushes - 1), last);
    EXPECT_TRUE(sound(l.ptr));
    EXPECT_TRUE(freeBytesZero(l.ptr));
}

// Each push costs 10 + 1 + 4 bytes.
INSTANTIATE_TEST_SUITE_P(Pushes, Doubling,
                         testing::Values(DoublingCase{32, 512, 8}, DoublingCase{33, 1024, 505},
                                         DoublingCase{66, 1024, 10}, DoublingCase{67, 2048, 1019}));

TEST(ListExpand, CopiesOnlyLiveStringsFirstItemHighest)
{
    List l;
    pushAll(l, {"abc", "def", "ghi"});
    ASSERT_STREQ(SzKORLSzListRemove(l.ptr, 1), "def");
    ASSERT_EQ(KORLSzListInsert(l.addr(), 3, "x"), 3);
    EXPECT_EQ(l->cbFree, 488 - 3 * 8 + 4 - 10);
    l.ptr = PslKORLSzListExpand(l.ptr);
    ASSERT_NE(l.ptr, nullptr);
    EXPECT_EQ(l->cbSize, 1024);
    EXPECT_EQ(l->nItem, 4);
    // The dead "def" is gone: 8 + 8 for the two strings, 4 for the gap, 6 for "x".
    EXPECT_EQ(l->cbFree, 1000 - 8 - 8 - 4 - 6);
    EXPECT_EQ(itemOffset(l.ptr, 0), 1020);
    EXPECT_EQ(itemOffset(l.ptr, 1), 1016);
    EXPECT_TRUE(isGap(l.ptr, 2));
    EXPECT_EQ(itemOffset(l.ptr, 2), 1023);
    EXPECT_EQ(items(l.ptr), (Texts{"abc", "ghi", "<gap>", "x"}));
    EXPECT_TRUE(sound(l.ptr));
    EXPECT_TRUE(freeBytesZero(l.ptr));
    KORLErrSet(0);
    EXPECT_EQ(PslKORLSzListExpand(nullptr), nullptr);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
}

// A text read from the list itself must survive the list's growth.
TEST(ListGrowth, TextFromTheListItselfIsReadBeforeTheOldBlockIsFreed)
{
    List l;
    std::string big(200, 'q');
    pushAll(l, {big, "short"});
    while (l->cbFree >= 11)
        ASSERT_GE(KORLSzListPush(l.addr(), "filler"), 0);
    ASSERT_EQ(l->cbSize, 512);

    int n = l->nItem;
    EXPECT_EQ(KORLSzListPush(l.addr(), SzKORLSzListGet(l.ptr, 0)), n);
    ASSERT_EQ(l->cbSize, 1024);
    EXPECT_EQ(SzKORLSzListGet(l.ptr, l->nItem - 1), big);

    while (l->cbFree >= 11)
        ASSERT_GE(KORLSzListPush(l.addr(), "filler"), 0);
    EXPECT_EQ(KORLSzListSet(l.addr(), 1, SzKORLSzListGet(l.ptr, 0)), 1);
    ASSERT_EQ(l->cbSize, 2048);
    EXPECT_EQ(SzKORLSzListGet(l.ptr, 1), big);
    EXPECT_TRUE(sound(l.ptr));
}

// A block past 1 GiB cannot double within 32-bit offsets, so its growth fails without touching
// the pages of either block.
TEST(ListGrowth, FailedExpansionLeavesTheListAsItWas)
{
    List l((1 << 30) + 8);
    ASSERT_NE(l.ptr, nullptr);
    pushAll(l, {"a", "b"});
    PKORLSZLIST before = l.ptr;
    int freeBefore = l->cbFree;
    int pLowBefore = l->pLow;
    int far = freeBefore / 4 + 2;  // its gap slots alone take more than the free bytes
    KORLErrSet(0);
    EXPECT_EQ(KORLSzListInsert(l.addr(), far, "x"), -1);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_NO_MEMORY);
    EXPECT_STREQ(KORLErrFileGet(), "list_expand.cpp");
    EXPECT_EQ(l.ptr, before);
    EXPECT_EQ(l->cbFree, freeBefore);
    EXPECT_EQ(l->pLow, pLowBefore);
    EXPECT_EQ(items(l.ptr), (Texts{"a", "b"}));
    EXPECT_TRUE(sound(l.ptr));
    // The list still takes what fits.
    EXPECT_EQ(KORLSzListPush(l.addr(), "c"), 2);
    EXPECT_EQ(l.ptr, before);
}

struct SetCase {
    const char *before;
    const char *after;
    bool inPlace;
    int freeDelta;
};

void PrintTo(const SetCase &c, std::ostream *os) { *os << c.before << "_to_" << (*c.after ? c.after : "empty"); }

class SetInPlace : public testing::TestWithParam<SetCase> {};

TEST_P(SetInPlace, ShorterOrEqualKeepsTheAddress)
{
    const SetCase &c = GetParam();
    List l;
    pushAll(l, {"first", c.before, "last"});
    char *old = SzKORLSzListGet(l.ptr, 1);
    int freeBefore = l->cbFree;
    EXPECT_EQ(KORLSzListSet(l.addr(), 1, c.after), 1);
    EXPECT_EQ(SzKORLSzListGet(l.ptr, 1) == old, c.inPlace);
    EXPECT_EQ(l->cbFree - freeBefore, c.freeDelta);
    EXPECT_EQ(items(l.ptr), (Texts{"first", c.after, "last"}));
    EXPECT_TRUE(sound(l.ptr));
}

INSTANTIATE_TEST_SUITE_P(Texts, SetInPlace,
                         testing::Values(SetCase{"hello", "hi", true, 0}, SetCase{"hello", "HELLO", true, 0},
                                         SetCase{"hello", "", true, 0}, SetCase{"hello", "hello!", false, -7},
                                         SetCase{"", "x", false, -2}));

TEST(ListSet, SuffixOfItselfAndGaps)
{
    List l;
    pushAll(l, {"abcdef"});
    EXPECT_EQ(KORLSzListSet(l.addr(), 0, SzKORLSzListGet(l.ptr, 0) + 2), 0);
    EXPECT_STREQ(SzKORLSzListGet(l.ptr, 0), "cdef");

    ASSERT_EQ(KORLSzListInsert(l.addr(), 2, "z"), 2);
    EXPECT_EQ(KORLSzListSet(l.addr(), 1, ""), 1);  // a gap stays a gap
    EXPECT_TRUE(isGap(l.ptr, 1));
    EXPECT_EQ(KORLSzListSet(l.addr(), 1, "y"), 1);
    EXPECT_FALSE(isGap(l.ptr, 1));
    EXPECT_EQ(items(l.ptr), (Texts{"cdef", "y", "z"}));
    EXPECT_TRUE(sound(l.ptr));
}

TEST(ListSet, LongerTextOnAFullListGrowsIt)
{
    List l;
    while (l->cbFree >= 20)
        ASSERT_GE(KORLSzListPush(l.addr(), "item"), 0);
    int n = l->nItem;
    std::string longer(40, 'L');
    EXPECT_EQ(KORLSzListSet(l.addr(), 3, longer.c_str()), 3);
    EXPECT_EQ(l->cbSize, 1024);
    EXPECT_EQ(l->nItem, n);
    EXPECT_EQ(SzKORLSzListGet(l.ptr, 3), longer);
    EXPECT_STREQ(SzKORLSzListGet(l.ptr, 2), "item");
    EXPECT_TRUE(sound(l.ptr));
}

TEST(ListSet, SortedListIsResortedAndTheNewIndexReturned)
{
    List a;
    pushAll(a, {"a", "b", "c"});
    KORLSzListSort(a.ptr, KORL_SZLIST_SORT);
    EXPECT_EQ(KORLSzListSet(a.addr(), 0, "d"), 2);
    EXPECT_EQ(items(a.ptr), (Texts{"b", "c", "d"}));

    List c;
    pushAll(c, {"A", "b", "C"});
    KORLSzListSort(c.ptr, KORL_SZLIST_CASESORT);
    EXPECT_EQ(KORLSzListSet(c.addr(), 2, "a"), 1);
    EXPECT_EQ(items(c.ptr), (Texts{"A", "a", "b"}));
}

TEST(ListSet, RefusesBadArguments)
{
    List l;
    pushAll(l, {"a", "b"});
    struct {
        PKORLSZLIST *plist;
        int index;
        const char *s;
    } bad[] = {{nullptr, 0, "x"}, {l.addr(), 0, nullptr}, {l.addr(), -1, "x"}, {l.addr(), 2, "x"}};
    for (const auto &b : bad) {
        KORLErrSet(0);
        EXPECT_EQ(KORLSzListSet(b.plist, b.index, b.s), -1);
        EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
        EXPECT_STREQ(KORLErrFileGet(), "list_set.cpp");
    }
    EXPECT_EQ(items(l.ptr), (Texts{"a", "b"}));
}

TEST(ListRemove, ReturnsTheItemAndGivesBackOneSlot)
{
    List l;
    pushAll(l, {"a", "b", "c", "d"});
    int free0 = l->cbFree;
    EXPECT_STREQ(SzKORLSzListRemove(l.ptr, 1), "b");
    EXPECT_EQ(l->cbFree, free0 + 4);
    char *last = SzKORLSzListPop(l.ptr);
    char *first = SzKORLSzListShift(l.ptr);
    EXPECT_STREQ(last, "d");
    EXPECT_STREQ(first, "a");
    EXPECT_EQ(items(l.ptr), (Texts{"c"}));
    EXPECT_EQ(l->cbFree, free0 + 12);
    EXPECT_TRUE(sound(l.ptr));
    EXPECT_TRUE(freeBytesZero(l.ptr));
    EXPECT_STREQ(SzKORLSzListPop(l.ptr), "c");

    PKORLSZLIST empty = l.ptr;
    for (char *(*fn)(PKORLSZLIST) : {SzKORLSzListPop, SzKORLSzListShift}) {
        KORLErrSet(0);
        EXPECT_EQ(fn(empty), nullptr);
        EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
        KORLErrSet(0);
        EXPECT_EQ(fn(nullptr), nullptr);
        EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
    }
    pushAll(l, {"x"});
    for (int index : {-1, 1}) {
        KORLErrSet(0);
        EXPECT_EQ(SzKORLSzListRemove(l.ptr, index), nullptr);
        EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
        EXPECT_STREQ(KORLErrFileGet(), "list_remove.cpp");
    }
}

TEST(ListRemoveAll, EmptiesTheBlockAndKeepsTheMode)
{
    List l;
    pushAll(l, {"b", "a"});
    KORLSzListSort(l.ptr, KORL_SZLIST_SORT);
    KORLSzListRemoveAll(l.ptr);
    EXPECT_EQ(l->nItem, 0);
    EXPECT_EQ(l->cbFree, 488);
    EXPECT_EQ(l->pLow, 512);
    EXPECT_EQ(l->sortMode, KORL_SZLIST_SORT);
    EXPECT_TRUE(sound(l.ptr));
    EXPECT_TRUE(freeBytesZero(l.ptr));
    KORLSzListRemoveAll(nullptr);
}

TEST(ListGet, RefusesIndexesOutsideTheList)
{
    List l;
    pushAll(l, {"a"});
    EXPECT_STREQ(SzKORLSzListGet(l.ptr, 0), "a");
    for (int index : {-1, 1, INT_MAX}) {
        KORLErrSet(0);
        EXPECT_EQ(SzKORLSzListGet(l.ptr, index), nullptr);
        EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
        EXPECT_STREQ(KORLErrFileGet(), "list_get.cpp");
    }
    EXPECT_EQ(SzKORLSzListGet(nullptr, 0), nullptr);
}

}  // namespace
