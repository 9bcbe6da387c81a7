#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "hash_test_util.h"
#include "korv/error.h"
#include "korvtest.h"

using namespace hashtest;

namespace {

struct FormatCase {
    const char *name;
    const char *format;
    int valid;
};

void PrintTo(const FormatCase &c, std::ostream *os) { *os << c.name; }

class FormatCheck : public testing::TestWithParam<FormatCase> {};

TEST_P(FormatCheck, OnlyKeyLineFormatsWithTwoTextConversions)
{
    EXPECT_EQ(HashFileFormatCheck(GetParam().format), GetParam().valid);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, FormatCheck,
    testing::Values(FormatCase{"Null", nullptr, 1}, FormatCase{"Plain", "%s=%s\n", 1},
                    FormatCase{"Quoted", "%s=\"%s\"\n", 1}, FormatCase{"SetFile", "\t%s=\"%s\"\n", 1},
                    FormatCase{"TextAround", "key %s = value %s;\n# end", 1},
                    FormatCase{"LiteralPercent", "%s=%s%%\n", 1},
                    FormatCase{"NoEquals", "%s %s\n", 0}, FormatCase{"NoNewline", "%s=%s", 0},
                    FormatCase{"NewlineBeforeSecond", "%s=\n%s", 0}, FormatCase{"EqualsBeforeFirst", "=%s%s\n", 0},
                    FormatCase{"OneText", "%s=\n", 0}, FormatCase{"Empty", "", 0},
                    // Anything printf would read past the two texts, or read as something else.
                    FormatCase{"ThirdText", "%s=%s\n%s", 0}, FormatCase{"Number", "%d=%s\n", 0},
                    FormatCase{"WritesCount", "%s=%s\n%n", 0}, FormatCase{"Width", "%20s=%s\n", 0},
                    FormatCase{"TrailingPercent", "%s=%s\n%", 0},
                    FormatCase{"EscapedIsNoConversion", "%%s=%s\n", 0}),
    [](const testing::TestParamInfo<FormatCase> &i) { return std::string(i.param.name); });

struct WriteCase {
    const char *name;
    const char *section;
    std::vector<std::pair<const char *, const char *>> entries;  // in the order set
    bool withHash;
    const char *format;
    const char *file;
};

void PrintTo(const WriteCase &c, std::ostream *os) { *os << c.name; }

class Hash2File : public testing::TestWithParam<WriteCase> {};

TEST_P(Hash2File, WritesTheSectionAndEntriesInSlotOrder)
{
    const WriteCase &c = GetParam();
    Hash h(PshKORLSzHashAlloc(0));
    for (auto [k, v] : c.entries)
        ASSERT_GE(KORLSzHashSetValue(h.addr(), k, v), 0);
    FILE *f = fopen("/tmp/out.conf", "w");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(KORLSzHashFileHash2File(f, c.section, c.withHash ? h.ptr : nullptr, c.format), 0);
    ASSERT_EQ(fclose(f), 0);
    EXPECT_EQ(korvtest::read_file("/tmp/out.conf"), c.file);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Hash2File,
    testing::Values(
        WriteCase{"SectionDefaultFormat", "global", {{"a", "1"}}, true, nullptr, "[global]\na=1\n"},
        // guest takes its home 4, a is pushed to 5; users 16, admin 22.
        WriteCase{"SlotOrderNotSetOrder", nullptr,
                  {{"users", "u"}, {"admin", "x"}, {"guest", "g"}, {"a", "1"}}, true, nullptr,
                  "guest=g\na=1\nusers=u\nadmin=x\n"},
        WriteCase{"SetFileFormat", "set1", {{"a", "1"}, {"guest", "on"}}, true, "\t%s=\"%s\"\n",
                  "[set1]\n\ta=\"1\"\n\tguest=\"on\"\n"},
        WriteCase{"EmptyValue", nullptr, {{"key", ""}}, true, "%s=\"%s\"\n", "key=\"\"\n"},
        WriteCase{"NullHashWritesTheSection", "only", {}, false, nullptr, "[only]\n"},
        WriteCase{"NothingAtAll", nullptr, {}, false, nullptr, ""},
        WriteCase{"EmptyHash", "s", {}, true, nullptr, "[s]\n"}),
    [](const testing::TestParamInfo<WriteCase> &i) { return std::string(i.param.name); });

TEST(Hash2File, RemovedKeysAreNotWritten)
{
    Hash h(PshKORLSzHashAlloc(0));
    for (const char *k : {"a", "guest", "users"})
        ASSERT_GE(KORLSzHashSetValue(h.addr(), k, "v"), 0);
    ASSERT_NE(SzKORLSzHashRemoveKey(h.ptr, "a"), nullptr);
    FILE *f = fopen("/tmp/out.conf", "w");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(KORLSzHashFileHash2File(f, nullptr, h.ptr, nullptr), 0);
    fclose(f);
    EXPECT_EQ(korvtest::read_file("/tmp/out.conf"), "guest=v\nusers=v\n");
}

TEST(Hash2File, BadFormatFailsBeforeWriting)
{
    Hash h(PshKORLSzHashAlloc(0));
    ASSERT_GE(KORLSzHashSetValue(h.addr(), "a", "1"), 0);
    FILE *f = fopen("/tmp/out.conf", "w");
    ASSERT_NE(f, nullptr);
    for (const char *format : {"%s %s\n", "%s=%s\n%n"}) {
        KORLErrSet(0);
        EXPECT_EQ(KORLSzHashFileHash2File(f, "global", h.ptr, format), -1);
        EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
        EXPECT_STREQ(KORLErrFileGet(), "hash_file_hash2file.cpp");
    }
    KORLErrSet(0);
    EXPECT_EQ(KORLSzHashFileHash2File(nullptr, "global", h.ptr, nullptr), -1);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
    fclose(f);
    EXPECT_EQ(korvtest::read_file("/tmp/out.conf"), "");
}

TEST(Hash2File, WriteFailuresAreReported)
{
    korvtest::write_file("/tmp/ro.conf", "");
    Hash h(PshKORLSzHashAlloc(0));
    ASSERT_GE(KORLSzHashSetValue(h.addr(), "a", "1"), 0);
    for (const char *section : {"global", static_cast<const char *>(nullptr)}) {
        FILE *f = fopen("/tmp/ro.conf", "r");  // a stream that refuses every write
        ASSERT_NE(f, nullptr);
        KORLErrSet(0);
        EXPECT_EQ(KORLSzHashFileHash2File(f, section, h.ptr, nullptr), -1);
        EXPECT_EQ(KORLErrGet(), KORL_ERR_WRITE);
        EXPECT_STREQ(KORLErrFileGet(), "hash_file_hash2file.cpp");
        fclose(f);
    }
    // Nothing to write is no failure.
    FILE *f = fopen("/tmp/ro.conf", "r");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(KORLSzHashFileHash2File(f, nullptr, nullptr, nullptr), 0);
    fclose(f);
}

}  // namespace
