// Caseless comparison: the root collator's order of the upper-cased texts, not byte order.
#include <string.h>

#include <string>

#include <gtest/gtest.h>
#include <unicode/ucol.h>

#include "korv/error.h"
#include "korv/unicode.h"
#include "korvtest.h"

namespace {

struct CmpCase {
    const char *a;
    const char *b;
    int result;
};

const CmpCase kCmpCases[] = {
    {"alice", "ALICE", 0},
    {"Alice", "aLiCe", 0},
    {"a", "B", -1},
    {"b", "A", 1},
    {"", "", 0},
    {"", "a", -1},
    {"\xC3\xA9", "f", -1},           // é before f, though 0xC3 > 'f'
    {"\xC3\x84rger", "Zebra", -1},   // Ärger before Zebra
    {"\xC3\xA9", "E", 1},            // an accent sorts after the plain letter
    {"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", 0},  // été / ÉTÉ
    {"_x", "ax", -1},                // punctuation before letters, though '_' > 'A'
    {"user10", "user9", -1},         // no numeric ordering
    {"stra\xC3\x9F" "e", "STRASSE", 0},
    {"\xEF\xAC\x83", "ffi", 0},      // ﬃ upper-cases to FFI, filling its buffer exactly
    {"\xEF\xAC\x83x", "FFIY", -1},
    {"z", "\xD1\x8F", -1},           // Latin before Cyrillic
    {"group-a", "group_a", 1},
};

TEST(UnicodeUTF8StrCaseCmp, RootCollationOfUpperCasedTexts)
{
    for (const auto &c : kCmpCases) {
        SCOPED_TRACE(std::string(c.a) + " <> " + c.b);
        EXPECT_EQ(KORLUnicodeUTF8StrCaseCmp(c.a, c.b), c.result);
        EXPECT_EQ(KORLUnicodeUTF8StrCaseCmp(c.b, c.a), -c.result);
    }
}

TEST(UnicodeUTF8StrCaseCmp, AgreesWithTheRootCollatorOnUpperCasedTexts)
{
    // The order must be the collator's, not strcmp's, for names that differ from byte order.
    UErrorCode st = U_ZERO_ERROR;
    UCollator *root = ucol_open("", &st);
    ASSERT_TRUE(U_SUCCESS(st));
    const char *names[] = {"Zo\xC3\xAB", "zoe", "\xC3\x85sa", "Bj\xC3\xB6rn", "bjorn", "_admin", "Admin", "\xC3\xA9mile", "Emma"};
    for (const char *a : names) {
        for (const char *b : names) {
            char ua[64], ub[64];
            ASSERT_GT(KORLUnicodeUTF8StrUpper(a, ua, sizeof ua), 0);
            ASSERT_GT(KORLUnicodeUTF8StrUpper(b, ub, sizeof ub), 0);
            UErrorCode e = U_ZERO_ERROR;
            int want = ucol_strcollUTF8(root, ua, -1, ub, -1, &e);
            ASSERT_TRUE(U_SUCCESS(e));
            EXPECT_EQ(KORLUnicodeUTF8StrCaseCmp(a, b), want) << a << " <> " << b;
        }
    }
    ucol_close(root);
}

TEST(UnicodeUTF8StrCaseCmp, Failures)
{
    struct Case {
        const char *a;
        const char *b;
        int code;
    } cases[] = {
        {nullptr, "a", KORL_ERR_BAD_PARAM},
        {"a", nullptr, KORL_ERR_BAD_PARAM},
        {"\xC3", "a", KORL_ERR_OTHER},
        {"a", "b\xFF", KORL_ERR_OTHER},
    };
    for (const auto &c : cases) {
        KORLErrSet(0);
        EXPECT_EQ(KORLUnicodeUTF8StrCaseCmp(c.a, c.b), -2);
        EXPECT_EQ(KORLErrGet(), c.code);
        EXPECT_STREQ(KORLErrFileGet(), "unicode_utf8str_case_cmp.cpp");
    }
}

TEST(UnicodeOpenCollator, OpenedOnceAndKept)
{
    UCollator *first = KORLUnicodeOpenCollator();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(KORLUnicodeOpenCollator(), first);
    UErrorCode st = U_ZERO_ERROR;
    EXPECT_STREQ(ucol_getLocaleByType(first, ULOC_ACTUAL_LOCALE, &st), "root");
}

}  // namespace
