// UTF-8 into the device's code pages through the converters the build makes.
#include <stdlib.h>
#include <string.h>

#include <string>

#include <gtest/gtest.h>
#include <unicode/putil.h>
#include <unicode/ucnv.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include "korv/error.h"
#include "korv/unicode.h"
#include "korvtest.h"

namespace {

// The converted bytes of src, through the sized output.
std::string convert(int index, const char *src)
{
    char out[64];
    memset(out, 'X', sizeof out);
    int n = KORLUnicodeStrUTF8ToCP(index, src, out, sizeof out);
    if (n < 0 || n >= (int)sizeof out)
        return "<" + std::to_string(n) + ">";
    return std::string(out, n);
}

struct ConvertCase {
    int index;
    const char *src;
    const char *bytes;
};

const ConvertCase kConvertCases[] = {
    {15, "\xC3\xA9", "\xE9"},                                  // windows-1252 é
    {15, "\xE2\x82\xAC", "\x80"},                              // windows-1252 €
    {15, "Gr\xC3\xB6\xC3\x9F" "e", "Gr\xF6\xDF" "e"},          // Größe
    {2, "\xC3\xA9\xC3\xBC", "\x82\x81"},                       // IBM 437 éü
    {4, "\xC3\xA9\xC3\x98", "\x82\x9D"},                       // IBM 850 éØ
    {8, "\xD0\xAF", "\x9F"},                                   // IBM 866 Я
    {14, "\xD0\xAF", "\xDF"},                                  // windows-1251 Я
    {13, "\xC5\x82", "\xB3"},                                  // windows-1250 ł
    {5, "\xC5\x82", "\x88"},                                   // IBM 852 ł
    {17, "\xC5\x9F", "\xFE"},                                  // windows-1254 ş
    {6, "\xC5\x9F", "\x9F"},                                   // IBM 857 ş
    {16, "\xCE\xA9", "\xD9"},                                  // windows-1253 Ω
    {3, "\xCE\xA9", "\x97"},                                   // IBM 737 Ω
    {7, "\xC3\xBE\xC3\x90", "\x95\x8B"},                       // IBM 861 þÐ
    {9, "\xE3\x81\x82", "\x82\xA0"},                           // windows-932 あ
    {10, "\xE4\xB8\xAD", "\xD6\xD0"},                          // windows-936 中
    {11, "\xED\x95\x9C", "\xC7\xD1"},                          // windows-949 한
    {12, "\xE4\xB8\xAD", "\xA4\xA4"},                          // windows-950 中
    {18, "\xC3\xA9\xE2\x82\xAC", "\x8E\xDB"},                  // Mac Roman é€
    {31, "\xC3\xA9", "\x8E"},
    {19, "\xCE\xA9", "\xBF"},                                  // Mac Greek Ω
    {22, "\xC5\x9F", "\xDF"},                                  // Mac Turkish ş
    {24, "\xD0\xAF", "\x9F"},                                  // Mac Cyrillic Я
    {25, "\xE3\x81\x82", "\x82\xA0"},                          // Shift_JIS あ
    {26, "\xE4\xB8\xAD", "\xD6\xD0"},                          // GB2312 中
    {27, "\xED\x95\x9C", "\xC7\xD1"},                          // EUC-KR 한
    {28, "\xE4\xB8\xAD", "\xA4\xA4"},                          // Big5 中
    {15, "abc", "abc"},
    {9, "abc\xE3\x81\x82", "abc\x82\xA0"},
    {15, "", ""},
    // Characters the code page lacks take the converter's substitution.
    {15, "\xE4\xB8\xAD", "\x1A"},
    {2, "\xE4\xB8\xAD", "\x7F"},
    {9, "\xE0\xB9\x91", "\xFC\xFC"},
};

TEST(UnicodeStrUTF8ToCP, ConvertsThroughTheBuiltConverters)
{
    for (const auto &c : kConvertCases) {
        SCOPED_TRACE(testing::Message() << "index " << c.index << " " << c.src);
        EXPECT_EQ(convert(c.index, c.src), std::string(c.bytes));
    }
}

TEST(UnicodeStrUTF8ToCP, IndexZeroCopiesTheText)
{
    const char *text = "Gr\xC3\xBC\xC3\x9F" "e \xE4\xB8\xAD";
    EXPECT_EQ(convert(0, text), std::string(text));
    EXPECT_EQ(KORLUnicodeStrUTF8ToCP(0, "abc", nullptr, 0), 3);
    char out[4] = "xyz";
    EXPECT_EQ(KORLUnicodeStrUTF8ToCP(0, "abcd", out, sizeof out), 4);
    EXPECT_STREQ(out, "");
    // Not converted, so not checked either.
    EXPECT_EQ(convert(0, "ab\xFF"), std::string("ab\xFF"));
}

TEST(UnicodeStrUTF8ToCP, SizedOutput)
{
    struct Case {
        int index;
        const char *src;
        int outSize;
        int result;
        const char *out;
    } cases[] = {
        {15, "\xC3\xA9", 1, 1, ""},
        {15, "\xC3\xA9", 2, 1, "\xE9"},
        {9, "\xE3\x81\x82", 2, 2, ""},
        {9, "\xE3\x81\x82", 3, 2, "\x82\xA0"},
        {15, "", 1, 0, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "index " << c.index << " size " << c.outSize);
        char out[16];
        memset(out, 'X', sizeof out);
        EXPECT_EQ(KORLUnicodeStrUTF8ToCP(c.index, c.src, out, c.outSize), c.result);
        EXPECT_STREQ(out, c.out);
        EXPECT_EQ(out[c.outSize], 'X');
        EXPECT_EQ(KORLUnicodeStrUTF8ToCP(c.index, c.src, nullptr, 0), c.result);
    }
}

TEST(UnicodeStrUTF8ToCP, Failures)
{
    char out[8] = "keep";
    struct Case {
        int index;
        const char *src;
        char *out;
        int outSize;
        int code;
        const char *file;
    } cases[] = {
        {15, nullptr, out, sizeof out, KORL_ERR_BAD_PARAM, "unicode_str_utf8to_cp.cpp"},
        {15, "a", out, -1, KORL_ERR_BAD_PARAM, "unicode_str_utf8to_cp.cpp"},
        {15, "a", nullptr, 2, KORL_ERR_BAD_PARAM, "unicode_str_utf8to_cp.cpp"},
        {34, "a", out, sizeof out, KORL_ERR_BAD_PARAM, "unicode_open_convertor.cpp"},
        {-1, "a", out, sizeof out, KORL_ERR_BAD_PARAM, "unicode_open_convertor.cpp"},
        {15, "a\xC3", out, sizeof out, KORL_ERR_OTHER, "unicode_str_utf8to_cp.cpp"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "index " << c.index);
        KORLErrSet(0);
        EXPECT_EQ(KORLUnicodeStrUTF8ToCP(c.index, c.src, c.out, c.outSize), -1);
        EXPECT_EQ(KORLErrGet(), c.code);
        EXPECT_STREQ(KORLErrFileGet(), c.file);
    }
    EXPECT_STREQ(out, "keep");
}

// Index 1 writes UTF-16 with its byte-order mark first: two bytes more than the text's own.
TEST(UnicodeStrUTF8ToCP, UTF16CarriesItsByteOrderMark)
{
    // An empty text gives no bytes at all, not even the mark.
    EXPECT_EQ(KORLUnicodeStrUTF8ToCP(1, "", nullptr, 0), 0);

    UErrorCode st = U_ZERO_ERROR;
    UConverter *utf16 = ucnv_open("UTF-16", &st);
    ASSERT_TRUE(U_SUCCESS(st));
    const struct {
        const char *src;
        size_t units;
    } cases[] = {{"a", 1}, {"abc", 3}, {"Gr\xC3\xB6\xC3\x9F" "e", 5}, {"\xE4\xB8\xAD", 1}, {"\xF0\x9F\x98\x80", 2}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.src);
        const int want = static_cast<int>(2 + 2 * c.units);
        EXPECT_EQ(KORLUnicodeStrUTF8ToCP(1, c.src, nullptr, 0), want);
        char out[32];
        memset(out, 'X', sizeof out);
        ASSERT_EQ(KORLUnicodeStrUTF8ToCP(1, c.src, out, sizeof out), want);
        EXPECT_EQ(out[want], '\0');
        const std::string bom(out, 2);
        EXPECT_TRUE(bom == "\xFF\xFE" || bom == "\xFE\xFF");
        // Read back through ICU, the bytes are the text.
        UChar back[16];
        st = U_ZERO_ERROR;
        int32_t n = ucnv_toUChars(utf16, back, 16, out, want, &st);
        ASSERT_TRUE(U_SUCCESS(st));
        char utf8[32];
        int32_t m = 0;
        st = U_ZERO_ERROR;
        u_strToUTF8(utf8, sizeof utf8, &m, back, n, &st);
        ASSERT_TRUE(U_SUCCESS(st));
        EXPECT_EQ(std::string(utf8, m), c.src);
        // The sized output: exactly the length does not fit.
        memset(out, 'X', sizeof out);
        EXPECT_EQ(KORLUnicodeStrUTF8ToCP(1, c.src, out, want), want);
        EXPECT_EQ(out[0], '\0');
    }
    ucnv_close(utf16);
}

// Our converter of each index, and the ICU converter of the code page it stands for.
const struct {
    int index;
    const char *source;
} kSources[] = {
    {2, "ibm-437"},       {3, "ibm-737"},       {4, "ibm-850"},        {5, "ibm-852"},        {6, "ibm-857"},
    {7, "ibm-861"},       {8, "ibm-866"},       {9, "windows-932"},    {10, "windows-936"},   {11, "windows-949"},
    {12, "windows-950"},  {13, "windows-1250"}, {14, "windows-1251"},  {15, "windows-1252"},  {16, "windows-1253"},
    {17, "windows-1254"}, {18, "macintosh"},    {19, "x-mac-greek"},   {20, "macintosh"},     {21, "macintosh"},
    {22, "x-mac-turkish"}, {23, "macintosh"},   {24, "x-mac-cyrillic"}, {25, "Shift_JIS"},    {26, "GB2312"},
    {27, "EUC-KR"},       {28, "Big5"},         {29, "macintosh"},     {30, "x-mac-cyrillic"}, {31, "macintosh"},
    {32, "x-mac-greek"},  {33, "x-mac-turkish"},
};

TEST(UnicodeOpenConvertor, ConvertsEveryCharacterAsTheCodePageDoes)
{
    for (const auto &s : kSources) {
        SCOPED_TRACE(testing::Message() << "index " << s.index << " from " << s.source);
        UConverter *ours = KORLUnicodeOpenConvertor(s.index);
        ASSERT_NE(ours, nullptr);
        UErrorCode st = U_ZERO_ERROR;
        UConverter *ref = ucnv_open(s.source, &st);
        ASSERT_TRUE(U_SUCCESS(st)) << u_errorName(st);
        EXPECT_EQ(ucnv_getMaxCharSize(ours), ucnv_getMaxCharSize(ref));
        int differ = 0;
        for (UChar32 c = 1; c < 0x20000 && differ < 5; ++c) {
            if (U_IS_SURROGATE(c))
                continue;
            UChar u[2];
            int32_t n = 0;
            U16_APPEND_UNSAFE(u, n, c);
            char a[8], b[8];
            UErrorCode sa = U_ZERO_ERROR, sb = U_ZERO_ERROR;
            int32_t na = ucnv_fromUChars(ours, a, sizeof a, u, n, &sa);
            int32_t nb = ucnv_fromUChars(ref, b, sizeof b, u, n, &sb);
            if (U_FAILURE(sa) || U_FAILURE(sb) || std::string(a, na) != std::string(b, nb)) {
                ADD_FAILURE() << "U+" << std::hex << c << " differs";
                ++differ;
            }
        }
        // The data is whole: every one- and two-byte sequence decodes as in the code page too.
        for (int seq = 0; seq < 0x100 + 0x10000 && differ < 5; ++seq) {
            int pair = seq - 0x100;
            char in[2] = {(char)(pair < 0 ? seq : pair >> 8), (char)pair};
            int32_t inLen = pair < 0 ? 1 : 2;
            UChar a[8], b[8];
            UErrorCode sa = U_ZERO_ERROR, sb = U_ZERO_ERROR;
            int32_t na = ucnv_toUChars(ours, a, 8, in, inLen, &sa);
            int32_t nb = ucnv_toUChars(ref, b, 8, in, inLen, &sb);
            if (U_FAILURE(sa) || U_FAILURE(sb) || std::u16string((char16_t *)a, na) != std::u16string((char16_t *)b, nb)) {
                ADD_FAILURE() << "bytes " << std::hex << seq << " decode differently";
                ++differ;
            }
        }
        ucnv_close(ref);
    }
}

TEST(UnicodeOpenConvertor, OneCachedConverterPerIndex)
{
    UConverter *a = KORLUnicodeOpenConvertor(18);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(KORLUnicodeOpenConvertor(18), a);
    // Indexes that name the same converter still have slots of their own.
    UConverter *b = KORLUnicodeOpenConvertor(20);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    UErrorCode st = U_ZERO_ERROR;
    EXPECT_STREQ(ucnv_getName(a, &st), "korv_mac_eng_euro");
    EXPECT_STREQ(ucnv_getName(KORLUnicodeOpenConvertor(0), &st), "UTF-8");
    EXPECT_STREQ(ucnv_getName(KORLUnicodeOpenConvertor(15), &st), "korv_win_westeuro_1252");
}

TEST(UnicodeOpenConvertor, FailedOpenIsRetried)
{
    // Before ICU has loaded anything, point it at a folder without our converters.
    if (testing::UnitTest::GetInstance()->test_to_run_count() != 1)
        GTEST_SKIP() << "needs a process of its own, as ctest runs each case";
    std::string dataDir = getenv("ICU_DATA") ? getenv("ICU_DATA") : "";
    ASSERT_FALSE(dataDir.empty());
    u_setDataDirectory("/nonexistent");
    KORLErrSet(0);
    EXPECT_EQ(KORLUnicodeOpenConvertor(2), nullptr);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_OPEN);
    EXPECT_STREQ(KORLErrFileGet(), "unicode_open_convertor.cpp");
    KORLErrSet(0);
    EXPECT_EQ(KORLUnicodeStrUTF8ToCP(2, "\xC3\xA9", nullptr, 0), -1);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_OPEN);

    u_setDataDirectory(dataDir.c_str());
    EXPECT_NE(KORLUnicodeOpenConvertor(2), nullptr);
    EXPECT_EQ(convert(2, "\xC3\xA9"), "\x82");
}

}  // namespace
