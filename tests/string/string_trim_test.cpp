#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "case_label.h"
#include "korv/error.h"
#include "korv/string.h"

namespace {

TEST(StrIsSpace, OnlyTheFourWhiteSpaceBytes)
{
    for (int c = 0; c < 256; ++c) {
        const bool space = c == '\t' || c == '\n' || c == '\r' || c == ' ';
        EXPECT_EQ(StrIsSpace(c), space ? 1 : 0) << "byte " << c;
    }
}

struct TrimCase {
    const char *in;
    const char *out;
};

void PrintTo(const TrimCase &c, std::ostream *os)
{
    *os << korvtest::label(c.in);
}

const TrimCase kTrimCases[] = {
    {"  \"ab c\"\t\n", "ab c"},
    {" \"\" ", ""},
    {"\"", "\""},
    {"\" a \"", " a "},
    {"", ""},
    {" \t\r\n ", ""},
    {"\vx\f", "\vx\f"},             // vertical tab and form feed are kept
    {"\r\n key \r\n", "key"},
    {"\"a\"\"", "a\""},              // only one pair of quotes goes
    {"\"\"\"", "\""},
    {"x\"", "x\""},
    {"\"x", "\"x"},
    {" \"  a b  \" ", "  a b  "},  // white space inside the quotes stays
    {"a  b", "a  b"},
};

class TrimTable : public testing::TestWithParam<TrimCase> {};

TEST_P(TrimTable, InPlace)
{
    const TrimCase &c = GetParam();
    std::string s(c.in);
    EXPECT_EQ(KORLStrTrimSpace(s.data(), nullptr), static_cast<int>(std::strlen(c.out)));
    EXPECT_STREQ(s.c_str(), c.out);
}

TEST_P(TrimTable, OutEqualToTextIsInPlace)
{
    const TrimCase &c = GetParam();
    std::string s(c.in);
    EXPECT_EQ(KORLStrTrimSpace(s.data(), s.data()), static_cast<int>(std::strlen(c.out)));
    EXPECT_STREQ(s.c_str(), c.out);
}

TEST_P(TrimTable, IntoOtherBufferLeavesTextAlone)
{
    const TrimCase &c = GetParam();
    std::string s(c.in);
    char out[64];
    std::memset(out, 'Z', sizeof out);
    EXPECT_EQ(KORLStrTrimSpace(s.data(), out), static_cast<int>(std::strlen(c.out)));
    EXPECT_STREQ(out, c.out);
    EXPECT_EQ(s, c.in);
    EXPECT_EQ(out[std::strlen(c.out) + 1], 'Z');  // nothing written past the terminator
}

INSTANTIATE_TEST_SUITE_P(Cases, TrimTable, testing::ValuesIn(kTrimCases));

TEST(KORLStrTrimSpace, NullTextFails)
{
    char out[8];
    EXPECT_EQ(KORLStrTrimSpace(nullptr, out), -1);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
    EXPECT_STREQ(KORLErrFileGet(), "string_trim_space.cpp");
}

TEST(KORLStrTrimSpace, OutInsideTextPastFirstByteFails)
{
    char s[] = "  ab  ";
    for (size_t off = 1; off <= std::strlen("  ab  "); ++off) {
        KORLErrSet(0);
        EXPECT_EQ(KORLStrTrimSpace(s, s + off), -1) << "offset " << off;
        EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
        EXPECT_STREQ(s, "  ab  ");
    }
    // Just past the terminator is another buffer.
    char two[16] = "  ab  ";
    EXPECT_EQ(KORLStrTrimSpace(two, two + 7), 2);
    EXPECT_STREQ(two + 7, "ab");
    EXPECT_STREQ(two, "  ab  ");
}

TEST(KORLStrTrimSpace, OutOverlappingBeforeText)
{
    char buf[] = "xx  ab  ";
    EXPECT_EQ(KORLStrTrimSpace(buf + 2, buf), 2);
    EXPECT_STREQ(buf, "ab");
}

}  // namespace
