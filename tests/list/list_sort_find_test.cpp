#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "korv/error.h"
#include "korv/list.h"
#include "list_test_util.h"

using namespace listtest;

namespace {

struct SortCase {
    const char *name;
    Texts before;
    int modeBefore;  // applied to the built list first
    int mode;
    Texts after;
    int modeAfter;
};

void PrintTo(const SortCase &c, std::ostream *os) { *os << c.name; }

class Sort : public testing::TestWithParam<SortCase> {};

TEST_P(Sort, SortsOnlyUnsortedListsAndRecordsTheMode)
{
    const SortCase &c = GetParam();
    List l;
    build(l, c.before, c.modeBefore);
    KORLSzListSort(l.ptr, c.mode);
    EXPECT_EQ(items(l.ptr), c.after);
    EXPECT_EQ(l->sortMode, c.modeAfter);
    EXPECT_TRUE(sound(l.ptr));
    EXPECT_TRUE(freeBytesZero(l.ptr));
}

INSTANTIATE_TEST_SUITE_P(
    Modes, Sort,
    testing::Values(
        SortCase{"ByteOrder", {"c", "a", "B", "b"}, 0, 1, {"B", "a", "b", "c"}, 1},
        // Bytes compare unsigned: UTF-8 lead bytes sort after ASCII.
        SortCase{"ByteOrderHighBytes", {"\xc3\xa9", "z", "a"}, 0, 1, {"a", "z", "\xc3\xa9"}, 1},
        // Bit 0 wins over bit 4, and the whole mode is recorded.
        SortCase{"Mode0x11SortsByBytes", {"c", "a", "B", "b"}, 0, 0x11, {"B", "a", "b", "c"}, 0x11},
        // Caseless equals keep their order.
        SortCase{"Caseless", {"c", "a", "B", "b"}, 0, 0x10, {"a", "B", "b", "c"}, 0x10},
        SortCase{"CaselessAccents", {"zoe", "Émile", "alice", "Bob"}, 0, 0x10, {"alice", "Bob", "Émile", "zoe"}, 0x10},
        // A sorted list is not re-sorted: only the mode changes.
        SortCase{"SortedListOnlyRecords", {"a", "B"}, 1, 0x10, {"B", "a"}, 0x10},
        SortCase{"ZeroMarksUnsorted", {"b", "a"}, 1, 0, {"a", "b"}, 0},
        SortCase{"GapsAreCompacted", {"<gap>", "<gap>", "x", "<gap>", "a"}, 0, 1, {"a", "x"}, 1},
        // A mode without either bit moves nothing.
        SortCase{"UnknownBitsMoveNothing", {"<gap>", "b", "a"}, 0, 2, {"<gap>", "b", "a"}, 2}),
    [](const testing::TestParamInfo<SortCase> &i) { return std::string(i.param.name); });

TEST(ListSort, CompactionGivesBackTheGapSlots)
{
    List l;
    build(l, {"<gap>", "<gap>", "x"});
    int free0 = l->cbFree;
    KORLSzListSort(l.ptr, 1);
    EXPECT_EQ(l->cbFree, free0 + 8);
    KORLSzListSort(nullptr, 1);
}

// Comparisons that fail (text that is not UTF-8) must never lose or duplicate an item.
TEST(ListSort, FailingCaselessComparisonsKeepEveryItem)
{
    List l;
    Texts texts;
    for (int i = 0; i < 200; i++)
        texts.push_back(i % 3 ? "name" + std::to_string(i) : "\xff" + std::to_string(i));
    build(l, texts);
    KORLSzListSort(l.ptr, 0x10);
    Texts got = items(l.ptr);
    std::sort(got.begin(), got.end());
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(got, texts);
    EXPECT_TRUE(sound(l.ptr));
}

TEST(ListSort, LargeListComesOutOrdered)
{
    List l;
    for (int i = 0; i < 2000; i++) {
        std::string s = std::to_string((i * 7919) % 2000);
        ASSERT_GE(KORLSzListPush(l.addr(), s.c_str()), 0);
    }
    KORLSzListSort(l.ptr, 1);
    Texts got = items(l.ptr);
    ASSERT_EQ(got.size(), 2000u);
    for (size_t i = 1; i < got.size(); i++)
        ASSERT_LT(got[i - 1], got[i]);
    EXPECT_TRUE(sound(l.ptr));
}

TEST(ListFind, LinearScanSkipsGaps)
{
    List l;
    build(l, {"<gap>", "x", "", "x"});
    EXPECT_EQ(KORLSzListFind(l.ptr, "x"), 1);
    EXPECT_EQ(KORLSzListFind(l.ptr, ""), 2);  // the explicit empty string, not the gap
    KORLErrSet(0x4000);
    EXPECT_EQ(KORLSzListFind(l.ptr, "X"), -1);
    EXPECT_EQ(KORLErrGet(), 0x4000);  // absent is no failure
}

TEST(ListFind, SortedListIsBisected)
{
    List l;
    build(l, {"d", "b", "f", "a"});
    KORLSzListSort(l.ptr, 1);
    EXPECT_EQ(KORLSzListFind(l.ptr, "a"), 0);
    EXPECT_EQ(KORLSzListFind(l.ptr, "f"), 3);
    EXPECT_EQ(KORLSzListFind(l.ptr, "c"), -1);
    // Mode 0x11 keeps the linear scan.
    List m;
    build(m, {"d", "b"});
    KORLSzListSort(m.ptr, 0x11);
    EXPECT_EQ(KORLSzListFind(m.ptr, "d"), 1);
}

TEST(ListCaseFind, FindsWhateverTheCase)
{
    List l;
    build(l, {"<gap>", "Alice", "bob"});
    EXPECT_EQ(KORLSzListCaseFind(l.ptr, "ALICE"), 1);
    EXPECT_EQ(KORLSzListCaseFind(l.ptr, "Bob"), 2);
    EXPECT_EQ(KORLSzListCaseFind(l.ptr, "carol"), -1);

    List s;
    build(s, {"dave", "Alice", "carol", "Bob"});
    KORLSzListSort(s.ptr, 0x10);
    EXPECT_EQ(items(s.ptr), (Texts{"Alice", "Bob", "carol", "dave"}));
    EXPECT_EQ(KORLSzListCaseFind(s.ptr, "CAROL"), 2);
    EXPECT_EQ(KORLSzListCaseFind(s.ptr, "eve"), -1);
}

struct CaseFindCase {
    const char *name;
    Texts items;
    int mode;  // 0 unsorted, or the caseless sort applied first
    const char *s;
    const char *found;  // the item found, nullptr when none
};

void PrintTo(const CaseFindCase &c, std::ostream *os) { *os << c.name; }

class CaseFind : public testing::TestWithParam<CaseFindCase> {};

// Texts that are not UTF-8 fail the caseless comparison: their own bytes still find them.
TEST_P(CaseFind, ByteEqualTextsAreEqual)
{
    const CaseFindCase &c = GetParam();
    List l;
    build(l, c.items);
    if (c.mode)
        KORLSzListSort(l.ptr, c.mode);
    const int at = KORLSzListCaseFind(l.ptr, c.s);
    if (!c.found) {
        EXPECT_EQ(at, -1);
        return;
    }
    ASSERT_GE(at, 0);
    EXPECT_STREQ(SzKORLSzListGet(l.ptr, at), c.found);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CaseFind,
    testing::Values(CaseFindCase{"OtherCase", {"x", "Alice"}, 0, "aLICE", "Alice"},
                    CaseFindCase{"NotUtf8ItsOwnBytes", {"alice", "bad\xff", "bob"}, 0, "bad\xff", "bad\xff"},
                    CaseFindCase{"NotUtf8OtherBytes", {"alice", "bad\xff"}, 0, "bad\xfe", nullptr},
                    CaseFindCase{"NotUtf8ItemBeforeTheMatch", {"bad\xff", "Bob"}, 0, "bob", "Bob"},
                    CaseFindCase{"NotUtf8InASortedList", {"dave", "bad\xff", "alice", "carol"}, 0x10, "bad\xff",
                                 "bad\xff"},
                    CaseFindCase{"NotUtf8AbsentFromASortedList", {"dave", "alice"}, 0x10, "bad\xff", nullptr}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ListFind, EachRefusesTheOtherSortedMode)
{
    List caseless;
    build(caseless, {"a"});
    KORLSzListSort(caseless.ptr, 0x10);
    List bytes;
    build(bytes, {"a"});
    KORLSzListSort(bytes.ptr, 1);

    KORLErrSet(0);
    EXPECT_EQ(KORLSzListFind(caseless.ptr, "a"), -1);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
    EXPECT_STREQ(KORLErrFileGet(), "list_find.cpp");
    KORLErrSet(0);
    EXPECT_EQ(KORLSzListCaseFind(bytes.ptr, "a"), -1);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
    EXPECT_STREQ(KORLErrFileGet(), "list_case_find.cpp");
    for (auto fn : {KORLSzListFind, KORLSzListCaseFind}) {
        KORLErrSet(0);
        EXPECT_EQ(fn(nullptr, "a"), -1);
        EXPECT_EQ(fn(bytes.ptr, nullptr), -1);
        EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
    }
}

struct SearchCase {
    const char *s;
    int result;
};

void PrintTo(const SearchCase &c, std::ostream *os) { *os << c.s; }

class BinarySearch : public testing::TestWithParam<SearchCase> {};

TEST_P(BinarySearch, IndexOrComplementOfInsertionPoint)
{
    List l;
    build(l, {"b", "d", "f"});
    EXPECT_EQ(KORLSzListBinarySearch(l.ptr, 2, 0, GetParam().s, 0), GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(Texts, BinarySearch,
                         testing::Values(SearchCase{"a", ~0}, SearchCase{"b", 0}, SearchCase{"c", ~1},
                                         SearchCase{"d", 1}, SearchCase{"e", ~2}, SearchCase{"f", 2},
                                         SearchCase{"g", ~3}));

TEST(ListBinarySearch, EmptyRangeAndBoundsOutsideTheList)
{
    List l;
    EXPECT_EQ(KORLSzListBinarySearch(l.ptr, -1, 0, "a", 0), -1);
    build(l, {"b", "d"});
    EXPECT_EQ(KORLSzListBinarySearch(l.ptr, 1, 0, "D", 1), 1);
    KORLErrSet(0);
    EXPECT_EQ(KORLSzListBinarySearch(l.ptr, 2, 0, "z", 0), -1);  // hi past the last item
    EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
    KORLErrSet(0);
    EXPECT_EQ(KORLSzListBinarySearch(l.ptr, 1, -1, "a", 0), -1);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
}

TEST(ListCompare, ComparatorsOverItemPointers)
{
    const char *a = "alice";
    const char *b = "Bob";
    EXPECT_GT(SzListCompare(&a, &b), 0);
    EXPECT_LT(SzListCaseCompare(&a, &b), 0);
    const char *c = "ALICE";
    EXPECT_EQ(SzListCaseCompare(&a, &c), 0);
}

}  // namespace
