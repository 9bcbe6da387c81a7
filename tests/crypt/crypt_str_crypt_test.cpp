// The string cipher: fixed values derived independently from its definition, round trips, and
// its argument checks.
#include <string.h>
#include <syslog.h>

#include <random>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "korv/crypt.h"
#include "korv/error.h"
#include "korv_crypt.h"
#include "korvtest.h"

namespace {

std::string scramble(const std::string &text)
{
    std::vector<unsigned char> out(text.size() + 1, 0xAA);
    EXPECT_EQ(KORVStrCrypt(text.c_str(), out.data(), (int)out.size()), 0);
    EXPECT_EQ(out.back(), 0);  // the rest of out is cleared
    return std::string(out.begin(), out.end() - 1);
}

std::string unscramble(const std::string &bytes)
{
    std::vector<unsigned char> out(bytes.size() + 1, 0xAA);
    EXPECT_EQ(KORVStrCryptBytes((const unsigned char *)bytes.data(), (int)bytes.size(), out.data(), (int)out.size()), 0);
    return std::string(out.begin(), out.end() - 1);
}

struct FixedCase {
    const char *text;
    std::string bytes;
};

// Computed by a separate model of the rotor, keyed by crypt("QTVMA_7.4", "QJ") = "QJp2Bk519YODo".
const FixedCase kFixedCases[] = {
    {"a", std::string("\x4E", 1)},
    {"password", std::string("\xFE\xBC\x50\x5B\xB5\xD8\xA1\xCA", 8)},
    {"Vaultmere rsync secret 1!",
     std::string("\x91\xBC\x42\x6A\xA3\xF7\xCB\x9D\x67\x14\xCC\xAF\xA9\xAC\xA6\x28\x56\x4D\x40\xA2\x90"
                 "\xE2\x92\x5C\x9A", 25)},
    // A result may begin with a 0 byte.
    {"1secret", std::string("\x00\xDC\xF6\x80\x5A\x54\xEE", 7)},
    {"\xC3\xA9t\xC3\xA9", std::string("\x09\x3F\x5C\x98\xC1", 5)},
};

TEST(StrCrypt, FixedValuesAndTheirRoundTrips)
{
    for (const auto &c : kFixedCases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(scramble(c.text), c.bytes);
        EXPECT_EQ(unscramble(c.bytes), c.text);
    }
}

TEST(StrCrypt, SecondOffsetStepsAfter256Bytes)
{
    std::string text;
    for (int i = 0; i < 300; i++)
        text += "0123456789abcdefghijklmnopqrstuvwxyz"[i % 36];
    std::string bytes = scramble(text);
    ASSERT_EQ(bytes.size(), 300u);
    EXPECT_EQ(bytes.substr(0, 4), "\xA9\x03\xA9\xA5");
    EXPECT_EQ(bytes.substr(254, 8), "\xAB\x05\x2D\x8F\x41\x9C\xF3\xF8");
    EXPECT_EQ(unscramble(bytes), text);
}

TEST(StrCrypt, EveryByteValueRoundTrips)
{
    std::mt19937 rng(7);
    for (size_t len : {1u, 2u, 255u, 256u, 257u, 768u, 70000u}) {
        SCOPED_TRACE(len);
        std::string bytes(len, '\0');
        for (auto &b : bytes)
            b = (char)(rng() & 0xFF);
        std::string once = unscramble(bytes);
        EXPECT_NE(once, bytes);
        EXPECT_EQ(unscramble(once), bytes);
    }
}

// The reflector has no fixed point, so no byte ever comes back as itself.
TEST(StrCrypt, NoByteScramblesToItself)
{
    for (int x = 0; x < 256; x++) {
        for (int at : {0, 1, 255, 256, 600}) {
            std::string bytes(at + 1, 'z');
            bytes[at] = (char)x;
            EXPECT_NE(unscramble(bytes)[at], (char)x) << "byte " << x << " at " << at;
        }
    }
}

TEST(StrCrypt, Tables)
{
    StrCryptTables a, b;
    memset(&a, 0x55, sizeof a);
    memset(&b, 0xAA, sizeof b);
    StrCryptTableInit(&a);
    StrCryptTableInit(&b);
    EXPECT_EQ(memcmp(&a, &b, sizeof a), 0);
    std::vector<int> seen(256, 0);
    for (int i = 0; i < 256; i++) {
        seen[a.P[i]]++;
        EXPECT_EQ(a.Q[a.P[i]], i);
        EXPECT_NE(a.R[i], i);
        EXPECT_EQ(a.R[a.R[i]], i);
    }
    EXPECT_EQ(seen, std::vector<int>(256, 1));
}

// The cipher's own crypt call must not overwrite a hash that a caller still holds.
TEST(StrCrypt, LeavesCryptsResultAlone)
{
    const char *hash = SzSDKIWrapMD5Encrypt("secret", "ab");
    ASSERT_NE(hash, nullptr);
    std::string held = hash;
    unsigned char out[16];
    ASSERT_EQ(KORVStrCrypt("password", out, sizeof out), 0);
    EXPECT_EQ(std::string(hash), held);
}

// Argument errors: -1, a message, out untouched and no library error code.
TEST(StrCrypt, ArgumentErrors)
{
    struct Case {
        const char *name;
        const char *text;
        bool out;
        int cbOut;
        const char *message;
    } cases[] = {
        {"null text", nullptr, true, 8, "wrong parameters"},
        {"null out", "abc", false, 8, "wrong parameters"},
        {"empty text, no room", "", true, 0, "iLen is not enough!!"},
        {"negative size", "", true, -1, "iLen is not enough!!"},
        {"no room for the end", "abcd", true, 4, "iLen is not enough!!"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        unsigned char out[8];
        memset(out, 0xAA, sizeof out);
        korvtest::syslog_clear();
        KORLErrSet(KORL_ERR_MALFORMED);
        EXPECT_EQ(KORVStrCrypt(c.text, c.out ? out : nullptr, c.cbOut), -1);
        EXPECT_EQ(KORLErrGet(), KORL_ERR_MALFORMED);
        EXPECT_EQ(std::string((char *)out, sizeof out), std::string(sizeof out, '\xAA'));
        auto lines = korvtest::syslog_lines();
        ASSERT_EQ(lines.size(), 1u) << korvtest::syslog_dump();
        EXPECT_EQ(lines[0].severity(), LOG_ERR);
        std::regex want(std::string("crypt_str_crypt\\.cpp KORVStrCrypt\\([0-9]+\\): ") + c.message);
        EXPECT_TRUE(std::regex_match(lines[0].message, want)) << lines[0].message;
    }

    unsigned char out[8];
    EXPECT_EQ(KORVStrCryptBytes((const unsigned char *)"ab", -1, out, sizeof out), -1);
    EXPECT_EQ(KORVStrCryptBytes((const unsigned char *)"ab", 2, out, 2), -1);
}

TEST(StrCrypt, ExactRoom)
{
    unsigned char out[8];
    memset(out, 0xAA, sizeof out);
    EXPECT_EQ(KORVStrCrypt("", out, 1), 0);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 0xAA);  // only cbOut bytes are cleared
    EXPECT_EQ(KORVStrCrypt("abcd", out, 5), 0);
    EXPECT_EQ(out[4], 0);
}

}  // namespace
