#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "case_label.h"
#include "korv/error.h"
#include "korv/list.h"
#include "korv/string.h"

namespace {

using Items = std::vector<std::string>;

Items items(PKORLSZLIST list)
{
    Items v;
    for (int i = 0; i < list->nItem; ++i)
        v.emplace_back(SzKORLSzListGet(list, i));
    return v;
}

// A list freed at the end of the test, whatever moved it.
struct List {
    PKORLSZLIST p = PslKORLSzListAlloc(0);
    ~List() { KORLSzListFree(p); }
};

TEST(KORLStrSepNext, SkipsEmptyTokensAndModifiesText)
{
    char text[] = ",,a,,b c,";
    char *cursor = text;
    Items got;
    while (char *t = KORLStrSepNext(&cursor, ", "))
        got.emplace_back(t);
    EXPECT_EQ(got, (Items{"a", "b", "c"}));
    EXPECT_EQ(cursor, nullptr);
    EXPECT_EQ(KORLStrSepNext(&cursor, ","), nullptr);
    EXPECT_EQ(KORLStrSepNext(nullptr, ","), nullptr);
    char *c2 = text;
    EXPECT_EQ(KORLStrSepNext(&c2, nullptr), nullptr);
}

struct SplitCase {
    const char *s;
    const char *delim;
    Items tok;  // KORLStrTok: non-empty tokens
    Items sep;  // KORLStrSep: every field
};

void PrintTo(const SplitCase &c, std::ostream *os)
{
    *os << korvtest::label(c.s) << "_by_" << korvtest::label(c.delim);
}

const SplitCase kSplitCases[] = {
    {",,a,,b,", ",", {"a", "b"}, {"", "", "a", "", "b", ""}},
    {"a,,b", ",", {"a", "b"}, {"a", "", "b"}},
    {"abc", ",", {"abc"}, {"abc"}},
    {"", ",", {}, {""}},
    {",", ",", {}, {"", ""}},
    {"a b\tc", " \t", {"a", "b", "c"}, {"a", "b", "c"}},
    {" a \t b ", " \t", {"a", "b"}, {"", "a", "", "", "b", ""}},
    {"a,b", "", {"a,b"}, {"a,b"}},
    {"x:\xC3\xA9:y", ":", {"x", "\xC3\xA9", "y"}, {"x", "\xC3\xA9", "y"}},
};

class SplitTable : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitTable, Tok)
{
    const SplitCase &c = GetParam();
    List list;
    EXPECT_EQ(KORLStrTok(c.s, c.delim, &list.p), static_cast<int>(c.tok.size()));
    EXPECT_EQ(items(list.p), c.tok);
}

TEST_P(SplitTable, Sep)
{
    const SplitCase &c = GetParam();
    List list;
    EXPECT_EQ(KORLStrSep(c.s, c.delim, &list.p), static_cast<int>(c.sep.size()));
    EXPECT_EQ(items(list.p), c.sep);
}

INSTANTIATE_TEST_SUITE_P(Cases, SplitTable, testing::ValuesIn(kSplitCases));

// Items already in the list stay in front; the text itself is left as it was.
TEST(Splitting, AppendsAfterExistingItems)
{
    List list;
    ASSERT_GE(KORLSzListPush(&list.p, "first"), 0);
    const char text[] = "a,b";
    EXPECT_EQ(KORLStrTok(text, ",", &list.p), 2);
    EXPECT_EQ(KORLStrSep(text, ",", &list.p), 2);
    EXPECT_EQ(items(list.p), (Items{"first", "a", "b", "a", "b"}));
    EXPECT_STREQ(text, "a,b");
}

// Splitting a long text grows the list; the caller's pointer follows the moved block.
TEST(Splitting, GrowsListThroughCallerPointer)
{
    std::string text;
    Items want;
    for (int i = 0; i < 400; ++i) {
        want.push_back("item" + std::to_string(i));
        text += want.back() + ",";
    }
    text.pop_back();
    for (auto fn : {KORLStrTok, KORLStrSep}) {
        List list;
        ASSERT_EQ(fn(text.c_str(), ",", &list.p), 400);
        EXPECT_GT(list.p->cbSize, KORL_SZLIST_MIN_SIZE);
        EXPECT_EQ(items(list.p), want);
    }
}

TEST(Splitting, BadParameters)
{
    List list;
    PKORLSZLIST none = nullptr;
    using Fn = int (*)(const char *, const char *, PKORLSZLIST *);
    const struct {
        Fn fn;
        const char *file;
    } fns[] = {{KORLStrTok, "string_tok.cpp"}, {KORLStrSep, "string_sep.cpp"}};
    for (const auto &f : fns) {
        const struct {
            const char *s;
            const char *delim;
            PKORLSZLIST *plist;
        } calls[] = {{nullptr, ",", &list.p}, {"a", nullptr, &list.p}, {"a", ",", nullptr}, {"a", ",", &none}};
        for (const auto &c : calls) {
            KORLErrSet(0);
            EXPECT_EQ(f.fn(c.s, c.delim, c.plist), -1) << f.file;
            EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
            EXPECT_STREQ(KORLErrFileGet(), f.file);
        }
    }
    EXPECT_EQ(list.p->nItem, 0);
}

struct PairCase {
    const char *s;
    int result;
    Items appended;
};

void PrintTo(const PairCase &c, std::ostream *os)
{
    *os << korvtest::label(c.s);
}

const PairCase kPairCases[] = {
    {" key = \"v=1\" ", 0, {"key", "v=1"}},
    {"a=b", 0, {"a", "b"}},
    {"k=", 0, {"k", ""}},
    {" \"k\" = \"\" ", 0, {"k", ""}},
    {"k==v", 0, {"k", "=v"}},
    {"k = v w ", 0, {"k", "v w"}},
    {"\"=x", 0, {"\"", "x"}},  // a lone quote is kept
    {"=x", -1, {}},
    {" = x", -1, {}},
    {"\"\"=x", -1, {}},
    {"", -1, {}},
    {"key", -1, {"key"}},  // the key is appended before the missing "=" is noticed
    {" \"key\" ", -1, {"key"}},
};

class PairTable : public testing::TestWithParam<PairCase> {};

TEST_P(PairTable, SplitsKeyAndValue)
{
    const PairCase &c = GetParam();
    List list;
    KORLErrSet(0);
    EXPECT_EQ(KORLStrSepPair(c.s, &list.p), c.result);
    EXPECT_EQ(items(list.p), c.appended);
    if (c.result < 0) {
        EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
        EXPECT_STREQ(KORLErrFileGet(), "string_sep_pair.cpp");
    } else {
        EXPECT_EQ(KORLErrGet(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, PairTable, testing::ValuesIn(kPairCases));

TEST(KORLStrSepPair, BadParameters)
{
    List list;
    PKORLSZLIST none = nullptr;
    EXPECT_EQ(KORLStrSepPair(nullptr, &list.p), -1);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
    EXPECT_EQ(KORLStrSepPair("a=b", nullptr), -1);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
    EXPECT_EQ(KORLStrSepPair("a=b", &none), -1);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
    EXPECT_EQ(list.p->nItem, 0);
}

}  // namespace
