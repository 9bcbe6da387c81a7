// Language codes to converter indexes, and the device's code page from /etc/korvinfo.conf.
#include <syslog.h>
#include <unistd.h>

#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "korv/error.h"
#include "korv/unicode.h"
#include "korvtest.h"

namespace {

struct ParseCase {
    const char *code;
    int ansi;
    int oem;
    int mac;
};

// Every language code of the device, with its ANSI, OEM and Macintosh converter indexes.
const ParseCase kParseCases[] = {
    {"utf8", 0, 0, 0},  // UTF-8 stays UTF-8 for the Macintosh kind too
    {"enu", 15, 2, 31}, {"fre", 15, 4, 31}, {"ger", 15, 4, 31}, {"ita", 15, 4, 31}, {"spn", 15, 4, 31},
    {"cht", 12, 12, 28}, {"chs", 10, 10, 26}, {"jpn", 9, 9, 25}, {"krn", 11, 11, 27}, {"ptb", 15, 4, 31},
    {"rus", 14, 8, 30}, {"dan", 15, 4, 31}, {"nor", 15, 4, 31}, {"sve", 15, 4, 31}, {"nld", 15, 4, 31},
    {"plk", 13, 5, 29}, {"ptg", 15, 4, 31}, {"hun", 13, 5, 29}, {"trk", 17, 6, 33}, {"csy", 13, 5, 29},
};

TEST(UnicodeCodePageValueParse, EveryCodeAndKind)
{
    for (const auto &c : kParseCases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(KORLUnicodeCodePageValueParse(KORL_CP_KIND_ANSI, c.code), c.ansi);
        EXPECT_EQ(KORLUnicodeCodePageValueParse(KORL_CP_KIND_OEM, c.code), c.oem);
        EXPECT_EQ(KORLUnicodeCodePageValueParse(KORL_CP_KIND_MAC, c.code), c.mac);
        EXPECT_EQ(KORLUnicodeCodePageValueParse(KORL_CP_KIND_MEDIASERVICE, c.code), c.ansi);
    }
}

TEST(UnicodeCodePageValueParse, IgnoresAsciiCase)
{
    EXPECT_EQ(KORLUnicodeCodePageValueParse(1, "ENU"), 15);
    EXPECT_EQ(KORLUnicodeCodePageValueParse(2, "ENU"), 2);
    EXPECT_EQ(KORLUnicodeCodePageValueParse(3, "ENU"), 31);
    EXPECT_EQ(KORLUnicodeCodePageValueParse(4, "ENU"), 15);
    EXPECT_EQ(KORLUnicodeCodePageValueParse(3, "UTF8"), 0);
    EXPECT_EQ(KORLUnicodeCodePageValueParse(2, "Trk"), 6);
}

// The recorded "Bad parameter" lines of the parser.
int badParameterLines(int kind)
{
    std::regex want("unicode_codepage_value_parse\\.cpp:[0-9]+ Bad parameter \\(" + std::to_string(kind) + "\\)\\.");
    int n = 0;
    for (const auto &l : korvtest::syslog_lines())
        if (std::regex_match(l.message, want) && l.severity() == LOG_ERR)
            ++n;
    return n;
}

TEST(UnicodeCodePageValueParse, BadKindOrNullCodeIsLogged)
{
    struct Case {
        int kind;
        const char *code;
    } cases[] = {{5, "enu"}, {0, "enu"}, {-1, "utf8"}, {1, nullptr}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.kind);
        korvtest::syslog_clear();
        KORLErrSet(0);
        EXPECT_EQ(KORLUnicodeCodePageValueParse(c.kind, c.code), -1);
        EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
        EXPECT_STREQ(KORLErrFileGet(), "unicode_codepage_value_parse.cpp");
        EXPECT_EQ(badParameterLines(c.kind), 1) << korvtest::syslog_dump();
    }
}

TEST(UnicodeCodePageValueParse, UnknownCodeLeavesTheErrorCode)
{
    for (const char *code : {"xyz", "", "en", "enus", " enu", "utf-8"}) {
        SCOPED_TRACE(code);
        KORLErrSet(KORL_ERR_MALFORMED);
        EXPECT_EQ(KORLUnicodeCodePageValueParse(1, code), -1);
        EXPECT_EQ(KORLErrGet(), KORL_ERR_MALFORMED);
    }
    korvtest::syslog_clear();
    EXPECT_EQ(KORLUnicodeCodePageValueParse(7, "xyz"), -1);
    EXPECT_EQ(korvtest::syslog_lines().size(), 0u);
}

TEST(UnicodeCodePageValueParse, EveryIndexNamesABuiltConverter)
{
    for (const auto &c : kParseCases) {
        for (int index : {c.ansi, c.oem, c.mac}) {
            SCOPED_TRACE(testing::Message() << c.code << " index " << index);
            EXPECT_NE(KORLUnicodeOpenConvertor(index), nullptr);
        }
    }
}

struct ConfCase {
    const char *conf;  // contents of /etc/korvinfo.conf
    int kind;
    int result;
    int index;  // stored index on success
    int code;   // korverr after a failure (0: left as it was)
};

const ConfCase kConfCases[] = {
    {"codepage=\"enu\"\n", 1, 0, 15, 0},
    {"codepage=\"enu\"\n", 2, 0, 2, 0},
    {"codepage=\"enu\"\n", 3, 0, 31, 0},
    {"codepage=\"rus\"\ncodepage_mediaservice=\"jpn\"\n", 4, 0, 9, 0},
    {"codepage=\"rus\"\ncodepage_mediaservice=\"jpn\"\n", 2, 0, 8, 0},
    {"codepage=\"utf8\"\n", 3, 0, 0, 0},
    {"codepage=\"krn\"\ncodepage=\"enu\"\n", 1, 0, 11, 0},  // the first line decides
    {"codepage=\"CHS\"\n", 3, 0, 26, 0},
    {"codepage=\"abcdefgh\"\n", 1, -1, -1, KORL_ERR_BUF_SMALL},  // eight characters do not fit
    {"codepage=\"abcdefg\"\n", 1, -1, -1, KORL_ERR_MALFORMED},   // fits, but is no code
    {"codepage=\"enu\"\n", 9, -1, -1, KORL_ERR_BAD_PARAM},
    {"model=\"x\"\n", 1, -1, -1, KORL_ERR_NOT_FOUND},
    {"codepage=\"enu\"\n", 4, -1, -1, KORL_ERR_NOT_FOUND},  // no media-service key
    {"codepage=\n", 1, -1, -1, KORL_ERR_NOT_FOUND},
};

TEST(ConfCodePageGet, ReadsTheDeviceCodePage)
{
    for (const auto &c : kConfCases) {
        SCOPED_TRACE(testing::Message() << c.conf << "kind " << c.kind);
        korvtest::write_file("/etc/korvinfo.conf", c.conf);
        int index = -1;
        KORLErrSet(KORL_ERR_MALFORMED);
        EXPECT_EQ(KORVConfCodePageGet(c.kind, &index), c.result);
        EXPECT_EQ(index, c.index);
        if (c.result < 0) {
            EXPECT_EQ(KORLErrGet(), c.code);
        }
    }
}

TEST(ConfCodePageGet, MissingFileAndNullPointer)
{
    unlink("/etc/korvinfo.conf");
    int index = -1;
    KORLErrSet(0);
    EXPECT_EQ(KORVConfCodePageGet(1, &index), -1);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_OPEN);
    EXPECT_EQ(index, -1);

    korvtest::write_file("/etc/korvinfo.conf", "codepage=\"enu\"\n");
    KORLErrSet(0);
    EXPECT_EQ(KORVConfCodePageGet(1, nullptr), -1);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
    EXPECT_STREQ(KORLErrFileGet(), "conf_code_page_get.cpp");
}

}  // namespace
