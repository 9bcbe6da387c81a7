// The line writers: insert, replace or delete by pattern, append in place, replace substrings.
#include <unistd.h>

#include <string>

#include "file_test.h"

using namespace korvtest;
using namespace filetest;

namespace {

const char *const kConf = "/etc/rsyncd.conf";

const char *const kRsyncd =
    "uid = root\n"
    "gid = root\n"
    "lock file = /var/run/rsync.lock\n"
    "log file = /var/log/rsync.log\n"
    "lock file = /tmp/second.lock\n";

struct AddCase {
    const char *name;
    const char *before;
    const char *pattern;
    int flags;
    const char *after;
};

const AddCase kAddCases[] = {
    {"BeforeFirstMatch", kRsyncd, "lock file =", 0,
     "uid = root\ngid = root\nNEW\nlock file = /var/run/rsync.lock\nlog file = /var/log/rsync.log\n"
     "lock file = /tmp/second.lock\n"},
    {"AfterFirstMatch", kRsyncd, "lock file =", OP_FIND_PREFIX,
     "uid = root\ngid = root\nlock file = /var/run/rsync.lock\nNEW\nlog file = /var/log/rsync.log\n"
     "lock file = /tmp/second.lock\n"},
    {"AfterLastMatch", kRsyncd, "lock file =", OP_FIND_PREFIX | OP_FIND_LAST,
     "uid = root\ngid = root\nlock file = /var/run/rsync.lock\nlog file = /var/log/rsync.log\n"
     "lock file = /tmp/second.lock\nNEW\n"},
    {"BeforeLastMatch", kRsyncd, "lock file =", OP_FIND_LAST,
     "uid = root\ngid = root\nlock file = /var/run/rsync.lock\nlog file = /var/log/rsync.log\nNEW\n"
     "lock file = /tmp/second.lock\n"},
    {"NoPatternGoesFirst", "a\nb\n", nullptr, 0, "NEW\na\nb\n"},
    {"NoPatternIntoEmptyFile", "", nullptr, 0, "NEW\n"},
    {"AfterLastLineWithoutNewline", "a\nlast", "last", OP_FIND_PREFIX, "a\nlast\nNEW\n"},
    {"BeforeLastLineWithoutNewline", "a\nlast", "last", 0, "a\nNEW\nlast"},
    {"PrefixMatch", "xa\nab\n", "a", OP_MATCH_PREFIX, "xa\nNEW\nab\n"},
    {"SuffixMatchIgnoringCase", "ab\nBA\n", "a", OP_MATCH_SUFFIX | OP_MATCH_NOCASE, "ab\nNEW\nBA\n"},
    {"CommentsNeverMatch", "#lock file =\nlock file = x\n", "lock file", 0, "#lock file =\nNEW\nlock file = x\n"},
};

class AddLine : public testing::TestWithParam<AddCase> {};

void PrintTo(const AddCase &c, std::ostream *os)
{
    *os << c.name;
}

TEST_P(AddLine, InsertsOneLine)
{
    const AddCase &c = GetParam();
    write_file(kConf, c.before);
    EXPECT_EQ(1, KORLFileAddLine(kConf, c.pattern, "NEW", c.flags));
    EXPECT_EQ(c.after, read_file(kConf));
    EXPECT_TRUE(temp_files("/etc", "rsyncd.conf").empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, AddLine, testing::ValuesIn(kAddCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(AddLineAppend, InPlaceKeepsTheInode)
{
    write_file(kConf, "a\nb\n", 0600);
    ino_t ino = stat_of(kConf).st_ino;
    EXPECT_EQ(1, KORLFileAddLine(kConf, nullptr, "c", OP_FIND_PREFIX));
    EXPECT_EQ("a\nb\nc\n", read_file(kConf));
    EXPECT_EQ(ino, stat_of(kConf).st_ino);
    EXPECT_EQ(0600u, stat_of(kConf).st_mode & 07777);
}

TEST(AddLineAppend, NeverGluesToALastLineWithoutNewline)
{
    for (auto [before, after] : {std::pair<const char *, const char *>{"a\nb", "a\nb\nc\n"},
                                 {"", "c\n"},
                                 {"\n", "\nc\n"},
                                 {"x", "x\nc\n"}}) {
        write_file(kConf, before);
        EXPECT_EQ(1, KORLFileAddLine(kConf, nullptr, "c", OP_FIND_PREFIX));
        EXPECT_EQ(after, read_file(kConf)) << before;
    }
}

TEST(AddLineMissing, CreatesTheFileWithTheLine)
{
    EXPECT_EQ(1, KORLFileAddLine("/etc/new1.conf", "whatever", "only", 0));
    EXPECT_EQ("only\n", read_file("/etc/new1.conf"));
    EXPECT_EQ(1, KORLFileAddLine("/etc/new2.conf", nullptr, "only", OP_FIND_PREFIX));
    EXPECT_EQ("only\n", read_file("/etc/new2.conf"));
}

TEST(AddLineErrors, NoMatchAndBadArguments)
{
    write_file(kConf, kRsyncd);
    ino_t ino = stat_of(kConf).st_ino;
    mark_error();
    EXPECT_EQ(0, KORLFileAddLine(kConf, "no such text", "NEW", 0));
    EXPECT_EQ(KORL_ERR_NOT_FOUND, KORLErrGet());
    EXPECT_STREQ("file_add_line.cpp", KORLErrFileGet());
    EXPECT_EQ(kRsyncd, read_file(kConf));
    EXPECT_EQ(ino, stat_of(kConf).st_ino);
    EXPECT_TRUE(temp_files("/etc", "rsyncd.conf").empty());
    for (auto [path, line, flags] : {std::tuple<const char *, const char *, int>{nullptr, "x", 0},
                                     {kConf, nullptr, 0},
                                     {kConf, "x", -1}}) {
        mark_error();
        EXPECT_EQ(-1, KORLFileAddLine(path, "uid", line, flags));
        EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    }
    EXPECT_EQ(kRsyncd, read_file(kConf));
}

struct SetCase {
    const char *name;
    const char *pattern;
    const char *newLine;
    int flags;
    const char *after;
};

const SetCase kSetCases[] = {
    {"ReplaceFirst", "lock file", "lock file = /x", 0,
     "uid = root\ngid = root\nlock file = /x\nlog file = /var/log/rsync.log\nlock file = /tmp/second.lock\n"},
    {"ReplaceLast", "lock file", "lock file = /x", OP_FIND_LAST,
     "uid = root\ngid = root\nlock file = /var/run/rsync.lock\nlog file = /var/log/rsync.log\nlock file = /x\n"},
    {"DeleteFirst", "lock file", nullptr, 0,
     "uid = root\ngid = root\nlog file = /var/log/rsync.log\nlock file = /tmp/second.lock\n"},
    {"DeleteLast", "lock file", nullptr, OP_FIND_LAST,
     "uid = root\ngid = root\nlock file = /var/run/rsync.lock\nlog file = /var/log/rsync.log\n"},
    {"PrefixOnly", "id", "id = 0", OP_MATCH_PREFIX, nullptr},  // "uid" and "gid" do not start with it
    {"Prefix", "gid", "gid = users", OP_MATCH_PREFIX,
     "uid = root\ngid = users\nlock file = /var/run/rsync.lock\nlog file = /var/log/rsync.log\n"
     "lock file = /tmp/second.lock\n"},
    {"SuffixNoCase", "RSYNC.LOG", "log file = /dev/null", OP_MATCH_SUFFIX | OP_MATCH_NOCASE,
     "uid = root\ngid = root\nlock file = /var/run/rsync.lock\nlog file = /dev/null\nlock file = /tmp/second.lock\n"},
};

class SetLine : public testing::TestWithParam<SetCase> {};

void PrintTo(const SetCase &c, std::ostream *os)
{
    *os << c.name;
}

TEST_P(SetLine, ReplacesOrDeletesOneLine)
{
    const SetCase &c = GetParam();
    write_file(kConf, kRsyncd);
    mark_error();
    if (!c.after) {
        EXPECT_EQ(0, KORLFileSetLine(kConf, c.pattern, c.newLine, c.flags));
        EXPECT_EQ(KORL_ERR_NOT_FOUND, KORLErrGet());
        EXPECT_STREQ("file_set_line.cpp", KORLErrFileGet());
        EXPECT_EQ(kRsyncd, read_file(kConf));
    } else {
        EXPECT_EQ(1, KORLFileSetLine(kConf, c.pattern, c.newLine, c.flags));
        EXPECT_EQ(c.after, read_file(kConf));
    }
    EXPECT_TRUE(temp_files("/etc", "rsyncd.conf").empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, SetLine, testing::ValuesIn(kSetCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(SetLineEdges, LastLineWithoutNewlineAndMissingFiles)
{
    write_file(kConf, "a\nb");
    EXPECT_EQ(1, KORLFileSetLine(kConf, "b", "B", 0));
    EXPECT_EQ("a\nB\n", read_file(kConf));
    write_file(kConf, "a\nb");
    EXPECT_EQ(1, KORLFileSetLine(kConf, "a", nullptr, 0));
    EXPECT_EQ("b", read_file(kConf));

    EXPECT_EQ(1, KORLFileSetLine("/etc/new1.conf", "x", "line", 0));
    EXPECT_EQ("line\n", read_file("/etc/new1.conf"));
    EXPECT_EQ(1, KORLFileSetLine("/etc/new2.conf", "x", nullptr, 0));
    EXPECT_TRUE(file_exists("/etc/new2.conf"));
    EXPECT_EQ("", read_file("/etc/new2.conf"));

    mark_error();
    EXPECT_EQ(-1, KORLFileSetLine(kConf, nullptr, "x", 0));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    EXPECT_EQ(-1, KORLFileSetLine(nullptr, "x", "x", 0));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
}

TEST(ReplaceSubStr, EveryOccurrenceLeftToRight)
{
    struct {
        const char *before;
        const char *find;
        const char *repl;
        int count;
        const char *after;
    } cases[] = {
        {"aaa\n", "aa", "b", 1, "ba\n"},
        {"aaaa\n", "aa", "b", 2, "bb\n"},
        {"a.a\nxa\n", "a", "aa", 3, "aa.aa\nxaa\n"},  // replacements are not searched again
        {"path=/volume1/x /volume1\nnone\n", "/volume1", "/volume2", 2, "path=/volume2/x /volume2\nnone\n"},
        {"ab\ncd", "b\nc", "X", 0, nullptr},  // never across lines
        {"keep\nlast", "last", "", 1, "keep\n"},
    };
    for (const auto &c : cases) {
        write_file(kConf, c.before);
        mark_error();
        EXPECT_EQ(c.count, KORLFileReplaceSubStr(kConf, c.find, c.repl)) << c.before;
        if (c.count == 0) {
            EXPECT_EQ(KORL_ERR_NOT_FOUND, KORLErrGet());
            EXPECT_EQ(c.before, read_file(kConf));
        } else {
            EXPECT_EQ(c.after, read_file(kConf));
        }
        EXPECT_TRUE(temp_files("/etc", "rsyncd.conf").empty());
    }
}

TEST(ReplaceSubStr, Errors)
{
    write_file(kConf, "abc\n");
    mark_error();
    EXPECT_EQ(-1, KORLFileReplaceSubStr(kConf, "", "x"));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    EXPECT_EQ(-1, KORLFileReplaceSubStr(kConf, "a", nullptr));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    EXPECT_EQ(-1, KORLFileReplaceSubStr("/etc/missing.conf", "a", "b"));
    EXPECT_EQ(KORL_ERR_OPEN, KORLErrGet());
    EXPECT_FALSE(file_exists("/etc/missing.conf"));
    EXPECT_EQ("abc\n", read_file(kConf));
}

}  // namespace
