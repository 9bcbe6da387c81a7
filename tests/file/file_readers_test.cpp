// The readers: key values, yes/no checks, pattern lines, sections and key sets, and the line tests.
#include <stdlib.h>
#include <string.h>
#include <syslog.h>

#include <string>
#include <vector>

#include "file_test.h"

using namespace korvtest;
using namespace filetest;

namespace {

const char *const kConf = "/etc/test.conf";

struct KeyCase {
    const char *name;
    const char *content;
    const char *key;
    int flags;
    int result;
    const char *value;  // expected buffer contents when result > 0
};

const KeyCase kKeyCases[] = {
    {"FirstOfThree", "a=1\na=2\na=3\n", "a", 0, 2, "1"},
    {"LastOfThree", "a=1\na=2\na=3\n", "a", OP_FIND_LAST, 2, "3"},
    {"TrimmedAndUnquoted", "  key  =  \"x y\"  \n", "key", 0, 4, "x y"},
    {"EmptyValueIsAbsent", "key=\n", "key", 0, 0, nullptr},
    {"BlankValueIsEmpty", "key=   \n", "key", 0, 1, ""},
    {"EmptyEndsFirstMatch", "k=\nk=b\n", "k", 0, 0, nullptr},
    {"LastSkipsEmptyBefore", "k=\nk=b\n", "k", OP_FIND_LAST, 2, "b"},
    {"LastSkipsEmptyAfter", "k=a\nk=\n", "k", OP_FIND_LAST, 2, "a"},
    {"CommentNeverMatches", "#key=1\n", "key", 0, 0, nullptr},
    {"CommentNotEvenItsText", "#key=1\n", "#key", 0, 0, nullptr},
    {"SpaceBeforeHashIsNoComment", " #key=1\n", "#key", 0, 2, "1"},
    {"SemicolonComment", ";key=1\nkey=2\n", "key", 0, 2, "2"},
    {"LeadingEqualsSkipped", "==a=b=c\n", "a", 0, 4, "b=c"},
    {"NoEqualsIsAbsent", "key\n", "key", 0, 0, nullptr},
    {"CrLfLine", "\tkey=\"v\"\r\n", "key", 0, 2, "v"},
    {"LastLineWithoutNewline", "a=1\nb=22", "b", 0, 3, "22"},
    {"CaseSensitive", "Key=1\n", "key", 0, 0, nullptr},
    {"OtherKeysIgnored", "ab=1\nb=2\n", "b", 0, 2, "2"},
};

void PrintTo(const KeyCase &c, std::ostream *os)
{
    *os << c.name;
}

class GetKeyValue : public testing::TestWithParam<KeyCase> {};

TEST_P(GetKeyValue, Reads)
{
    const KeyCase &c = GetParam();
    write_file(kConf, c.content);
    char buf[64];
    memset(buf, 'X', sizeof buf);
    mark_error();
    EXPECT_EQ(c.result, KORLFileGetKeyValue(kConf, c.key, buf, sizeof buf, c.flags));
    if (c.result > 0)
        EXPECT_STREQ(c.value, buf);
    else
        EXPECT_EQ(KORL_ERR_NOT_FOUND, KORLErrGet());
    EXPECT_EQ(c.content, read_file(kConf));
}

INSTANTIATE_TEST_SUITE_P(Cases, GetKeyValue, testing::ValuesIn(kKeyCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(GetKeyValueSize, NullBufferAsksForTheLength)
{
    write_file(kConf, "k=hello\n");
    EXPECT_EQ(6, KORLFileGetKeyValue(kConf, "k", nullptr, 0, 0));
}

TEST(GetKeyValueSize, SmallBufferFailsUntouched)
{
    write_file(kConf, "k=hello\n");
    char buf[4] = {'a', 'b', 'c', '\0'};
    EXPECT_EQ(-1, KORLFileGetKeyValue(kConf, "k", buf, sizeof buf, 0));
    EXPECT_EQ(KORL_ERR_BUF_SMALL, KORLErrGet());
    EXPECT_STREQ("abc", buf);
    char exact[6];
    EXPECT_EQ(6, KORLFileGetKeyValue(kConf, "k", exact, sizeof exact, 0));
    EXPECT_STREQ("hello", exact);
}

TEST(GetKeyValueSize, LastValueTooLongAfterAShortOne)
{
    write_file(kConf, "k=ab\nk=abcdefgh\n");
    char buf[4];
    EXPECT_EQ(-1, KORLFileGetKeyValue(kConf, "k", buf, sizeof buf, OP_FIND_LAST));
    EXPECT_EQ(KORL_ERR_BUF_SMALL, KORLErrGet());
}

TEST(GetKeyValueSize, NegativeSizeFitsNothing)
{
    write_file(kConf, "k=hello\n");
    char buf[8] = "keep";
    mark_error();
    EXPECT_EQ(-1, KORLFileGetKeyValue(kConf, "k", buf, -1, 0));
    EXPECT_EQ(KORL_ERR_BUF_SMALL, KORLErrGet());
    EXPECT_STREQ("keep", buf);
    EXPECT_EQ(0, KORLFileGetKeyValue(kConf, "absent", buf, -1, 0));
    EXPECT_EQ(KORL_ERR_NOT_FOUND, KORLErrGet());
    EXPECT_STREQ("keep", buf);
}

// KORLFileGetKeyValue and KORLFileGetLine take the same arguments: path, key or pattern, buffer,
// its size and flags.
using BufferReader = int (*)(const char *, const char *, char *, int, int);

TEST(BufferReaders, BadArgumentsAndUnreadableFiles)
{
    write_file(kConf, "k=v\n");
    char buf[8] = "keep";
    struct Case {
        const char *path;
        const char *text;
        char *buf;
        int size;
        int flags;
        int code;
    } common[] = {
        {nullptr, "k", buf, 8, 0, KORL_ERR_BAD_PARAM},
        {kConf, nullptr, buf, 8, 0, KORL_ERR_BAD_PARAM},
        {kConf, "k", buf, 8, -1, KORL_ERR_BAD_PARAM},
        {kConf, "k", nullptr, 8, 0, KORL_ERR_BAD_PARAM},
        {"/etc/missing.conf", "k", buf, 8, 0, KORL_ERR_OPEN},
        {"/etc", "k", buf, 8, 0, KORL_ERR_OPEN},
    };
    struct Reader {
        const char *name;
        const char *source;
        BufferReader fn;
        std::vector<Case> own;  // what only this reader refuses
    } readers[] = {
        {"KORLFileGetKeyValue", "file_get_key_value.cpp", KORLFileGetKeyValue, {}},
        {"KORLFileGetLine", "file_get_line.cpp", KORLFileGetLine, {{kConf, "k", buf, 0, 0, KORL_ERR_BAD_PARAM},
                                              {kConf, "k", buf, -3, 0, KORL_ERR_BAD_PARAM},
                                              {kConf, "k", nullptr, 0, 0, KORL_ERR_BAD_PARAM}}},
    };
    for (const Reader &r : readers) {
        std::vector<Case> cases(std::begin(common), std::end(common));
        cases.insert(cases.end(), r.own.begin(), r.own.end());
        for (const Case &c : cases) {
            SCOPED_TRACE(std::string(r.name) + " " + (c.path ? c.path : "null") + " size " + std::to_string(c.size));
            mark_error();
            EXPECT_EQ(-1, r.fn(c.path, c.text, c.buf, c.size, c.flags));
            EXPECT_EQ(c.code, KORLErrGet());
            EXPECT_STREQ(r.source, KORLErrFileGet());
            EXPECT_STREQ("keep", buf);
        }
    }
}

TEST(CheckKeyValue, ComparesIgnoringCase)
{
    write_file(kConf, "on=YES\noff=no\n");
    EXPECT_EQ(1, KORLFileCheckKeyValue(kConf, "on", "yes", 7));
    EXPECT_EQ(0, KORLFileCheckKeyValue(kConf, "off", "yes", 7));
    EXPECT_EQ(7, KORLFileCheckKeyValue(kConf, "absent", "yes", 7));
    EXPECT_EQ(0, KORLFileCheckKeyValue(nullptr, "on", "yes", 7));
    EXPECT_EQ(0, KORLFileCheckKeyValue(kConf, "on", nullptr, 7));
}

TEST(CheckKeyValue, FailureIsLoggedAndGivesZero)
{
    write_file(kConf, "big=" + std::string(600, 'y') + "\n");
    syslog_clear();
    EXPECT_EQ(0, KORLFileCheckKeyValue(kConf, "big", "yes", 7));
    bool logged = false;
    for (const auto &l : syslog_lines())
        logged |= l.severity() == LOG_ERR && l.message.rfind("file_check_key_value.cpp:", 0) == 0 &&
                  l.message.find(" KORLFileGetKeyValue(big) failed, korverr=0x0100") != std::string::npos;
    EXPECT_TRUE(logged) << syslog_dump();
    EXPECT_EQ(0, KORLFileCheckKeyValue("/etc/missing.conf", "big", "yes", 7));
}

struct MatchCase {
    const char *line;
    const char *pattern;
    int flags;
    int result;
};

const MatchCase kMatchCases[] = {
    {"xxabc\n", "abc", OP_MATCH_SUFFIX, 1},
    {"xxabc", "abc", OP_MATCH_SUFFIX, 1},
    {"abcx\n", "abc", OP_MATCH_SUFFIX, 0},
    {"ab\n", "abc", OP_MATCH_SUFFIX, 0},
    {"abc\nabc", "abc", OP_MATCH_SUFFIX, 1},
    {"abc mid abc\n", "abc", OP_MATCH_PREFIX, 1},
    {"x abc\n", "abc", OP_MATCH_PREFIX, 0},
    {"abcx\n", "abc", OP_MATCH_PREFIX | OP_MATCH_SUFFIX, 1},  // the prefix test wins
    {"x abc y\n", "abc", 0, 1},
    {"x ab c\n", "abc", 0, 0},
    {"#abc\n", "abc", 0, 0},
    {";abc\n", "abc", 0, 0},
    {" #abc\n", "abc", 0, 1},
    {"ABC\n", "abc", 0, 0},
    {"xAbC\n", "aBc", OP_MATCH_NOCASE, 1},
    {"AbCx\n", "abc", OP_MATCH_NOCASE | OP_MATCH_PREFIX, 1},
    {"xAbC\n", "abc", OP_MATCH_NOCASE | OP_MATCH_SUFFIX, 1},
    // Upper-casing lengthens these ("ȿ" 2 bytes to 3, "ΐ" 2 to 6, "ß" one UTF-16 unit to two):
    // a pattern that did not fit its buffer would come out empty and match every line.
    {"unrelated\n", "ȿ", OP_MATCH_NOCASE, 0},
    {"unrelated\n", "ΐ", OP_MATCH_NOCASE, 0},
    {"aȿb\n", "Ȿ", OP_MATCH_NOCASE, 1},
    {"aȿb\n", "ȿB", OP_MATCH_NOCASE | OP_MATCH_SUFFIX, 1},
    {"ŉx\n", "ʼN", OP_MATCH_NOCASE | OP_MATCH_PREFIX, 1},
    {"straße\n", "STRASSE", OP_MATCH_NOCASE, 1},
    {"grüße aus\n", "GRÜSSE", OP_MATCH_NOCASE | OP_MATCH_PREFIX, 1},
    {"unrelated\n", "ß", OP_MATCH_NOCASE, 0},
    {"unrelated\n", "ßßßß", OP_MATCH_NOCASE, 0},
    {"maß\n", "ss", OP_MATCH_NOCASE | OP_MATCH_SUFFIX, 1},
};

void PrintTo(const MatchCase &c, std::ostream *os)
{
    *os << label(c.line) << "/" << label(c.pattern) << "/" << c.flags;
}

class LineMatch : public testing::TestWithParam<MatchCase> {};

TEST_P(LineMatch, Matches)
{
    const MatchCase &c = GetParam();
    EXPECT_EQ(c.result, KORLFileLineMatch(c.line, c.pattern, c.flags)) << c.line << " / " << c.pattern;
}

INSTANTIATE_TEST_SUITE_P(Cases, LineMatch, testing::ValuesIn(kMatchCases), [](const auto &info) {
    return label(info.param.line) + "_" + label(info.param.pattern) + "_" + std::to_string(info.param.flags);
});

TEST(LineMatchErrors, BadArguments)
{
    for (auto [line, pattern, flags] : {std::tuple<const char *, const char *, int>{nullptr, "a", 0},
                                        {"a", nullptr, 0},
                                        {"a", "a", -1}}) {
        mark_error();
        EXPECT_EQ(0, KORLFileLineMatch(line, pattern, flags));
        EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    }
}

TEST(LineKeyMatch, CutsTheLineAtItsKey)
{
    char line[] = "  name = v=1\n";
    EXPECT_EQ(1, KORLFileLineKeyMatch(line, "name"));
    EXPECT_STREQ("  name ", line);
    char other[] = "name2=v\n";
    EXPECT_EQ(0, KORLFileLineKeyMatch(other, "name"));
    char comment[] = "#name=v\n";
    EXPECT_EQ(0, KORLFileLineKeyMatch(comment, "#name"));
    char bare[] = "name\n";
    EXPECT_EQ(1, KORLFileLineKeyMatch(bare, "name"));
    mark_error();
    EXPECT_EQ(0, KORLFileLineKeyMatch(nullptr, "name"));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
}

struct SectionCase {
    const char *line;
    int isSection;
    int matchesGlobal;
};

const SectionCase kSectionCases[] = {
    {"[global]\n", 1, 1},
    {"[global]  \n", 1, 1},
    {"[global]\t\v\f\r\n", 1, 1},
    {"[global] ;x\n", 0, 0},
    {"[Global]\n", 1, 0},
    {"[global2]\n", 1, 0},
    {"[glob]\n", 1, 0},
    {"[x\n", 0, 0},
    {"[", 0, 0},
    {"[]\n", 1, 0},
    {" [global]\n", 0, 0},
    {"[a]b]\n", 1, 0},
    {"global]\n", 0, 0},
};

void PrintTo(const SectionCase &c, std::ostream *os)
{
    *os << label(c.line);
}

class Section : public testing::TestWithParam<SectionCase> {};

TEST_P(Section, Header)
{
    const SectionCase &c = GetParam();
    int len = static_cast<int>(strlen(c.line));
    EXPECT_EQ(c.isSection, KORLFileIsSection(c.line, len));
    EXPECT_EQ(c.matchesGlobal, KORLFileMatchSection(c.line, len, "global"));
}

INSTANTIATE_TEST_SUITE_P(Cases, Section, testing::ValuesIn(kSectionCases),
                         [](const auto &info) { return label(info.param.line); });

TEST(SectionMatch, ShortLineIsNeverReadPast)
{
    // Exactly the bytes of the line, no terminator: a read past them is a heap overflow.
    char *line = static_cast<char *>(malloc(3));
    memcpy(line, "[ab", 3);
    EXPECT_EQ(0, KORLFileMatchSection(line, 3, "abcdefgh"));
    EXPECT_EQ(0, KORLFileMatchSection(line, 3, "ab"));
    EXPECT_EQ(0, KORLFileIsSection(line, 0));
    free(line);
    mark_error();
    EXPECT_EQ(-1, KORLFileMatchSection(nullptr, 3, "ab"));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    EXPECT_EQ(0, KORLFileIsSection(nullptr, 3));
}

TEST(GetLine, FirstLastAndBuffer)
{
    write_file(kConf, "one abc\n#abc commented\ntwo abc\nthree\n");
    char buf[32];
    EXPECT_EQ(8, KORLFileGetLine(kConf, "abc", buf, sizeof buf, 0));
    EXPECT_STREQ("one abc", buf);
    EXPECT_EQ(8, KORLFileGetLine(kConf, "abc", buf, sizeof buf, OP_FIND_LAST));
    EXPECT_STREQ("two abc", buf);
    EXPECT_EQ(6, KORLFileGetLine(kConf, "thr", buf, sizeof buf, OP_MATCH_PREFIX));
    EXPECT_STREQ("three", buf);
    EXPECT_EQ(8, KORLFileGetLine(kConf, "ONE", buf, sizeof buf, OP_MATCH_NOCASE));
    mark_error();
    EXPECT_EQ(0, KORLFileGetLine(kConf, "commented", buf, sizeof buf, 0));
    EXPECT_EQ(KORL_ERR_NOT_FOUND, KORLErrGet());
    char small[7];
    EXPECT_EQ(-1, KORLFileGetLine(kConf, "abc", small, sizeof small, 0));
    EXPECT_EQ(KORL_ERR_BUF_SMALL, KORLErrGet());
}

TEST(GetLine, LastLineWithoutNewline)
{
    write_file(kConf, "a\nxxabc");
    char buf[16];
    EXPECT_EQ(6, KORLFileGetLine(kConf, "abc", buf, sizeof buf, OP_MATCH_SUFFIX));
    EXPECT_STREQ("xxabc", buf);
}

const char *const kSections =
    "top=0\n"
    "[global]  \n"
    "a = 1\n"
    "\n"
    "#c=comment\n"
    "; plain comment\n"
    "b=\"two words\"\n"
    "a=3\n"
    "novalue\n"
    "=x\n"
    "[x\n"
    "after=1\n"
    "[global]\n"
    "second=1\n";

TEST(GetSection, ReadsTheFirstSectionUpToABracketLine)
{
    write_file(kConf, kSections);
    Hash h;
    mark_error();
    EXPECT_EQ(3, KORLFileGetSection(kConf, "global", h.addr()));
    std::map<std::string, std::string> want = {{"a", "3"}, {"#c", "comment"}, {"b", "two words"}};
    EXPECT_EQ(want, h.map());
    EXPECT_EQ(kUntouched, KORLErrGet());  // skipped lines are no failures
}

TEST(GetSection, AbsentSectionCountsWhatTheHashHeld)
{
    write_file(kConf, kSections);
    Hash h({{"kept", "1"}});
    mark_error();
    EXPECT_EQ(1, KORLFileGetSection(kConf, "nosuch", h.addr()));
    EXPECT_EQ(kUntouched, KORLErrGet());
    EXPECT_EQ(1, KORLFileGetSection(kConf, "x", h.addr()));  // "[x" is no header
}

TEST(GetSection, Errors)
{
    Hash h({{"kept", "1"}});
    mark_error();
    EXPECT_EQ(-1, KORLFileGetSection("/etc/missing.conf", "global", h.addr()));
    EXPECT_EQ(KORL_ERR_OPEN, KORLErrGet());
    EXPECT_EQ((std::map<std::string, std::string>{{"kept", "1"}}), h.map());
    EXPECT_EQ(-1, KORLFileGetSection(kConf, nullptr, h.addr()));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    EXPECT_EQ(-1, KORLFileGetSection(kConf, "global", nullptr));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
}

TEST(GetSection, GrowsTheHash)
{
    std::string content = "[many]\n";
    for (int i = 0; i < 200; ++i)
        content += "key" + std::to_string(i) + "=value" + std::to_string(i) + "\n";
    write_file(kConf, content);
    Hash h;
    EXPECT_EQ(200, KORLFileGetSection(kConf, "many", h.addr()));
    EXPECT_STREQ("value199", SzKORLSzHashGetValue(h.get(), "key199"));
}

TEST(GetKeys, WantedKeysTakeTheirFirstLine)
{
    write_file(kConf, "a=1\nb=2\na=3\nc=4\n");
    List wanted({"b", "a"});
    Hash h;
    EXPECT_EQ(2, KORLFileGetKeys(kConf, wanted.get(), h.addr(), "="));
    EXPECT_EQ((std::map<std::string, std::string>{{"a", "1"}, {"b", "2"}}), h.map());
    EXPECT_EQ(2, wanted.get()->nItem);  // the caller's list is copied, not consumed
}

TEST(GetKeys, AllKeysLaterLinesWin)
{
    write_file(kConf, "a=1\n#x=9\n;y=9\nnodelim\nb = \"2\" \na=3\nc=\nd=x=y\n==e=5\n");
    Hash h;
    EXPECT_EQ(5, KORLFileGetKeys(kConf, nullptr, h.addr(), "="));
    std::map<std::string, std::string> want = {{"a", "3"}, {"b", "2"}, {"c", ""}, {"d", "x=y"}, {"e", "5"}};
    EXPECT_EQ(want, h.map());
    List empty;
    Hash h2;
    EXPECT_EQ(5, KORLFileGetKeys(kConf, empty.get(), h2.addr(), "="));
}

TEST(GetKeys, OtherDelimiters)
{
    write_file(kConf, "user1: pass: word\n  user2 :x\nuser3\n");
    Hash h;
    EXPECT_EQ(2, KORLFileGetKeys(kConf, nullptr, h.addr(), ":"));
    EXPECT_EQ((std::map<std::string, std::string>{{"user1", "pass: word"}, {"user2", "x"}}), h.map());
    Hash h2;
    write_file(kConf, "k v w\nk2\tv2\n");
    EXPECT_EQ(2, KORLFileGetKeys(kConf, nullptr, h2.addr(), " \t"));
    EXPECT_EQ((std::map<std::string, std::string>{{"k", "v w"}, {"k2", "v2"}}), h2.map());
}

TEST(GetKeys, FailedUnionIsLogged)
{
    write_file(kConf, "a=1\n");
    List wanted({"b", "a"});
    KORLSzListSort(wanted.get(), 0x11);  // a sort mode that no union takes
    Hash h;
    syslog_clear();
    EXPECT_EQ(-1, KORLFileGetKeys(kConf, wanted.get(), h.addr(), "="));
    bool logged = false;
    for (const auto &l : syslog_lines())
        logged |= l.severity() == LOG_ERR && l.message.rfind("file_get_keys.cpp:", 0) == 0 &&
                  l.message.find(" PslKORLSzListOr() failed!! korverr=[0x") != std::string::npos;
    EXPECT_TRUE(logged) << syslog_dump();
    EXPECT_TRUE(h.map().empty());
}

TEST(GetKeys, Errors)
{
    Hash h({{"kept", "1"}});
    mark_error();
    EXPECT_EQ(-1, KORLFileGetKeys("/etc/missing.conf", nullptr, h.addr(), "="));
    EXPECT_EQ(KORL_ERR_OPEN, KORLErrGet());
    EXPECT_EQ(1u, h.map().size());
    EXPECT_EQ(-1, KORLFileGetKeys(kConf, nullptr, h.addr(), nullptr));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    EXPECT_EQ(-1, KORLFileGetKeys(nullptr, nullptr, h.addr(), "="));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
}

}  // namespace

namespace {

// An empty hash of many slots grows its pool by the slot count times what it is first asked to
// hold: a first value of 220 KB would need more than the 2 GiB that a hash can address.
PKORLSZHASH hash_that_cannot_take_big_values()
{
    return PshKORLSzHashAllocator(10000, 512);
}

TEST(ReadersFailedSet, GetKeysReportsIt)
{
    write_file(kConf, "#x\nbig=" + std::string(220 * 1024, 'v') + "\nc=3\n");
    PKORLSZHASH h = hash_that_cannot_take_big_values();
    ASSERT_NE(nullptr, h);
    mark_error();
    EXPECT_EQ(-1, KORLFileGetKeys(kConf, nullptr, &h, "="));
    EXPECT_EQ(KORL_ERR_NO_MEMORY, KORLErrGet());
    List wanted({"big"});
    mark_error();
    EXPECT_EQ(-1, KORLFileGetKeys(kConf, wanted.get(), &h, "="));
    EXPECT_EQ(KORL_ERR_NO_MEMORY, KORLErrGet());
    KORLSzHashFree(h);
}

TEST(ReadersFailedSet, GetSectionReportsIt)
{
    write_file(kConf, "[s]\nbig=" + std::string(220 * 1024, 'v') + "\na=1\n");
    PKORLSZHASH h = hash_that_cannot_take_big_values();
    ASSERT_NE(nullptr, h);
    mark_error();
    EXPECT_EQ(-1, KORLFileGetSection(kConf, "s", &h));
    EXPECT_EQ(KORL_ERR_NO_MEMORY, KORLErrGet());
    KORLSzHashFree(h);
}

}  // namespace
