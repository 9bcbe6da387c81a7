// The writers and readers given what a careless caller or another local user may hand them: keys
// no reader finds back, formats and lines that break lines, and targets that are not plain files.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "file_test.h"

using namespace korvtest;
using namespace filetest;

namespace {

const char *const kConf = "/etc/test.conf";
const char *const kInfo = "/etc/korvinfo.conf";
constexpr uid_t kOtherUser = 1000;

// Keys that a reader would never find again as written, or would find as another key.
struct KeyCase {
    const char *name;
    const char *key;
};

void PrintTo(const KeyCase &c, std::ostream *os)
{
    *os << c.name;
}

const KeyCase kBadKeys[] = {
    {"Empty", ""},
    {"HoldsEquals", "a=b"},
    {"SetsAnotherKey", "admin=yes #"},
    {"CommentHash", "#c"},
    {"CommentSemicolon", ";c"},
    {"LeadingSpace", " a"},
    {"TrailingSpace", "a "},
    {"LeadingTab", "\ta"},
    {"Quoted", "\"a\""},
    {"OnlySpace", "  "},
};

class BadKey : public testing::TestWithParam<KeyCase> {};

TEST_P(BadKey, RefusedByEveryKeyWriter)
{
    const char *key = GetParam().key;
    const std::string before = "a=1\nadmin=no\n";
    const std::string info = "unique=\"vaultmere_x1\"\n";
    write_file(kConf, before);
    write_file(kInfo, info);

    mark_error();
    EXPECT_EQ(-1, KORLFileSetKeyValue(kConf, key, "x", nullptr));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    EXPECT_STREQ("file_set_key_value.cpp", KORLErrFileGet());

    mark_error();
    EXPECT_EQ(-1, KORVINFOSetKeyValue(key, "x"));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());

    // In the set hash too, the empty key included: the call fails before anything is written.
    {
        Hash set({{"a", "2"}, {key, "x"}});
        mark_error();
        EXPECT_EQ(-1, KORLFileSetKeys(kConf, set.get(), nullptr, nullptr));
        EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    }

    EXPECT_EQ(before, read_file(kConf));
    EXPECT_EQ(info, read_file(kInfo));
    EXPECT_TRUE(temp_files("/etc", "test.conf").empty());
    char buf[16];
    EXPECT_EQ(3, KORLFileGetKeyValue(kConf, "admin", buf, sizeof buf, OP_FIND_LAST));
    EXPECT_STREQ("no", buf);
}

INSTANTIATE_TEST_SUITE_P(Keys, BadKey, testing::ValuesIn(kBadKeys),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(GoodKey, ReadBackAsWritten)
{
    write_file(kConf, "");
    for (const char *key : {"a-b.c_d", "inner space", "x\"y", "k#1", "\xC3\xBC"}) {
        ASSERT_EQ(1, KORLFileSetKeyValue(kConf, key, "v", nullptr)) << key;
        char buf[8];
        EXPECT_EQ(2, KORLFileGetKeyValue(kConf, key, buf, sizeof buf, 0)) << key;
    }
    Hash set({{"inner space", "w"}});
    EXPECT_EQ(1, KORLFileSetKeys(kConf, set.get(), nullptr, nullptr));
    EXPECT_EQ("a-b.c_d=v\ninner space=w\nx\"y=v\nk#1=v\n\xC3\xBC=v\n", read_file(kConf));
}

// Key-line formats: "%s", then "=", then "%s", then a newline, and no other conversion.
struct FormatCase {
    const char *format;
    bool valid;
};

const FormatCase kFormats[] = {
    {"%s=%s\n", true},      {"%s=\"%s\"\n", true}, {"\t%s=\"%s\"\n", true}, {"%s = %s\n", true},
    {"%s=%s%%\n", true},    {"%s=%s", false},      {"%s=\"%s\"", false},    {"%s=%s\t", false},
    {"%s %s\n", false},     {"=%s%s\n", false},    {"%s\n=%s", false},      {"%s=%s%s\n", false},
    {"%s=%d\n", false},     {"%s\n", false},       {"%n%s=%s\n", false},    {"%s=%s\n%", false},
};

TEST(KeyLineFormat, OnlyFormatsThatEndTheirLine)
{
    for (const auto &c : kFormats) {
        SCOPED_TRACE(label(c.format));
        const std::string before = "a=1\nb=2\n";
        write_file(kConf, before);
        mark_error();
        int set = KORLFileSetKeyValue(kConf, "a", "9", c.format);
        Hash hash({{"b", "8"}});
        int keys = KORLFileSetKeys(kConf, hash.get(), nullptr, c.format);
        if (c.valid) {
            EXPECT_EQ(1, set);
            EXPECT_EQ(1, keys);
            char buf[8];
            EXPECT_GT(KORLFileGetKeyValue(kConf, "b", buf, sizeof buf, 0), 0);
            EXPECT_EQ('8', buf[0]);
        } else {
            EXPECT_EQ(-1, set);
            EXPECT_EQ(-1, keys);
            EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
            // "%s=%s" would have glued "b=2" onto the value and lost key b.
            EXPECT_EQ(before, read_file(kConf));
        }
    }
}

// One call writes one line: CR or LF in what a line writer writes is refused.
struct LineCase {
    const char *name;
    const char *before;  // null: no file
    std::function<int()> call;
};

void PrintTo(const LineCase &c, std::ostream *os)
{
    *os << c.name;
}

const char *const kPasswd = "root:x:0:0::/root:/bin/sh\nadmin:x:1024:100::/home:/bin/sh\n";

const LineCase kLineCases[] = {
    {"AddLineFirst", kPasswd, [] { return KORLFileAddLine(kConf, nullptr, "evil:x:0:0::/:/bin/sh\nx", 0); }},
    {"AddLineBeforeMatch", kPasswd, [] { return KORLFileAddLine(kConf, "admin:", "a\nroot2::0:0::/:/bin/sh", 0); }},
    {"AddLineAfterMatch", kPasswd,
     [] { return KORLFileAddLine(kConf, "admin:", "a\r", OP_FIND_PREFIX); }},
    {"AddLineAppendInPlace", kPasswd,
     [] { return KORLFileAddLine(kConf, nullptr, "\nroot2::0:0::/:/bin/sh", OP_FIND_PREFIX); }},
    {"AddLineIntoMissingFile", nullptr, [] { return KORLFileAddLine(kConf, nullptr, "a\nb", 0); }},
    {"SetLine", kPasswd, [] { return KORLFileSetLine(kConf, "admin:", "admin:x:1024:100::/home:/bin/sh\nroot2::0:0::/:/bin/sh", 0); }},
    {"SetLineCarriageReturn", kPasswd, [] { return KORLFileSetLine(kConf, "admin:", "admin\r", 0); }},
    {"SetLineIntoMissingFile", nullptr, [] { return KORLFileSetLine(kConf, "x", "a\nb", 0); }},
    {"ReplaceSubStr", kPasswd, [] { return KORLFileReplaceSubStr(kConf, ":/home:", ":/home:/bin/sh\nroot2::0:0::"); }},
    {"ReplaceSubStrCarriageReturn", kPasswd, [] { return KORLFileReplaceSubStr(kConf, "admin", "\r"); }},
};

class LineBreak : public testing::TestWithParam<LineCase> {};

TEST_P(LineBreak, RefusedAndTheFileStays)
{
    const LineCase &c = GetParam();
    if (c.before)
        write_file(kConf, c.before);
    mark_error();
    EXPECT_EQ(-1, c.call());
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    EXPECT_EQ(c.before != nullptr, file_exists(kConf));
    if (c.before) {
        EXPECT_EQ(c.before, read_file(kConf));
    }
    EXPECT_TRUE(temp_files("/etc", "test.conf").empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, LineBreak, testing::ValuesIn(kLineCases),
                         [](const auto &info) { return std::string(info.param.name); });

// Every writer against every kind of target. The writers first: what each does to a plain file.
struct WriterCase {
    const char *name;
    const char *before;
    std::function<int(const char *)> call;
    int result;
    const char *after;
    const char *created;  // what a missing target becomes; null: a missing target is a failure
};

void PrintTo(const WriterCase &c, std::ostream *os)
{
    *os << c.name;
}

int set_keys(const char *path)
{
    Hash set({{"b", "3"}});
    return KORLFileSetKeys(path, set.get(), nullptr, nullptr);
}

int set_section(const char *path)
{
    Hash hash({{"k", "v"}});
    return ErrKORLFileSetSection(path, "s", "t", hash.get(), nullptr);
}

int add_section(const char *path)
{
    Hash hash({{"k", "v"}});
    return ErrKORLFileAddSection(path, "t", hash.get(), nullptr);
}

const WriterCase kWriters[] = {
    {"SetKeyValue", "a=1\nb=2\n", [](const char *p) { return KORLFileSetKeyValue(p, "b", "3", nullptr); }, 1,
     "a=1\nb=3\n", "b=3\n"},
    {"SetKeys", "a=1\nb=2\n", set_keys, 1, "a=1\nb=3\n", "b=3\n"},
    {"RemoveKey", "a=1\nb=2\n", [](const char *p) { return KORLFileRemoveKey(p, "b"); }, 1, "a=1\n", nullptr},
    {"AddLine", "a=1\nb=2\n", [](const char *p) { return KORLFileAddLine(p, "b=", "c=9", 0); }, 1,
     "a=1\nc=9\nb=2\n", "c=9\n"},
    {"AddLineInPlace", "a=1\nb=2\n", [](const char *p) { return KORLFileAddLine(p, nullptr, "c=9", OP_FIND_PREFIX); },
     1, "a=1\nb=2\nc=9\n", "c=9\n"},
    {"SetLine", "a=1\nb=2\n", [](const char *p) { return KORLFileSetLine(p, "b=", "b=4", 0); }, 1, "a=1\nb=4\n",
     "b=4\n"},
    {"ReplaceSubStr", "a=1\nb=2\n", [](const char *p) { return KORLFileReplaceSubStr(p, "=", ":"); }, 2,
     "a:1\nb:2\n", nullptr},
    {"SetSection", "[s]\na=1\n#n\n[u]\n", set_section, 1, "[t]\nk=v\n#n\n[u]\n", nullptr},
    {"AddSection", "[s]\na=1\n", add_section, 1, "[s]\na=1\n[t]\nk=v\n", nullptr},
};

// The targets: what stands at the path handed to the writer.
enum class Outcome { Written, Followed, Refused };

struct TargetCase {
    const char *name;
    // Lays the target out around the content; returns the path to hand to the writer.
    std::function<std::string(const std::string &content)> setup;
    Outcome outcome;
};

void PrintTo(const TargetCase &c, std::ostream *os)
{
    *os << c.name;
}

const char *const kReal = "/etc/real/test.conf";

std::string own_link(const char *to, const char *at)
{
    EXPECT_EQ(0, symlink(to, at)) << at;
    return at;
}

std::string others_link(const char *to, const char *at)
{
    own_link(to, at);
    EXPECT_EQ(0, lchown(at, kOtherUser, kOtherUser)) << at;
    return at;
}

const TargetCase kTargets[] = {
    {"PlainFile", [](const std::string &c) { write_file(kConf, c); return std::string(kConf); }, Outcome::Written},
    {"OwnLink",
     [](const std::string &c) {
         write_file(kReal, c);
         return own_link(kReal, kConf);
     },
     Outcome::Followed},
    {"OwnRelativeLinkChain",
     [](const std::string &c) {
         write_file(kReal, c);
         own_link("test.conf", "/etc/real/step.conf");
         return own_link("real/step.conf", kConf);
     },
     Outcome::Followed},
    {"OthersLink",
     [](const std::string &c) {
         write_file(kReal, c);
         return others_link(kReal, kConf);
     },
     Outcome::Refused},
    {"OthersLinkInSticky",
     [](const std::string &c) {
         write_file(kReal, c);
         return others_link(kReal, "/tmp/test.conf");
     },
     Outcome::Refused},
    {"OthersLinkInChain",
     [](const std::string &c) {
         write_file(kReal, c);
         others_link("test.conf", "/etc/real/step.conf");
         return own_link("real/step.conf", kConf);
     },
     Outcome::Refused},
    {"Fifo",
     [](const std::string &) {
         EXPECT_EQ(0, mkfifo(kConf, 0644));
         return std::string(kConf);
     },
     Outcome::Refused},
    {"DeviceNode",
     [](const std::string &) {
         // Where device nodes cannot be made, the sandbox's own /dev/null stands in.
         if (mknod(kConf, S_IFCHR | 0644, makedev(1, 3)) == 0)
             return std::string(kConf);
         return std::string("/dev/null");
     },
     Outcome::Refused},
};

// What a target tree looks like: each path's kind and its link text or contents; without the
// real file, only the links that lead to it.
std::string snapshot(const std::string &callPath, bool withReal = true)
{
    std::string out;
    std::vector<std::string> paths = {callPath, "/etc/real/step.conf"};
    if (withReal)
        paths.push_back(kReal);
    for (const std::string &p : paths) {
        struct stat st {};
        out += p + ": ";
        if (lstat(p.c_str(), &st) != 0) {
            out += "none\n";
        } else if (S_ISLNK(st.st_mode)) {
            char to[256] = {};
            ssize_t n = readlink(p.c_str(), to, sizeof to - 1);
            out += "link " + std::string(to, n > 0 ? static_cast<size_t>(n) : 0) + " uid " +
                   std::to_string(st.st_uid) + "\n";
        } else if (S_ISREG(st.st_mode)) {
            out += "file " + read_file(p) + "\n";
        } else {
            out += "mode " + std::to_string(st.st_mode & S_IFMT) + " rdev " + std::to_string(st.st_rdev) + "\n";
        }
    }
    return out;
}

bool no_temp_files(const std::string &path)
{
    std::string dir = path.substr(0, path.rfind('/'));
    std::string base = path.substr(path.rfind('/') + 1);
    return temp_files(dir, base).empty() && temp_files("/etc/real", "test.conf").empty() &&
           temp_files("/etc", "test.conf").empty();
}

// A FIFO that a writer waited on would hang the test: the alarm ends it instead.
struct Watchdog {
    Watchdog() { alarm(20); }
    ~Watchdog() { alarm(0); }
};

class WriterTarget : public testing::TestWithParam<std::tuple<WriterCase, TargetCase>> {};

TEST_P(WriterTarget, WritesTheRealFileOrNothing)
{
    const auto &[w, t] = GetParam();
    std::string path = t.setup(w.before);
    const std::string before = snapshot(path);
    const std::string links = snapshot(path, false);

    mark_error();
    int result;
    {
        Watchdog watchdog;
        result = w.call(path.c_str());
    }

    switch (t.outcome) {
    case Outcome::Written:
        EXPECT_EQ(w.result, result);
        EXPECT_EQ(w.after, read_file(path));
        break;
    case Outcome::Followed:
        // The rewrite happened beside the link's target; every link stays as it was.
        EXPECT_EQ(w.result, result);
        EXPECT_EQ(w.after, read_file(kReal));
        EXPECT_EQ(links, snapshot(path, false));
        break;
    case Outcome::Refused:
        EXPECT_EQ(-1, result);
        EXPECT_EQ(KORL_ERR_OPEN, KORLErrGet());
        EXPECT_EQ(before, snapshot(path));
        break;
    }
    EXPECT_TRUE(no_temp_files(path));
}

INSTANTIATE_TEST_SUITE_P(Matrix, WriterTarget, testing::Combine(testing::ValuesIn(kWriters), testing::ValuesIn(kTargets)),
                         [](const auto &info) {
                             return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
                         });

// A link of our own that leads nowhere yet: the writers that create a missing file create the
// link's target and keep the link; the others fail as for any missing file.
class DanglingLink : public testing::TestWithParam<WriterCase> {};

TEST_P(DanglingLink, CreatesTheTargetOrFails)
{
    const WriterCase &w = GetParam();
    make_dirs("/etc/real");
    own_link("real/test.conf", kConf);
    mark_error();
    int result = w.call(kConf);
    struct stat st {};
    ASSERT_EQ(0, lstat(kConf, &st));
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    if (w.created) {
        EXPECT_EQ(1, result);
        EXPECT_EQ(w.created, read_file(kReal));
    } else {
        EXPECT_EQ(-1, result);
        EXPECT_FALSE(file_exists(kReal));
    }
    EXPECT_TRUE(no_temp_files(kConf));
}

INSTANTIATE_TEST_SUITE_P(Writers, DanglingLink, testing::ValuesIn(kWriters),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(DanglingLink, OfAnotherUserCreatesNothing)
{
    make_dirs("/etc/real");
    others_link(kReal, kConf);
    mark_error();
    EXPECT_EQ(-1, KORLFileSetKeyValue(kConf, "a", "1", nullptr));
    EXPECT_EQ(KORL_ERR_OPEN, KORLErrGet());
    mark_error();
    EXPECT_EQ(-1, KORLFileAddLine(kConf, nullptr, "a", 0));
    EXPECT_EQ(KORL_ERR_OPEN, KORLErrGet());
    EXPECT_FALSE(file_exists(kReal));
    struct stat st {};
    ASSERT_EQ(0, lstat(kConf, &st));
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

// The real file keeps its owner and mode through the link.
TEST(OwnLink, RealFileKeepsOwnerAndMode)
{
    write_file(kReal, "a=1\n", 0640);
    ASSERT_EQ(0, chown(kReal, kOtherUser, 100));
    own_link(kReal, kConf);
    EXPECT_EQ(1, KORLFileSetKeyValue(kConf, "a", "2", nullptr));
    struct stat st = stat_of(kReal);
    EXPECT_EQ(0640u, st.st_mode & 07777);
    EXPECT_EQ(kOtherUser, st.st_uid);
    EXPECT_EQ(100u, st.st_gid);
    EXPECT_EQ("a=2\n", read_file(kReal));
}

// What a reader finds at the path instead of a settings file: it refuses at once (0x0900) and
// leaves the caller's buffer and hash as they were, rather than wait on a FIFO or read a device
// without end.
struct ReaderTargetCase {
    const char *name;
    std::function<std::string()> setup;
};

const ReaderTargetCase kReaderTargets[] = {
    {"Fifo",
     [] {
         EXPECT_EQ(0, mkfifo(kConf, 0644));
         return std::string(kConf);
     }},
    {"FifoHeldOpen",
     [] {
         EXPECT_EQ(0, mkfifo(kConf, 0644));
         // A writer that never writes: a blocking read would wait for it for ever.
         static int keep = -1;
         keep = open(kConf, O_RDWR | O_NONBLOCK);
         EXPECT_GE(keep, 0);
         return std::string(kConf);
     }},
    {"LinkToFifo",
     [] {
         EXPECT_EQ(0, mkfifo("/etc/fifo", 0644));
         own_link("fifo", kConf);
         return std::string(kConf);
     }},
    {"EndlessDevice", [] { return std::string("/dev/zero"); }},
    {"Directory",
     [] {
         make_dirs(kConf);
         return std::string(kConf);
     }},
};

class ReaderTarget : public testing::TestWithParam<ReaderTargetCase> {};

TEST_P(ReaderTarget, RefusedAtOnce)
{
    std::string path = GetParam().setup();
    Watchdog watchdog;

    char buf[8] = "keep";
    mark_error();
    EXPECT_EQ(-1, KORLFileGetKeyValue(path.c_str(), "a", buf, sizeof buf, 0));
    EXPECT_EQ(KORL_ERR_OPEN, KORLErrGet());
    mark_error();
    EXPECT_EQ(-1, KORLFileGetLine(path.c_str(), "a", buf, sizeof buf, 0));
    EXPECT_EQ(KORL_ERR_OPEN, KORLErrGet());
    EXPECT_STREQ("keep", buf);
    EXPECT_EQ(0, KORLFileCheckKeyValue(path.c_str(), "a", "1", 7));

    Hash hash({{"k", "v"}});
    mark_error();
    EXPECT_EQ(-1, KORLFileGetSection(path.c_str(), "global", hash.addr()));
    EXPECT_EQ(KORL_ERR_OPEN, KORLErrGet());
    mark_error();
    EXPECT_EQ(-1, KORLFileGetKeys(path.c_str(), nullptr, hash.addr(), "="));
    EXPECT_EQ(KORL_ERR_OPEN, KORLErrGet());
    EXPECT_EQ(1, hash.get()->nUsed);
    EXPECT_STREQ("v", SzKORLSzHashGetValue(hash.get(), "k"));
}

INSTANTIATE_TEST_SUITE_P(Targets, ReaderTarget, testing::ValuesIn(kReaderTargets),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
