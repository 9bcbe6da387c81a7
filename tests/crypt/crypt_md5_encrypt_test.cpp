// MD5 crypt: the salt rules, against an independent implementation (openssl passwd -1).
#include <crypt.h>
#include <limits.h>
#include <time.h>

#include <string>

#include <gtest/gtest.h>

#include "korv/error.h"
#include "korv_crypt.h"
#include "korvtest.h"

namespace {

struct SaltCase {
    const char *name;
    const char *password;
    const char *saltSource;
    const char *hash;
};

const SaltCase kSaltCases[] = {
    {"two letters", "secret", "ab", "$1$ab$dslkcXxVH.x8LwW1W/oAB/"},
    {"eight characters", "password", "saltsalt", "$1$saltsalt$qjXMvbEw8oaL.CzflDtaK/"},
    // An old hash gives its salt to the new password.
    {"old MD5 hash", "newpass", "$1$saltsalt$qjXMvbEw8oaL.CzflDtaK/", "$1$saltsalt$RTTP01L82JU3dlK8RzVZS0"},
    {"ten after the marker is a hash", "secret", "$1$abcdefghij", "$1$abcdefgh$cHJi5PXp/ki/ktXzqlk6I1"},
    // Nine after "$1$" is no hash: "$1$" goes before it, and crypt stops at its "$".
    {"nine after the marker is text", "secret", "$1$abcdefghi", "$1$$ysVNzQc4CTMkp5daOdZ.3/"},
    // crypt takes eight salt characters, up to a "$".
    {"longer text", "secret", "abcdefghijk", "$1$abcdefgh$cHJi5PXp/ki/ktXzqlk6I1"},
    {"DES hash", "secret", "abJnggxhB/yWI", "$1$abJnggxh$Eo/exqjSqhWjjkujOG2MR1"},
    {"dollar inside", "secret", "ab$cd", "$1$ab$dslkcXxVH.x8LwW1W/oAB/"},
    {"far longer than the buffer",
     "secret",
     "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
     "$1$aaaaaaaa$dh7ISs/8opDP5vIalxXIZ."},
    // A locked old hash keeps the salt of the hash after its marker.
    {"locked old hash", "password", "!$1$saltsalt$qjXMvbEw8oaL.CzflDtaK/", "$1$saltsalt$qjXMvbEw8oaL.CzflDtaK/"},
    {"long old hash", "secret", "$1$aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
     "$1$aaaaaaaa$dh7ISs/8opDP5vIalxXIZ."},
};

TEST(MD5Encrypt, SaltRules)
{
    for (const auto &c : kSaltCases) {
        SCOPED_TRACE(c.name);
        const char *hash = SzSDKIWrapMD5Encrypt(c.password, c.saltSource);
        ASSERT_NE(hash, nullptr);
        EXPECT_STREQ(hash, c.hash);
    }
}

// Each row's hash is what `openssl passwd -1` gave for it when the tests were built
// (md5_openssl_cases.txt).
const SaltCase kOpensslCases[] = {
#include "md5_openssl.inc"
};

TEST(MD5Encrypt, AgreesWithOpenssl)
{
    for (const auto &c : kOpensslCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(korv::Md5Crypt(c.password, std::string("$1$") + c.saltSource), c.hash);
        // The wrapper takes every salt byte but "$"; an empty source asks for a clock salt.
        if (*c.saltSource) {
            const char *hash = SzSDKIWrapMD5Encrypt(c.password, c.saltSource);
            ASSERT_NE(hash, nullptr);
            EXPECT_STREQ(hash, c.hash);
        }
    }
}

TEST(MD5Encrypt, EmptySaltSourceTakesTwoCharactersFromTheClock)
{
    time_t before = time(nullptr);
    const char *hash = SzSDKIWrapMD5Encrypt("secret", "");
    time_t after = time(nullptr);
    ASSERT_NE(hash, nullptr);
    std::string h = hash;
    ASSERT_EQ(h.size(), 3u + 2 + 1 + 22) << h;
    EXPECT_EQ(h.substr(0, 3), "$1$");
    EXPECT_EQ(h[5], '$');
    bool fromClock = false;
    for (time_t t = before; t <= after; t++)
        fromClock |= h[3] == SaltCharGet(t) && h[4] == SaltCharGet((long long)t + 10);
    EXPECT_TRUE(fromClock) << h;
    // A verifiable MD5 crypt hash of the password.
    EXPECT_EQ(std::string(crypt("secret", h.c_str())), h);
}

TEST(MD5Encrypt, Failures)
{
    struct Case {
        const char *name;
        const char *password;
        const char *saltSource;
        int code;
    } cases[] = {
        {"null password", nullptr, "ab", KORL_ERR_BAD_PARAM},
        {"null salt source", "secret", nullptr, KORL_ERR_BAD_PARAM},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        KORLErrSet(0);
        EXPECT_EQ(SzSDKIWrapMD5Encrypt(c.password, c.saltSource), nullptr);
        EXPECT_EQ(KORLErrGet(), c.code);
    }
}

TEST(SaltCharGet, MapsTheMagnitudeModulo64)
{
    struct Case {
        long long value;
        char c;
    } cases[] = {
        {0, '0'}, {9, '9'}, {10, 'A'}, {35, 'Z'}, {36, 'a'}, {61, 'z'}, {62, '.'}, {63, '/'},
        {64, '0'}, {-1, '1'}, {-63, '/'}, {-64, '0'}, {INT_MIN, '0'}, {INT_MAX, '/'},
        // Clock values past 32 bits keep their low bits: no narrowing to int.
        {(1LL << 31) + 1, '1'}, {(1LL << 32) + 10, 'A'}, {LLONG_MIN, '0'}, {LLONG_MAX, '/'},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(SaltCharGet(c.value), c.c);
    }
}

TEST(UserIsPasswdMD5Encrypt, NeedsMoreThanNineCharactersAfterTheMarker)
{
    struct Case {
        const char *passwd;
        int result;
    } cases[] = {
        {"$1$abcdefghi", 0}, {"$1$abcdefghij", 1}, {"$1$saltsalt$qjXMvbEw8oaL.CzflDtaK/", 1},
        {"!$1$saltsalt$qjXMvbEw8oaL.CzflDtaK/", 1}, {"abJnggxhB/yWI", 0}, {"", 0}, {"$2$abcdefghijkl", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.passwd);
        EXPECT_EQ(KORVUserIsPasswdMD5Encrypt(c.passwd), c.result);
    }
    KORLErrSet(0);
    EXPECT_EQ(KORVUserIsPasswdMD5Encrypt(nullptr), 0);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
}

}  // namespace
