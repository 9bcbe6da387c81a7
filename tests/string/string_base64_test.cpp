#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "case_label.h"
#include "korv/error.h"
#include "korv/string.h"

namespace {

std::string bytes(std::initializer_list<int> list)
{
    std::string s;
    for (int b : list)
        s += static_cast<char>(b);
    return s;
}

// The input on a heap block of exactly its size, so that a read past it is caught by ASan.
std::string encodeExact(const std::string &in, int n)
{
    std::unique_ptr<char[]> block(new char[in.size() ? in.size() : 1]);
    std::memcpy(block.get(), in.data(), in.size());
    const char *r = SzBase64EncodeOneLine(block.get(), n);
    return r ? std::string(r) : std::string("(null)");
}

struct EncodeCase {
    std::string in;
    int n;
    const char *out;
};

void PrintTo(const EncodeCase &c, std::ostream *os)
{
    *os << korvtest::label(c.in) << "_n" << c.n;
}

class EncodeTable : public testing::TestWithParam<EncodeCase> {};

TEST_P(EncodeTable, Encodes)
{
    const EncodeCase &c = GetParam();
    EXPECT_EQ(encodeExact(c.in, c.n), c.out);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EncodeTable,
    testing::Values(EncodeCase{"abc", 3, "YWJj"}, EncodeCase{"ab", 2, "YWI="}, EncodeCase{"a", 1, "YQ=="},
                    EncodeCase{"abcd", 4, "YWJjZA=="}, EncodeCase{"abcde", 5, "YWJjZGU="},
                    EncodeCase{"abc", 0, ""}, EncodeCase{"abc", -3, ""},
                    // The count ends the input, not the text: no bit of "c" may show.
                    EncodeCase{"abcdef", 2, "YWI="}, EncodeCase{"abcdef", 1, "YQ=="},
                    // A NUL that begins a group ends the input; inside a group it is data.
                    EncodeCase{bytes({0, 'a', 'b'}), 3, ""}, EncodeCase{bytes({'a', 'b', 'c', 0, 'd'}), 5, "YWJj"},
                    EncodeCase{bytes({'a', 'b', 0, 'c'}), 4, "YWIAYw=="}, EncodeCase{bytes({'a', 0}), 2, "YQA="},
                    EncodeCase{bytes({0xFF, 0xFE, 0xFD}), 3, "//79"}, EncodeCase{bytes({0x80}), 1, "gA=="},
                    EncodeCase{bytes({0xFB, 0xEF}), 2, "++8="}, EncodeCase{"Man is", 6, "TWFuIGlz"}));

TEST(SzBase64EncodeOneLine, NullDataGivesNull)
{
    EXPECT_EQ(SzBase64EncodeOneLine(nullptr, 3), nullptr);
}

TEST(SzBase64EncodeOneLine, OneStaticBufferOverwrittenByNextCall)
{
    char *first = SzBase64EncodeOneLine("abcdef", 6);
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first, "YWJjZGVm");
    char *second = SzBase64EncodeOneLine("a", 1);
    EXPECT_EQ(second, first);
    EXPECT_STREQ(first, "YQ==");  // the longer text is gone whole, not just overwritten in front
    EXPECT_EQ(first[5], 0);
}

// 1533 bytes fill the buffer (2044 characters and the NUL); one byte more is refused, not cut.
TEST(SzBase64EncodeOneLine, LongestInputAndOneMore)
{
    std::string in(1534, 'x');
    std::string max = encodeExact(in.substr(0, 1533), 1533);
    EXPECT_EQ(max.size(), 2044u);
    EXPECT_EQ(max.substr(0, 4), "eHh4");

    KORLErrSet(0);
    EXPECT_EQ(SzBase64EncodeOneLine(in.data(), 1534), nullptr);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_BUF_SMALL);
    EXPECT_EQ(SzBase64EncodeOneLine(in.data(), 100000), nullptr);

    // A NUL beginning a group ends the input early, so a long count can still fit.
    std::string stopped(5000, 'x');
    stopped[1533] = '\0';
    EXPECT_EQ(encodeExact(stopped, 5000), max);
}

struct DecodeCase {
    std::string in;
    int cap;
    int result;
    std::string out;
};

void PrintTo(const DecodeCase &c, std::ostream *os)
{
    *os << korvtest::label(c.in) << "_cap" << c.cap;
}

class DecodeTable : public testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTable, Decodes)
{
    const DecodeCase &c = GetParam();
    unsigned char out[64];
    std::memset(out, 0xEE, sizeof out);
    int cap = c.cap;
    // The input on a block of exactly its size: no byte past n may be read.
    std::unique_ptr<char[]> block(new char[c.in.size() ? c.in.size() : 1]);
    std::memcpy(block.get(), c.in.data(), c.in.size());
    EXPECT_EQ(Base64Decode(block.get(), static_cast<int>(c.in.size()), out, &cap), c.result);
    EXPECT_EQ(cap, static_cast<int>(c.out.size()));
    EXPECT_EQ(std::string(reinterpret_cast<char *>(out), c.out.size()), c.out);
    EXPECT_EQ(out[c.out.size()], 0xEE);  // not terminated, nothing more written
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodeTable,
    testing::Values(DecodeCase{"YWI=", 32, 1, "ab"}, DecodeCase{"YWI", 32, 0, "ab"}, DecodeCase{"YW=I", 32, 0, "a"},
                    DecodeCase{"YWJj", 1, 1, "a"}, DecodeCase{"YWJj", 0, 1, ""}, DecodeCase{"YQ==", 32, 1, "a"},
                    DecodeCase{"YQ", 32, 0, "a"}, DecodeCase{"Y", 32, 0, ""}, DecodeCase{"", 32, 1, ""},
                    DecodeCase{"YQ=", 32, 0, "a"}, DecodeCase{"YQ=x", 32, 0, "a"},
                    // Pad characters only in the last group.
                    DecodeCase{"YQ==YWJj", 32, 0, "a"}, DecodeCase{"YWI=YWJj", 32, 0, "ab"},
                    DecodeCase{"YWJjZGVm", 32, 1, "abcdef"}, DecodeCase{"YWJjZGVm", 4, 1, "abcd"},
                    DecodeCase{"YWJj ZGVm", 32, 0, "abc"}, DecodeCase{"=YWJ", 32, 0, ""},
                    // Bytes of 0x80 and above are invalid characters like any other.
                    DecodeCase{"YWJj\xC3\xA9Zm9v", 32, 0, "abc"}, DecodeCase{"Y\xFFJj", 32, 0, ""},
                    DecodeCase{"//79", 32, 1, bytes({0xFF, 0xFE, 0xFD})}, DecodeCase{"YQA=", 32, 1, bytes({'a', 0})}));

TEST(Base64Decode, WithoutOutputBufferOnlyChecks)
{
    int cap = 16;
    EXPECT_EQ(Base64Decode("YWJj", 4, nullptr, &cap), 1);
    EXPECT_EQ(cap, 0);
    cap = 16;
    EXPECT_EQ(Base64Decode(nullptr, 4, nullptr, &cap), 0);
    EXPECT_EQ(cap, 0);
    // No text and no length: nothing is left over.
    cap = 16;
    EXPECT_EQ(Base64Decode(nullptr, 0, nullptr, &cap), 1);
    EXPECT_EQ(cap, 0);
    unsigned char out[4];
    EXPECT_EQ(Base64Decode("YWJj", 4, out, nullptr), 0);
}

// Every length mod 3, bytes of every value (NULs only where they do not begin a group).
TEST(Base64, RoundTrips)
{
    std::mt19937 rng(1102);
    for (int len = 0; len <= 1533; len += (len < 40 ? 1 : 97)) {
        std::string in(static_cast<size_t>(len), '\0');
        for (int i = 0; i < len; ++i) {
            int b = static_cast<int>(rng() & 0xFF);
            if (i % 3 == 0 && b == 0)
                b = 0x80;
            in[static_cast<size_t>(i)] = static_cast<char>(b);
        }
        std::string enc = encodeExact(in, len);
        ASSERT_EQ(enc.size(), static_cast<size_t>((len + 2) / 3 * 4)) << "length " << len;
        for (char c : enc)
            ASSERT_TRUE(Base64IsValidChar(c) || c == '=') << "length " << len;
        std::vector<unsigned char> out(static_cast<size_t>(len) + 1);
        int cap = static_cast<int>(out.size());
        ASSERT_EQ(Base64Decode(enc.data(), static_cast<int>(enc.size()), out.data(), &cap), 1) << "length " << len;
        ASSERT_EQ(cap, len);
        ASSERT_EQ(std::memcmp(out.data(), in.data(), static_cast<size_t>(len)), 0) << "length " << len;
    }
}

TEST(Base64EncodeChar, AlphabetOfLowSixBits)
{
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int v = 0; v < 64; ++v) {
        EXPECT_EQ(Base64EncodeChar(v), alphabet[static_cast<size_t>(v)]) << v;
        EXPECT_EQ(Base64EncodeChar(v + 64 * 3), alphabet[static_cast<size_t>(v)]) << v;
    }
    EXPECT_EQ(Base64EncodeChar(-1), '/');
}

TEST(Base64IsValidChar, ExactlyTheAlphabet)
{
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int c = 0; c < 256; ++c) {
        const bool valid = c != 0 && alphabet.find(static_cast<char>(c)) != std::string::npos;
        EXPECT_EQ(Base64IsValidChar(c), valid ? 1 : 0) << "byte " << c;
        // A plain (signed) char of 0x80 and above is the same byte.
        EXPECT_EQ(Base64IsValidChar(static_cast<char>(c)), valid ? 1 : 0) << "char " << c;
    }
}

}  // namespace
