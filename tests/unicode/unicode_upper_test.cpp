// Upper-casing of UTF-8 and UTF-16 text and code-point counts.
#include <malloc.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include <gtest/gtest.h>
#include <unicode/ustring.h>

#include "korv/error.h"
#include "korv/unicode.h"
#include "korvtest.h"

namespace {

struct UpperCase {
    const char *src;
    const char *upper;
};

// Root-locale full upper-casing: lengths change, and the dotless/dotted i rules of Turkish do not apply.
const UpperCase kUpperCases[] = {
    {"alice", "ALICE"},
    {"Mixed Case-01_x.y", "MIXED CASE-01_X.Y"},
    {"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89"},           // été
    {"stra\xC3\x9F" "e", "STRASSE"},                      // straße: one letter becomes two
    {"\xEF\xAC\x83", "FFI"},                              // ﬃ: fills its first buffer exactly
    {"\xCE\x90", "\xCE\x99\xCC\x88\xCC\x81"},             // ΐ: one code unit becomes three
    {"\xEF\xAC\x83\xEF\xAC\x83", "FFIFFI"},               // overflows its first buffer
    {"\xEF\xAC\x80" "x", "FFX"},                          // ﬀx
    {"istanbul", "ISTANBUL"},
    {"\xD0\xB0\xD0\xB1\xD0\xB2", "\xD0\x90\xD0\x91\xD0\x92"},  // абв
    {"\xF0\x90\x90\xA8", "\xF0\x90\x90\x80"},             // Deseret, outside the BMP
    {"ABC 123", "ABC 123"},
};

TEST(UnicodeUTF8StrUpper, UpperCasesInRootLocale)
{
    for (const auto &c : kUpperCases) {
        SCOPED_TRACE(c.src);
        char out[64];
        memset(out, 'X', sizeof out);
        EXPECT_EQ(KORLUnicodeUTF8StrUpper(c.src, out, sizeof out), (int)strlen(c.upper));
        EXPECT_STREQ(out, c.upper);
        // Measuring alone gives the same length.
        EXPECT_EQ(KORLUnicodeUTF8StrUpper(c.src, nullptr, 0), (int)strlen(c.upper));
    }
}

TEST(UnicodeUTF8StrUpper, SizedOutput)
{
    struct Case {
        const char *src;
        int outSize;
        int result;
        const char *out;
    } cases[] = {
        {"", 16, 0, ""},
        {"alice", 5, 5, ""},  // no room for the NUL: empty output, full length
        {"alice", 6, 5, "ALICE"},
        {"alice", 1, 5, ""},
        {"stra\xC3\x9F" "e", 7, 7, ""},  // the source fits, its upper-case form does not
        {"stra\xC3\x9F" "e", 8, 7, "STRASSE"},
        {"\xEF\xAC\x83", 3, 3, ""},
        {"\xEF\xAC\x83", 4, 3, "FFI"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.src) + " size " + std::to_string(c.outSize));
        char out[32];
        memset(out, 'X', sizeof out);
        EXPECT_EQ(KORLUnicodeUTF8StrUpper(c.src, out, c.outSize), c.result);
        EXPECT_STREQ(out, c.out);
        EXPECT_EQ(out[c.outSize], 'X') << "wrote past outSize";
    }
    EXPECT_EQ(KORLUnicodeUTF8StrUpper("", nullptr, 0), 0);
    EXPECT_EQ(KORLUnicodeUTF8StrUpper("alice", nullptr, 0), 5);
}

TEST(UnicodeUTF8StrUpper, BadArguments)
{
    char out[8] = "keep";
    struct Case {
        const char *src;
        char *out;
        int outSize;
    } cases[] = {
        {nullptr, out, sizeof out},
        {"abc", out, -1},
        {"abc", nullptr, 4},
    };
    for (const auto &c : cases) {
        KORLErrSet(0);
        EXPECT_EQ(KORLUnicodeUTF8StrUpper(c.src, c.out, c.outSize), -1);
        EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
        EXPECT_STREQ(KORLErrFileGet(), "unicode_utf8str_upper.cpp");
    }
    EXPECT_STREQ(out, "keep");
}

TEST(UnicodeUTF8StrUpper, InvalidUTF8FailsAndLeavesOutput)
{
    for (const char *bad : {"\xC3", "ab\xFF", "\xED\xA0\x80" /* encoded surrogate */, "\xC0\xAF"}) {
        SCOPED_TRACE(bad);
        char out[16] = "keep";
        KORLErrSet(0);
        EXPECT_EQ(KORLUnicodeUTF8StrUpper(bad, out, sizeof out), -1);
        EXPECT_EQ(KORLErrGet(), KORL_ERR_OTHER);
        EXPECT_STREQ(KORLErrFileGet(), "unicode_utf8str_upper.cpp");
        EXPECT_STREQ(out, "keep");
    }
}

// A malloc'd UTF-16 buffer of n code units (KORLUnicodeUTF16StrUpper may realloc it), filled with a
// marker up to the allocator's usable end, so that a text left unterminated shows without a sanitizer.
KORLUCHAR *markedBuffer(int n)
{
    auto *p = static_cast<KORLUCHAR *>(malloc(n * sizeof(KORLUCHAR)));
    size_t units = malloc_usable_size(p) / sizeof(KORLUCHAR);
    for (size_t i = 0; i < units; ++i)
        p[i] = u'#';
    return p;
}

TEST(UnicodeUTF16StrUpper, ResultThatExactlyFillsTheBufferIsRegrownAndTerminated)
{
    // "ﬃ" upper-cases to the three units "FFI": in a 3-unit buffer ICU leaves it unterminated.
    KORLUCHAR *buf = markedBuffer(3);
    EXPECT_EQ(KORLUnicodeUTF16StrUpper(u"\uFB03", &buf, 3), 3);
    EXPECT_EQ(std::u16string(buf, 4), std::u16string(u"FFI\0", 4));
    EXPECT_EQ(u_strlen(reinterpret_cast<const UChar *>(buf)), 3);
    free(buf);
}

TEST(UnicodeUTF16StrUpper, Capacities)
{
    struct Case {
        const char16_t *src;
        int capacity;
        const char16_t *upper;
    } cases[] = {
        {u"abc", 4, u"ABC"},     // fits with its NUL
        {u"abc", 3, u"ABC"},     // exactly full
        {u"abc", 1, u"ABC"},     // too small
        {u"\u00DF", 1, u"SS"},   // grows
        {u"\u00DF\u00DF", 3, u"SSSS"},
        {u"", 1, u""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "capacity " << c.capacity);
        KORLUCHAR *buf = markedBuffer(c.capacity);
        std::u16string want(c.upper);
        EXPECT_EQ(KORLUnicodeUTF16StrUpper(c.src, &buf, c.capacity), (int)want.size());
        EXPECT_EQ(std::u16string(buf, want.size() + 1), want + u'\0');
        free(buf);
    }
}

TEST(UnicodeUTF16StrUpper, BadArguments)
{
    KORLUCHAR *buf = markedBuffer(4);
    KORLUCHAR *none = nullptr;
    struct Case {
        const KORLUCHAR *src;
        KORLUCHAR **pDst;
        int capacity;
    } cases[] = {
        {nullptr, &buf, 4},
        {u"a", nullptr, 4},
        {u"a", &none, 4},
        {u"a", &buf, 0},
        {u"a", &buf, -3},
    };
    for (const auto &c : cases) {
        KORLErrSet(0);
        EXPECT_EQ(KORLUnicodeUTF16StrUpper(c.src, c.pDst, c.capacity), -1);
        EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
        EXPECT_STREQ(KORLErrFileGet(), "unicode_utf16str_upper.cpp");
    }
    EXPECT_EQ(buf[0], u'#');
    free(buf);
}

TEST(UnicodeUTF8StrCountChar, CountsCodePoints)
{
    struct Case {
        const char *s;
        int count;
    } cases[] = {
        {"", 0},
        {"alice", 5},
        {"\xC3\xA9", 1},                               // é, 2 bytes
        {"\xE2\x82\xAC", 1},                           // €, 3 bytes
        {"\xF0\x9F\x98\x80", 1},                       // 😀, a surrogate pair in UTF-16
        {"a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", 4},
        {"e\xCC\x81", 2},                              // e + combining acute: two code points
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.s);
        EXPECT_EQ(KORLUnicodeUTF8StrCountChar(c.s), c.count);
    }
}

TEST(UnicodeUTF8StrCountChar, Failures)
{
    KORLErrSet(0);
    EXPECT_EQ(KORLUnicodeUTF8StrCountChar(nullptr), -1);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
    KORLErrSet(0);
    EXPECT_EQ(KORLUnicodeUTF8StrCountChar("ab\xE2\x82"), -1);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_OTHER);
    EXPECT_STREQ(KORLErrFileGet(), "unicode_utf8str_count_char.cpp");
}

TEST(UnicodeGetLocale, RootLocaleIsValid)
{
    const char *locale = "unset";
    EXPECT_EQ(KORLUnicodeGetLocale(0, &locale), 1);
    EXPECT_STREQ(locale, "");
    const char *again = nullptr;
    EXPECT_EQ(KORLUnicodeGetLocale(1, &again), 1);
    EXPECT_EQ(again, locale);  // the module's own text, not a copy

    KORLErrSet(0);
    EXPECT_EQ(KORLUnicodeGetLocale(0, nullptr), -1);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
}

}  // namespace
