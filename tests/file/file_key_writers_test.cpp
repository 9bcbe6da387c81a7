// The key writers: one key, many keys from two hashes, key removal, and the device settings under
// their lock.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <utility>

#include "file_test.h"

using namespace korvtest;
using namespace filetest;

namespace {

const char *const kConf = "/etc/test.conf";

struct SetCase {
    const char *name;
    const char *before;
    const char *key;
    const char *value;
    const char *format;
    const char *after;
};

const SetCase kSetCases[] = {
    {"InPlace", "a=1\nb=1\nc=1\n", "b", "2", nullptr, "a=1\nb=2\nc=1\n"},
    {"LaterLinesDropped", "b=1\na=1\nb=7\nb=8", "b", "2", nullptr, "b=2\na=1\n"},
    {"AppendedAfterLastLineWithoutNewline", "a=1", "c", "3", nullptr, "a=1\nc=3\n"},
    {"AppendedToEmptyFile", "", "c", "3", nullptr, "c=3\n"},
    {"SpellingBeforeEqualsKept", "  b = 1\n", "b", "2", nullptr, "  b =2\n"},
    {"LineWithoutEqualsGetsTheKey", "x=1\nb\n", "b", "2", nullptr, "x=1\nb=2\n"},
    {"CommentsUntouched", "#b=1\n;b=1\n", "b", "2", nullptr, "#b=1\n;b=1\nb=2\n"},
    {"QuotedFormat", "a=\"1\"\nb=\"old\"\n", "b", "new value", "%s=\"%s\"\n", "a=\"1\"\nb=\"new value\"\n"},
    {"SectionFormat", "[s]\nb=\"1\"\n", "b", "2", "\t%s=\"%s\"\n", "[s]\n\tb=\"2\"\n"},
    {"EmptyValue", "b=1\n", "b", "", nullptr, "b=\n"},
    {"CrLfLinesPassThrough", "a=1\r\nb=1\r\n", "b", "2", nullptr, "a=1\r\nb=2\n"},
};

class SetKeyValue : public testing::TestWithParam<SetCase> {};

void PrintTo(const SetCase &c, std::ostream *os)
{
    *os << c.name;
}

TEST_P(SetKeyValue, RewritesWholeFile)
{
    const SetCase &c = GetParam();
    write_file(kConf, c.before);
    EXPECT_EQ(1, KORLFileSetKeyValue(kConf, c.key, c.value, c.format));
    EXPECT_EQ(c.after, read_file(kConf));
    EXPECT_TRUE(temp_files("/etc", "test.conf").empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, SetKeyValue, testing::ValuesIn(kSetCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(SetKeyValueLines, OtherLinesPassByteForByte)
{
    // Lines of any length, and bytes a C string would stop at, are copied as they are.
    std::string before = "long=" + std::string(100000, 'L') + "\n";
    before += std::string("bin\0ary=1\n", 11);
    before += "\xff\xfe=latin\n";
    write_file(kConf, before);
    EXPECT_EQ(1, KORLFileSetKeyValue(kConf, "k", "v", nullptr));
    EXPECT_EQ(before + "k=v\n", read_file(kConf));
    EXPECT_EQ(1, KORLFileReplaceSubStr(kConf, "ary", "ARY"));
    EXPECT_EQ(std::string("bin\0ARY=1\n", 11), read_file(kConf).substr(100006, 11));
}

TEST(SetKeyValueNew, MissingFileGetsOneLine)
{
    EXPECT_EQ(1, KORLFileSetKeyValue("/etc/fresh.conf", "k", "v", nullptr));
    EXPECT_EQ("k=v\n", read_file("/etc/fresh.conf"));
}

TEST(SetKeyValueRefused, TextsThatWouldBreakTheLine)
{
    const std::string before = "a=1\nb=2\n";
    struct {
        const char *key;
        const char *value;
        const char *format;
    } cases[] = {
        {nullptr, "v", nullptr},   {"k", nullptr, nullptr},   {"a\nb", "v", nullptr}, {"a", "1\nc=3", nullptr},
        {"a", "1\r", nullptr},     {"\rb", "v", nullptr},     {"a", "v", "%s=%d\n"},  {"a", "v", "%s=%s%s\n"},
        {"a", "v", "%s\n"},        {"a", "v", "%n%s=%s\n"},
    };
    for (const auto &c : cases) {
        mark_error();
        write_file(kConf, before);
        EXPECT_EQ(-1, KORLFileSetKeyValue(kConf, c.key, c.value, c.format)) << (c.key ? c.key : "null");
        EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
        EXPECT_EQ(before, read_file(kConf));
    }
    mark_error();
    EXPECT_EQ(-1, KORLFileSetKeyValue(nullptr, "a", "v", nullptr));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    // A literal percent sign in a format is fine.
    write_file(kConf, before);
    EXPECT_EQ(1, KORLFileSetKeyValue(kConf, "a", "5", "%s=%s%%\n"));
    EXPECT_EQ("a=5%\nb=2\n", read_file(kConf));
}

TEST(SetKeyValueRoundTrip, ReadersSeeWhatWasWritten)
{
    write_file(kConf, "#comment\nname=\"x\"\n");
    const char *values[] = {"plain", "with spaces", "a=b=c", "  padded  ", "\"quoted\"", "ümlaut"};
    for (const char *v : values) {
        ASSERT_EQ(1, KORLFileSetKeyValue(kConf, "name", v, "%s=\"%s\"\n"));
        char buf[64];
        ASSERT_GT(KORLFileGetKeyValue(kConf, "name", buf, sizeof buf, 0), 0);
        // One pair of quotes is dropped, and only one: the value reads back as written.
        EXPECT_STREQ(v, buf);
    }
    EXPECT_EQ("#comment\nname=\"\xC3\xBCmlaut\"\n", read_file(kConf));
}

// Lines whose key is spelt oddly: every reader and writer takes the same line for the key's.
// The value set is "2"; read is what a first-match read gives before (null: absent).
struct KeyLineCase {
    const char *name;
    const char *before;
    const char *key;
    const char *format;
    const char *read;
    const char *afterSetOne;   // KORLFileSetKeyValue: keeps the line's spelling, drops later lines
    const char *afterSetMany;  // KORLFileSetKeys: rewrites the first line only
    const char *afterRemove;   // KORLFileRemoveKey: drops every line
    const char *afterDelete;   // KORLFileSetKeys's delete hash: drops the first line
};

const KeyLineCase kKeyLineCases[] = {
    {"Plain", "  k = 1 \n", "k", nullptr, "1", "  k =2\n", "k=2\n", "", ""},
    // The fuzz target's input (after its first byte): both the key and the value in quotes.
    {"QuotedKeyAndValue", "\"autoblock_attempts\"=\"9\"\n", "autoblock_attempts", "%s=\"%s\"\n", "9",
     "\"autoblock_attempts\"=\"2\"\n", "autoblock_attempts=\"2\"\n", "", ""},
    // The key text is "k: its one quote stays.
    {"QuotesAroundTheWholeLine", "\"k=1\"\n", "k", nullptr, nullptr, "\"k=1\"\nk=2\n", "\"k=1\"\nk=2\n",
     "\"k=1\"\n", "\"k=1\"\n"},
    // The key text is a blank: the line's key is empty.
    {"BlankBeforeTheFirstEquals", " =k=1\n", "k", nullptr, nullptr, " =k=1\nk=2\n", " =k=1\nk=2\n", " =k=1\n",
     " =k=1\n"},
    // A line of the key without a value is its line all the same: the key reads absent.
    {"KeyWithoutEquals", "k\nk=1\n", "k", nullptr, nullptr, "k=2\n", "k=2\nk=1\n", "", "k=1\n"},
    {"KeyAfterLeadingEquals", "=k\nx=1\n", "k", nullptr, nullptr, "k=2\nx=1\n", "k=2\nx=1\n", "x=1\n", "x=1\n"},
    // Leading "=" signs are skipped; the value is all after the "=" that ends the key.
    {"EqualsAroundTheKey", "x=1\n==k==\nk=3\n", "k", nullptr, "=", "x=1\nk=2\n", "x=1\nk=2\nk=3\n", "x=1\n",
     "x=1\nk=3\n"},
};

void PrintTo(const KeyLineCase &c, std::ostream *os)
{
    *os << c.name;
}

class KeyLine : public testing::TestWithParam<KeyLineCase> {};

// What the two key readers give for key: the first-match value, or "(absent)".
std::pair<std::string, std::string> ReadBoth(const char *key)
{
    char buf[64];
    int got = KORLFileGetKeyValue(kConf, key, buf, sizeof buf, 0);
    std::string one = got > 0 ? buf : "(absent)";
    Hash values;
    List wanted({key});
    EXPECT_GE(KORLFileGetKeys(kConf, wanted.get(), values.addr(), "="), 0);
    auto map = values.map();
    auto it = map.find(key);
    return {one, it == map.end() ? "(absent)" : it->second};
}

TEST_P(KeyLine, EveryReaderAndWriterTakesTheSameLine)
{
    const KeyLineCase &c = GetParam();
    const std::string absent = "(absent)", read = c.read ? c.read : absent;
    write_file(kConf, c.before);
    EXPECT_EQ(std::make_pair(read, read), ReadBoth(c.key)) << "first match, wanted keys";

    EXPECT_EQ(1, KORLFileSetKeyValue(kConf, c.key, "2", c.format));
    EXPECT_EQ(c.afterSetOne, read_file(kConf)) << "KORLFileSetKeyValue";
    EXPECT_EQ(std::make_pair(std::string("2"), std::string("2")), ReadBoth(c.key));

    write_file(kConf, c.before);
    Hash set({{c.key, "2"}});
    EXPECT_EQ(1, KORLFileSetKeys(kConf, set.get(), nullptr, c.format));
    EXPECT_EQ(c.afterSetMany, read_file(kConf)) << "KORLFileSetKeys";
    EXPECT_EQ(std::make_pair(std::string("2"), std::string("2")), ReadBoth(c.key));

    auto lines = [](const std::string &text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); };
    write_file(kConf, c.before);
    EXPECT_EQ(lines(c.before) - lines(c.afterRemove), KORLFileRemoveKey(kConf, c.key));
    EXPECT_EQ(c.afterRemove, read_file(kConf)) << "KORLFileRemoveKey";

    write_file(kConf, c.before);
    Hash keep({{"unused", "0"}}), del({{c.key, ""}});
    EXPECT_EQ(1, KORLFileSetKeys(kConf, keep.get(), del.get(), c.format) - (lines(c.before) - lines(c.afterDelete)));
    EXPECT_EQ(std::string(c.afterDelete) + (c.format ? "unused=\"0\"\n" : "unused=0\n"), read_file(kConf))
        << "KORLFileSetKeys deleting";
}

INSTANTIATE_TEST_SUITE_P(Cases, KeyLine, testing::ValuesIn(kKeyLineCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(SetKeys, ReplacesDropsAndAppends)
{
    write_file(kConf, "a=1\nb=2\nc=3\n");
    Hash set({{"a", "9"}, {"z", "5"}});
    Hash del({{"b", ""}});
    EXPECT_EQ(3, KORLFileSetKeys(kConf, set.get(), del.get(), nullptr));
    EXPECT_EQ("a=9\nc=3\nz=5\n", read_file(kConf));
    EXPECT_EQ((std::map<std::string, std::string>{{"z", "5"}}), set.map());
    EXPECT_TRUE(del.map().empty());
}

TEST(SetKeys, OnlyTheFirstLineOfAKeyChanges)
{
    write_file(kConf, "# head=1\n\n===\n  a = 1 \n\"b\"=2\na=1\nb=2\nlast=x");
    Hash set({{"a", "9"}, {"new1", "n"}});
    Hash del({{"b", ""}});
    EXPECT_EQ(3, KORLFileSetKeys(kConf, set.get(), del.get(), "%s=\"%s\"\n"));
    EXPECT_EQ("# head=1\n\n===\na=\"9\"\na=1\nb=2\nlast=x\nnew1=\"n\"\n", read_file(kConf));
}

TEST(SetKeys, KeyInBothHashesMovesToTheEnd)
{
    write_file(kConf, "k=1\nother=2\n");
    Hash set({{"k", "new"}});
    Hash del({{"k", ""}});
    EXPECT_EQ(2, KORLFileSetKeys(kConf, set.get(), del.get(), nullptr));
    EXPECT_EQ("other=2\nk=new\n", read_file(kConf));
}

TEST(SetKeys, MissingFileInSlotOrder)
{
    Hash set({{"guest", "1"}, {"a", "2"}, {"users", "3"}, {"admin", "4"}});
    const std::string expected = set.lines();
    EXPECT_EQ(4, KORLFileSetKeys("/etc/fresh.conf", set.get(), nullptr, nullptr));
    EXPECT_EQ(expected, read_file("/etc/fresh.conf"));
    EXPECT_EQ(0644u, stat_of("/etc/fresh.conf").st_mode & 07777);
    // "guest" and "a" share a home slot: the one set first comes first.
    EXPECT_LT(expected.find("guest="), expected.find("a="));
}

TEST(SetKeys, RefusedBeforeAnythingChanges)
{
    write_file(kConf, "a=1\n");
    Hash bad({{"a", "x\ny=1"}});
    mark_error();
    EXPECT_EQ(-1, KORLFileSetKeys(kConf, bad.get(), nullptr, nullptr));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    EXPECT_EQ("a=1\n", read_file(kConf));
    Hash ok({{"a", "2"}});
    EXPECT_EQ(-1, KORLFileSetKeys(kConf, nullptr, nullptr, nullptr));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    EXPECT_EQ(-1, KORLFileSetKeys(kConf, ok.get(), nullptr, "%s %d\n"));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    EXPECT_EQ("a=1\n", read_file(kConf));
}

TEST(RemoveKey, DropsEveryLineOfTheKey)
{
    write_file(kConf, "a=1\nb=2\n  a = 3\n#a=4\nab=5\na");
    EXPECT_EQ(3, KORLFileRemoveKey(kConf, "a"));
    EXPECT_EQ("b=2\n#a=4\nab=5\n", read_file(kConf));
}

TEST(RemoveKey, AbsentKeyAndMissingFile)
{
    write_file(kConf, "a=1\n");
    ino_t ino = stat_of(kConf).st_ino;
    mark_error();
    EXPECT_EQ(0, KORLFileRemoveKey(kConf, "zz"));
    EXPECT_EQ(KORL_ERR_NOT_FOUND, KORLErrGet());
    EXPECT_EQ(ino, stat_of(kConf).st_ino);
    EXPECT_TRUE(temp_files("/etc", "test.conf").empty());

    mark_error();
    EXPECT_EQ(-1, KORLFileRemoveKey("/etc/missing.conf", "a"));
    EXPECT_EQ(kUntouched, KORLErrGet());
    EXPECT_FALSE(file_exists("/etc/missing.conf"));
    EXPECT_EQ(-1, KORLFileRemoveKey(kConf, nullptr));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
}

TEST(Remove, UnlinksTheFile)
{
    write_file(kConf, "a=1\n");
    EXPECT_EQ(0, KORLFileRemove(kConf));
    EXPECT_FALSE(file_exists(kConf));
    mark_error();
    EXPECT_EQ(-1, KORLFileRemove(kConf));
    EXPECT_EQ(kUntouched, KORLErrGet());
}

TEST(InfoSetKeyValue, QuotedLineRoundTrip)
{
    write_file("/etc/korvinfo.conf", "unique=\"vaultmere_x1\"\nsupportraid=\"yes\"\n");
    EXPECT_EQ(0, KORVINFOSetKeyValue("defaultfs", "ext3"));
    EXPECT_EQ(0, KORVINFOSetKeyValue("supportraid", "no way"));
    EXPECT_EQ("unique=\"vaultmere_x1\"\nsupportraid=\"no way\"\ndefaultfs=\"ext3\"\n",
              read_file("/etc/korvinfo.conf"));
    char buf[32];
    EXPECT_EQ(7, KORLFileGetKeyValue("/etc/korvinfo.conf", "supportraid", buf, sizeof buf, 0));
    EXPECT_STREQ("no way", buf);
    EXPECT_EQ(1, KORLFileCheckKeyValue("/etc/korvinfo.conf", "defaultfs", "EXT3", 0));
    // The lock is released again: another process can take it at once.
    int fd = open("/tmp/lock/lock_korvinfo", O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(0, flock(fd, LOCK_EX | LOCK_NB));
    close(fd);
    mark_error();
    EXPECT_EQ(-1, KORVINFOSetKeyValue(nullptr, "x"));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
}

TEST(InfoSetKeyValue, BusyLockLeavesTheSettings)
{
    const std::string before = "unique=\"vaultmere_x1\"\n";
    write_file("/etc/korvinfo.conf", before);
    make_dirs("/tmp/lock");
    write_file("/tmp/lock/lock_korvinfo", "");
    int ready[2];
    ASSERT_EQ(0, pipe(ready));
    pid_t holder = fork();
    if (holder == 0) {
        int fd = open("/tmp/lock/lock_korvinfo", O_RDONLY);
        if (fd < 0 || flock(fd, LOCK_EX) != 0)
            _exit(1);
        char c = 'x';
        if (write(ready[1], &c, 1) != 1)
            _exit(1);
        pause();
        _exit(0);
    }
    char c;
    ASSERT_EQ(1, read(ready[0], &c, 1));

    struct timespec t0, t1;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    mark_error();
    EXPECT_EQ(-1, KORVINFOSetKeyValue("defaultfs", "ext3"));
    clock_gettime(CLOCK_MONOTONIC, &t1);
    EXPECT_EQ(KORL_ERR_LOCK, KORLErrGet());
    double waited = static_cast<double>(t1.tv_sec - t0.tv_sec) + static_cast<double>(t1.tv_nsec - t0.tv_nsec) / 1e9;
    EXPECT_GE(waited, 4.5);
    EXPECT_LT(waited, 30.0);
    EXPECT_EQ(before, read_file("/etc/korvinfo.conf"));

    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    EXPECT_EQ(0, KORVINFOSetKeyValue("defaultfs", "ext3"));
    EXPECT_EQ(before + "defaultfs=\"ext3\"\n", read_file("/etc/korvinfo.conf"));
}

}  // namespace
