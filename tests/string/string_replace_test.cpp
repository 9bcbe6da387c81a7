#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "case_label.h"
#include "korv/error.h"
#include "korv/string.h"

namespace {

struct ReplaceCase {
    const char *s;
    const char *find;
    const char *repl;
    int result;
    const char *text;  // the result text when replaced
};

void PrintTo(const ReplaceCase &c, std::ostream *os)
{
    *os << korvtest::label(c.s) << "__" << korvtest::label(c.find) << "__" << korvtest::label(c.repl);
}

const ReplaceCase kReplaceCases[] = {
    {"abcabc", "b", "XY", 1, "aXYcabc"},  // only the first occurrence
    {"abcabc", "zz", "XY", 0, nullptr},
    {"hello world", "world", "X", 1, "hello X"},
    {"hello world", "hello", "", 1, " world"},
    {"key=old", "old", "a much longer value", 1, "key=a much longer value"},
    {"abc", "abc", "", 1, ""},
    {"ab", "abcdef", "x", 0, nullptr},
};

class ReplaceTable : public testing::TestWithParam<ReplaceCase> {};

TEST_P(ReplaceTable, IntoOutput)
{
    const ReplaceCase &c = GetParam();
    std::string s(c.s);
    char out[64];
    std::memset(out, 'Z', sizeof out);
    EXPECT_EQ(KORLStrReplace(s.data(), c.find, c.repl, out, sizeof out), c.result);
    if (c.text)
        EXPECT_STREQ(out, c.text);
    else
        EXPECT_EQ(out[0], 'Z');  // nothing written
    EXPECT_EQ(s, c.s);
}

// Without an output, and with an output that is the text itself (not copied over itself).
TEST_P(ReplaceTable, InPlace)
{
    const ReplaceCase &c = GetParam();
    for (bool outIsText : {false, true}) {
        SCOPED_TRACE(outIsText ? "out == s" : "out null");
        char s[64];
        std::strcpy(s, c.s);
        EXPECT_EQ(KORLStrReplace(s, c.find, c.repl, outIsText ? s : nullptr, sizeof s), c.result);
        EXPECT_STREQ(s, c.text ? c.text : c.s);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ReplaceTable, testing::ValuesIn(kReplaceCases));

TEST(KORLStrReplace, CapacityIncludesTerminator)
{
    char s[] = "abcabc";
    char out[8];
    EXPECT_EQ(KORLStrReplace(s, "b", "XY", out, 7), -1);  // 8 bytes are needed
    EXPECT_EQ(KORLErrGet(), KORL_ERR_BUF_SMALL);
    EXPECT_STREQ(KORLErrFileGet(), "string_replace.cpp");
    EXPECT_EQ(KORLStrReplace(s, "b", "XY", out, 8), 1);
    EXPECT_STREQ(out, "aXYcabc");

    // In place the capacity is that of s: growing a full buffer is refused.
    char full[] = "abcabc";
    EXPECT_EQ(KORLStrReplace(full, "b", "XY", nullptr, sizeof full), -1);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_BUF_SMALL);
    EXPECT_STREQ(full, "abcabc");
}

TEST(KORLStrReplace, CapacityTestedBeforeSearch)
{
    char s[] = "abc";
    char out[4];
    KORLErrSet(0);
    EXPECT_EQ(KORLStrReplace(s, "zz", "", out, 1), -1);  // 3 - 2 + 0 + 1 = 2 bytes
    EXPECT_EQ(KORLErrGet(), KORL_ERR_BUF_SMALL);
    KORLErrSet(0);
    EXPECT_EQ(KORLStrReplace(s, "zz", "", out, 2), 0);
    EXPECT_EQ(KORLErrGet(), 0);  // absent is not a failure
}

TEST(KORLStrReplace, NullArguments)
{
    char s[] = "abc";
    char out[8];
    const struct {
        char *s;
        const char *find;
        const char *repl;
    } calls[] = {{nullptr, "a", "b"}, {s, nullptr, "b"}, {s, "a", nullptr}};
    for (const auto &c : calls) {
        KORLErrSet(0);
        EXPECT_EQ(KORLStrReplace(c.s, c.find, c.repl, out, sizeof out), -1);
        EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
        EXPECT_STREQ(KORLErrFileGet(), "string_replace.cpp");
    }
}

}  // namespace
