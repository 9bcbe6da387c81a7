// The SMB password hashes against published values and values of independent DES and MD4 tools.
#include <string.h>
#include <syslog.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "korv/encoding.h"
#include "korv/error.h"
#include "korvtest.h"

namespace {

using HashFn = int (*)(const char *, unsigned char *, int);

// 32 upper-case hex digits of the hash, or "<result code>" when the call fails.
std::string hashText(HashFn fn, const char *password)
{
    unsigned char out[KORL_SMB_HASH_SIZE];
    memset(out, 0xAA, sizeof out);
    if (fn(password, out, sizeof out) != 0)
        return "<" + std::to_string(KORLErrGet()) + ">";
    char hex[2 * KORL_SMB_HASH_SIZE + 1];
    for (int i = 0; i < KORL_SMB_HASH_SIZE; i++)
        snprintf(hex + 2 * i, 3, "%02X", out[i]);
    return hex;
}

std::string lm(const char *password) { return hashText(KORLEncodingSmbLmHash, password); }
std::string nt(const char *password) { return hashText(KORLEncodingSmbMd4Hash, password); }

void setCodePage(const char *code)
{
    korvtest::write_file("/etc/korvinfo.conf", std::string("codepage=\"") + code + "\"\n");
}

struct HashCase {
    const char *codepage;
    const char *password;
    const char *lm;
    const char *nt;
};

const HashCase kHashCases[] = {
    // Published: the empty password, and [MS-NLMP]'s "Password".
    {"enu", "", "AAD3B435B51404EEAAD3B435B51404EE", "31D6CFE0D16AE931B73C59D7E0C089C0"},
    {"enu", "Password", "E52CAC67419A9A224A3B108F3FA6CB6D", "A4F49C406510BDCAB6824EE7C30FD852"},
    // LM ignores case, NT does not.
    {"enu", "password", "E52CAC67419A9A224A3B108F3FA6CB6D", "8846F7EAEE8FB117AD06BDD830B7586C"},
    // Upper-cased, then in the Windows code page: é is 0xC9 in windows-1252, я is 0xDF in
    // windows-1251, and ß upper-cases to SS.
    {"enu", "\xC3\xA9", "788049B18976B67AAAD3B435B51404EE", "E77286D072C7858E9110CC3A011D2AC8"},
    {"enu", "\xC3\xA4\xC3\xB6\xE2\x82\xAC", "31E80D6A4EFF0F50AAD3B435B51404EE", nullptr},
    {"rus", "\xD1\x8F", "09D2BEC945DC1B69AAD3B435B51404EE", nullptr},
    {"ger", "Stra\xC3\x9F" "e", "A938093FE28F6773AAD3B435B51404EE", "FE90E8DB6649689E425379947E4A1155"},
    {"jpn", "\xE3\x81\x82\xE3\x81\x84\xE3\x81\x86", "B825BDB69A3A2C20AAD3B435B51404EE", nullptr},
    {"enu", "\xE4\xB8\xAD", nullptr, "58338FAA73B4494971D2BF00296F0FC0"},
    // LM keeps 14 bytes.
    {"enu", "abcdefghijklmnopqrst", "E0C510199CC66ABD8C51EC214BEBDEA1", nullptr},
    {"enu", "ABCDEFGHIJKLMN", "E0C510199CC66ABD8C51EC214BEBDEA1", nullptr},
};

TEST(SmbHash, KnownValues)
{
    for (const auto &c : kHashCases) {
        SCOPED_TRACE(testing::Message() << c.codepage << " [" << c.password << "]");
        setCodePage(c.codepage);
        if (c.lm) {
            EXPECT_EQ(lm(c.password), c.lm);
        }
        if (c.nt) {
            EXPECT_EQ(nt(c.password), c.nt);
        }
    }
}

TEST(SmbHash, NtNeedsNoCodePage)
{
    unlink("/etc/korvinfo.conf");
    EXPECT_EQ(nt("password"), "8846F7EAEE8FB117AD06BDD830B7586C");
}

// A failed LM hash is -1 with a zeroed output, whatever was in the buffer.
TEST(SmbLmHash, FailsWithZeroedOutput)
{
    const std::string tooLong(128, 'a');
    struct Case {
        const char *name;
        const char *settings;  // /etc/korvinfo.conf, or null for none
        const char *password;
        int code;  // korverr after the call (0: left as it was)
    } cases[] = {
        {"unknown language", "codepage=\"xyz\"\n", "secret", 0},
        {"no codepage key", "language=\"enu\"\n", "secret", KORL_ERR_NOT_FOUND},
        {"no settings file", nullptr, "secret", KORL_ERR_OPEN},
        {"null password", "codepage=\"enu\"\n", nullptr, KORL_ERR_BAD_PARAM},
        {"not UTF-8", "codepage=\"enu\"\n", "ab\xFF", KORL_ERR_OTHER},
        // 128 bytes do not fit the 128-byte buffer with their NUL.
        {"too long to upper-case", "codepage=\"enu\"\n", tooLong.c_str(), KORL_ERR_BUF_SMALL},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.settings)
            korvtest::write_file("/etc/korvinfo.conf", c.settings);
        else
            unlink("/etc/korvinfo.conf");
        unsigned char out[KORL_SMB_HASH_SIZE];
        memset(out, 0xAA, sizeof out);
        KORLErrSet(0);
        EXPECT_EQ(KORLEncodingSmbLmHash(c.password, out, sizeof out), -1);
        EXPECT_EQ(KORLErrGet(), c.code);
        EXPECT_EQ(std::string((char *)out, sizeof out), std::string(sizeof out, '\0'));
    }

    // One byte shorter fits: the hash of its first 14 characters.
    setCodePage("enu");
    EXPECT_EQ(lm(std::string(127, 'a').c_str()), lm("AAAAAAAAAAAAAA"));
}

TEST(SmbHash, OutputBufferChecks)
{
    setCodePage("enu");
    for (HashFn fn : {KORLEncodingSmbLmHash, KORLEncodingSmbMd4Hash}) {
        unsigned char out[KORL_SMB_HASH_SIZE + 4];
        memset(out, 0xAA, sizeof out);
        KORLErrSet(0);
        EXPECT_EQ(fn("secret", out, 8), -1);
        EXPECT_EQ(KORLErrGet(), KORL_ERR_BUF_SMALL);
        // Only the 8 bytes the caller owns are zeroed.
        EXPECT_EQ(std::string((char *)out, 8), std::string(8, '\0'));
        EXPECT_EQ(out[8], 0xAA);

        memset(out, 0xAA, sizeof out);
        EXPECT_EQ(fn("secret", out, KORL_SMB_HASH_SIZE), 0);
        EXPECT_EQ(out[KORL_SMB_HASH_SIZE], 0xAA);  // 16 bytes written, no more

        KORLErrSet(0);
        EXPECT_EQ(fn("secret", nullptr, KORL_SMB_HASH_SIZE), -1);
        EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
    }
    unsigned char out[KORL_SMB_HASH_SIZE];
    memset(out, 0xAA, sizeof out);
    KORLErrSet(0);
    EXPECT_EQ(KORLEncodingSmbMd4Hash(nullptr, out, sizeof out), -1);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
    EXPECT_EQ(std::string((char *)out, sizeof out), std::string(sizeof out, '\0'));
}

TEST(SmbMd4Hash, HashesAtMost127Characters)
{
    std::string s200(200, 'x');
    std::string s128(128, 'x');
    std::string s127(127, 'x');
    std::string s126(126, 'x');
    EXPECT_EQ(nt(s200.c_str()), nt(s127.c_str()));
    EXPECT_EQ(nt(s128.c_str()), nt(s127.c_str()));
    EXPECT_NE(nt(s127.c_str()), nt(s126.c_str()));
    // Characters, not bytes: 127 two-byte characters still count as 127.
    std::string e200, e127;
    for (int i = 0; i < 200; i++)
        e200 += "\xC3\xA9";
    for (int i = 0; i < 127; i++)
        e127 += "\xC3\xA9";
    EXPECT_EQ(nt(e200.c_str()), nt(e127.c_str()));
    EXPECT_NE(nt(e127.c_str()), nt(e127.substr(2).c_str()));
}

// UTF-8 the hash cannot take ends the text hashed there; the call still succeeds.
TEST(SmbMd4Hash, StopsAtCharactersItCannotTake)
{
    struct Case {
        const char *name;
        const char *password;
        const char *same_as;
        int converted;  // characters before the bad one, or -1 when nothing is logged
    } cases[] = {
        {"outside the BMP", "ab\xF0\x9F\x98\x80" "cd", "ab", 2},
        {"stray continuation", "\x80xyz", "", 0},
        {"cut three-byte sequence", "a\xE4\xB8", "a", 1},
        {"lead byte without continuation", "ab\xC3" "c", "ab", 2},
        {"five-byte lead", "abc\xF8\x88\x80\x80\x80", "abc", 3},
        // An overlong NUL is a character of value 0: the text ends, nothing is wrong.
        {"overlong NUL", "ab\xC0\x80" "cd", "ab", -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        korvtest::syslog_clear();
        EXPECT_EQ(nt(c.password), nt(c.same_as));
        auto lines = korvtest::syslog_lines();
        if (c.converted < 0) {
            EXPECT_TRUE(lines.empty()) << korvtest::syslog_dump();
            continue;
        }
        ASSERT_EQ(lines.size(), 1u) << korvtest::syslog_dump();
        EXPECT_EQ(lines[0].severity(), LOG_ERR);
        std::string tail = "Bad UTF-8 character after [" + std::to_string(c.converted) +
                           "]-th character of string: [********]";
        EXPECT_TRUE(lines[0].message.starts_with("encoding_smb_md4hash.cpp:")) << lines[0].message;
        EXPECT_TRUE(lines[0].message.ends_with(tail)) << lines[0].message;
        // The password never reaches the log.
        EXPECT_EQ(lines[0].message.find(c.password), std::string::npos);
    }
}

}  // namespace
