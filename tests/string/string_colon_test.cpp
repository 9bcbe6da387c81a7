#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "case_label.h"
#include "korv/error.h"
#include "korv/string.h"

namespace {

struct ColonCase {
    const char *plain;
    const char *encoded;
};

void PrintTo(const ColonCase &c, std::ostream *os)
{
    *os << korvtest::label(c.plain);
}

const ColonCase kColonCases[] = {
    {"a:b;c", "a;,b;;c"},
    {"", ""},
    {"plain text", "plain text"},
    {":", ";,"},
    {";", ";;"},
    {"::;;", ";,;,;;;;"},
    {";,", ";;,"},
    {"\xC3\xA9:\xFF", "\xC3\xA9;,\xFF"},
};

class ColonTable : public testing::TestWithParam<ColonCase> {};

TEST_P(ColonTable, EncodeAndDecode)
{
    const ColonCase &c = GetParam();
    char enc[64];
    char dec[64];
    EXPECT_EQ(KORLStrEncodeColon(c.plain, enc, sizeof enc), static_cast<int>(std::strlen(c.encoded)));
    EXPECT_STREQ(enc, c.encoded);
    EXPECT_EQ(KORLStrDecodeColon(enc, dec, sizeof dec), static_cast<int>(std::strlen(c.plain)));
    EXPECT_STREQ(dec, c.plain);
}

// The exact capacity fits; one byte less fails.
TEST_P(ColonTable, EncodeExactCapacity)
{
    const ColonCase &c = GetParam();
    const int need = static_cast<int>(std::strlen(c.encoded)) + 1;
    char enc[64];
    EXPECT_EQ(KORLStrEncodeColon(c.plain, enc, need), need - 1);
    EXPECT_STREQ(enc, c.encoded);
    EXPECT_EQ(KORLStrEncodeColon(c.plain, enc, need - 1), -1);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_BUF_SMALL);
}

INSTANTIATE_TEST_SUITE_P(Cases, ColonTable, testing::ValuesIn(kColonCases));

TEST(KORLStrEncodeColon, EveryByteRoundTrips)
{
    std::string all;
    for (int c = 1; c < 256; ++c)
        all += static_cast<char>(c);
    char enc[600];
    char dec[600];
    ASSERT_EQ(KORLStrEncodeColon(all.c_str(), enc, sizeof enc), 257);  // ':' and ';' take two
    ASSERT_EQ(KORLStrDecodeColon(enc, dec, sizeof dec), 255);
    EXPECT_EQ(std::string(dec), all);
}

// A text that does not fit leaves the bytes that did, terminated, and nothing past cap. Each byte
// is checked as it is written, so the first byte of an escape may be kept without the second.
TEST(KORLStrEncodeColon, TooSmallBufferTerminatesWhatFitted)
{
    const struct {
        const char *in;
        int cap;
        const char *kept;
    } cases[] = {
        {"a:b", 2, "a"},
        {"a:b", 3, "a;"},
        {"a:b", 4, "a;,"},
        {"abc", 1, ""},
        {"abc", 3, "ab"},
        {";", 2, ";"},
        {"x;;", 4, "x;;"},
    };
    for (const auto &c : cases) {
        char out[16];
        std::memset(out, 'Z', sizeof out);
        KORLErrSet(0);
        EXPECT_EQ(KORLStrEncodeColon(c.in, out, c.cap), -1) << c.in << " cap " << c.cap;
        EXPECT_EQ(KORLErrGet(), KORL_ERR_BUF_SMALL);
        EXPECT_STREQ(KORLErrFileGet(), "string_encode_colon.cpp");
        EXPECT_STREQ(out, c.kept);
        for (int i = c.cap; i < 16; ++i)
            ASSERT_EQ(out[i], 'Z') << c.in << ": byte " << i << " past the capacity";
    }
}

TEST(KORLStrEncodeColon, NoCapacityWritesNothing)
{
    char out[4] = {'Z', 'Z', 'Z', 'Z'};
    EXPECT_EQ(KORLStrEncodeColon("", out, 0), -1);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_BUF_SMALL);
    EXPECT_EQ(out[0], 'Z');
    EXPECT_EQ(KORLStrEncodeColon("a", out, -5), -1);
    EXPECT_EQ(out[0], 'Z');
}

TEST(KORLStrDecodeColon, StrayEscapeEndsText)
{
    const struct {
        const char *in;
        const char *out;
    } cases[] = {
        {"a;xb", "a"},
        {"ab;", "ab"},
        {";", ""},
        {";;;,", ";:"},
        {"a;,;", "a:"},
        {";,b;q;,", ":b"},
    };
    for (const auto &c : cases) {
        char out[16];
        EXPECT_EQ(KORLStrDecodeColon(c.in, out, sizeof out), static_cast<int>(std::strlen(c.out))) << c.in;
        EXPECT_STREQ(out, c.out) << c.in;
    }
}

TEST(KORLStrDecodeColon, CapacityIsInputLength)
{
    char out[8];
    // "a;,b" decodes to three bytes, but the test is on the input's length.
    EXPECT_EQ(KORLStrDecodeColon("a;,b", out, 4), -1);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_BUF_SMALL);
    EXPECT_STREQ(KORLErrFileGet(), "string_decode_colon.cpp");
    EXPECT_EQ(KORLStrDecodeColon("a;,b", out, 5), 3);
    EXPECT_STREQ(out, "a:b");
}

TEST(ColonEscaping, BadParameters)
{
    char buf[16] = "a:b";
    using Fn = int (*)(const char *, char *, int);
    const struct {
        Fn fn;
        const char *file;
    } fns[] = {{KORLStrEncodeColon, "string_encode_colon.cpp"}, {KORLStrDecodeColon, "string_decode_colon.cpp"}};
    for (const auto &f : fns) {
        char out[16];
        KORLErrSet(0);
        EXPECT_EQ(f.fn(nullptr, out, sizeof out), -1);
        EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
        KORLErrSet(0);
        EXPECT_EQ(f.fn(buf, nullptr, sizeof out), -1);
        EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
        KORLErrSet(0);
        EXPECT_EQ(f.fn(buf, buf, sizeof buf), -1);
        EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
        EXPECT_STREQ(KORLErrFileGet(), f.file);
        EXPECT_STREQ(buf, "a:b");
    }
}

}  // namespace
