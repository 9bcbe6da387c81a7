// The staging record's sweep: of what an earlier record names, only the copies the rewrite made
// and left open go, and nothing else of a similar name, whatever a damaged record says.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "korv/file.h"
#include "korv_staging_record.h"
#include "korvtest.h"

using korvtest::file_exists;
using korvtest::read_file;
using korvtest::write_file;

namespace {

const char kRecord[] = "/var/log/rewrite.staging";
const char kCopy[] = "/etc/crontab.Q1w2E3";
const std::string kCrontab = "# the schedule\n";

// The record's line of a copy that was made: its device and inode as lstat sees them now.
std::string made(const std::string &path, const std::string &as = "")
{
    struct stat st = {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return "=" + std::to_string(st.st_dev) + " " + std::to_string(st.st_ino) + " " + (as.empty() ? path : as) +
           "\n";
}

std::string named(const std::string &path)
{
    return "+" + path + "\n";
}

// One situation: what stands beside the crontab, and the record a killed run (or damage) left.
struct RecordCase {
    const char *name;
    std::function<std::string()> layOut;  // makes the files, returns the record
    bool removed;                         // kCopy is gone afterwards
};

void PrintTo(const RecordCase &c, std::ostream *os)
{
    *os << c.name;
}

const std::vector<RecordCase> &RecordCases()
{
    static const std::vector<RecordCase> cases = {
        {"MadeAndNamed",
         [] {
             write_file(kCopy, kCrontab, 0600);
             return named(kCopy) + made(kCopy);
         },
         true},
        // The commit gives the copy its target's mode before the rename.
        {"MadeWithItsTargetsMode",
         [] {
             write_file(kCopy, kCrontab, 0644);
             return named(kCopy) + made(kCopy);
         },
         true},
        // Killed between the create and the line that names what it made: nothing in it yet.
        {"NamedAndMadeEmpty",
         [] {
             write_file(kRecord, named(kCopy), 0600);
             write_file(kCopy, "", 0600);
             return named(kCopy);
         },
         true},
        {"NamedOnlyHoldsBytes",
         [] {
             write_file(kCopy, kCrontab, 0600);
             return named(kCopy);
         },
         false},
        {"NamedOnlyOlderThanTheRecord",
         [] {
             write_file(kCopy, "", 0600);
             write_file(kRecord, named(kCopy), 0600);
             // The record's last line came after the file was made: not the file it announced.
             struct timespec later[2] = {{0, UTIME_OMIT}, {time(nullptr) + 60, 0}};
             EXPECT_EQ(utimensat(AT_FDCWD, kRecord, later, 0), 0);
             return std::string();
         },
         false},
        {"IdentityOfAnotherFile",
         [] {
             write_file(kCopy, kCrontab, 0600);
             return named(kCopy) + made("/etc/crontab.backup", kCopy);
         },
         false},
        {"RenamedOrRemoved",
         [] {
             write_file(kCopy, kCrontab, 0600);
             return named(kCopy) + made(kCopy) + "-" + kCopy + "\n";
         },
         false},
        {"LineCutShort",
         [] {
             write_file(kCopy, "", 0600);
             return std::string("+") + kCopy;
         },
         false},
        {"NotAStagingName",
         [] {
             write_file(kCopy, kCrontab, 0600);
             // The owner's "/etc/crontab.backup" has the form of a copy's name, but not what the
             // record would say of a copy it made.
             return made("/etc/crontab") + made("/etc/crontab.tmp") + named("/etc/crontab.backup") +
                    made(kCopy, "crontab.Q1w2E3") + made(kCopy, "/etc/crontab.Q1w2E");
         },
         false},
        {"Link",
         [] {
             EXPECT_EQ(symlink("/etc/crontab", kCopy), 0);
             return named(kCopy) + made(kCopy);
         },
         false},
        {"OtherUsersFile",
         [] {
             write_file(kCopy, kCrontab, 0600);
             EXPECT_EQ(chown(kCopy, 1024, 100), 0);
             return named(kCopy) + made(kCopy);
         },
         false},
        {"FileWithTwoNames",
         [] {
             write_file(kCopy, kCrontab, 0600);
             EXPECT_EQ(link(kCopy, "/etc/crontab.kept"), 0);
             return named(kCopy) + made(kCopy);
         },
         false},
        // lstat and unlink would stop at the NUL and take the crontab itself.
        {"NulInThePath",
         [] {
             write_file(kCopy, kCrontab, 0600);
             std::string path = std::string("/etc/crontab") + '\0' + ".Q1w2E3";
             return "+" + path + "\n" + made("/etc/crontab", path) + made(kCopy, path);
         },
         false},
        {"ControlByteInThePath",
         [] {
             write_file(kCopy, kCrontab, 0600);
             return made(kCopy, "/etc/crontab.Q1w2E3\r");
         },
         false},
        {"DotDotInThePath",
         [] {
             write_file(kCopy, kCrontab, 0600);
             korvtest::make_dirs("/etc/sub");
             return made(kCopy, "/etc/sub/../crontab.Q1w2E3") + made(kCopy, "/etc/./crontab.Q1w2E3") +
                    made(kCopy, "/etc//crontab.Q1w2E3");
         },
         false},
        {"ThroughALinkedFolder",
         [] {
             write_file(kCopy, kCrontab, 0600);
             EXPECT_EQ(symlink("/etc", "/var/linked"), 0);
             return made(kCopy, "/var/linked/crontab.Q1w2E3");
         },
         false},
        // "/etc/gone" is not there: its look-alike stays, the crontab's copy beside it goes.
        {"NoFileItExtends",
         [] {
             write_file("/etc/gone.Q1w2E3", kCrontab, 0600);
             write_file(kCopy, kCrontab, 0600);
             return made("/etc/gone.Q1w2E3") + named(kCopy) + made(kCopy);
         },
         true},
    };
    return cases;
}

class StagingRecord : public testing::TestWithParam<RecordCase> {};

TEST_P(StagingRecord, RemovesOnlyTheCopiesItMade)
{
    const RecordCase &c = GetParam();
    write_file("/etc/crontab", kCrontab);
    write_file("/etc/crontab.backup", kCrontab, 0600);
    write_file("/etc/crontab.tmp", kCrontab, 0600);
    std::string record = c.layOut();
    if (!record.empty())
        write_file(kRecord, record, 0600);
    korv::StagingRecordBegin(kRecord);
    korv::StagingRecordEnd();
    struct stat st;
    EXPECT_EQ(lstat(kCopy, &st) != 0, c.removed) << korvtest::syslog_dump();
    EXPECT_EQ(read_file("/etc/crontab"), kCrontab);
    EXPECT_EQ(read_file("/etc/crontab.backup"), kCrontab);
    EXPECT_EQ(read_file("/etc/crontab.tmp"), kCrontab);
    EXPECT_FALSE(file_exists(kRecord));
    if (std::string(c.name) == "NoFileItExtends") {
        EXPECT_TRUE(file_exists("/etc/gone.Q1w2E3"));
    }
}

INSTANTIATE_TEST_SUITE_P(Records, StagingRecord, testing::ValuesIn(RecordCases()),
                         [](const testing::TestParamInfo<RecordCase> &i) { return std::string(i.param.name); });

// The copy of a file that did not exist yet has no file beside it: the record says so, and only
// then is a copy without one removed.
TEST(StagingRecordNewFile, CopyOfANewFileIsRemoved)
{
    const std::string made1 = "/etc/fresh.Abc123", named2 = "/etc/fresh2.Abc123", plain = "/etc/fresh3.Abc123";
    write_file(made1, "half\n", 0600);
    write_file(plain, "half\n", 0600);
    std::string record = "*" + made1 + "\n" + made(made1) + "*" + named2 + "\n" + named(plain) + made(plain);
    write_file(kRecord, record, 0600);
    write_file(named2, "", 0600);
    korv::StagingRecordBegin(kRecord);
    korv::StagingRecordEnd();
    EXPECT_FALSE(file_exists(made1));
    EXPECT_FALSE(file_exists(named2));
    // Named as the copy of an existing file, which is not there.
    EXPECT_TRUE(file_exists(plain));
}

// A rewrite of a missing file names its copy as a new file's.
TEST(StagingRecordNewFile, RewriteOfAMissingFileNotesANewFile)
{
    korv::StagingRecordBegin(kRecord);
    ASSERT_EQ(KORLFileSetKeyValue("/etc/fresh.conf", "a", "1", nullptr), 1);
    const std::string record = read_file(kRecord);
    EXPECT_EQ(record.rfind("*/etc/fresh.conf.", 0), 0u) << record;
    korv::StagingRecordEnd();
}

// A record another user could have written names nothing to remove.
TEST(StagingRecordOwner, RecordOthersCanWriteIsNotTrusted)
{
    write_file("/etc/crontab", kCrontab);
    write_file(kCopy, kCrontab, 0600);
    write_file(kRecord, named(kCopy) + made(kCopy), 0666);
    ASSERT_EQ(chmod(kRecord, 0666), 0);
    korv::StagingRecordBegin(kRecord);
    korv::StagingRecordEnd();
    EXPECT_TRUE(file_exists(kCopy));
}

// A record is read to its bound: what it names beyond is left, and the sweep says so.
TEST(StagingRecordBound, WhatLiesBeyondIsIgnored)
{
    write_file("/etc/crontab", kCrontab);
    write_file("/etc/crontab.First1", kCrontab, 0600);
    write_file("/etc/crontab.Later1", kCrontab, 0600);
    std::string record = named("/etc/crontab.First1") + made("/etc/crontab.First1");
    const std::string filler = "-/etc/crontab.Filler\n";
    while (record.size() <= korv::kStagingRecordBound)
        record += filler;
    record += named("/etc/crontab.Later1") + made("/etc/crontab.Later1");
    write_file(kRecord, record, 0600);
    korvtest::syslog_clear();
    korv::StagingRecordBegin(kRecord);
    korv::StagingRecordEnd();
    EXPECT_FALSE(file_exists("/etc/crontab.First1"));
    EXPECT_TRUE(file_exists("/etc/crontab.Later1"));
    EXPECT_TRUE(korvtest::syslog_has_pattern("ReadRecord(<L>): [" + std::string(kRecord) + "] is longer than " +
                                             std::to_string(korv::kStagingRecordBound) +
                                             " bytes; what lies beyond is ignored"))
        << korvtest::syslog_dump();
}

// While a record is open, each copy a rewrite makes is named before it exists, then noted as
// made, then done; with none open, a rewrite writes no record.
TEST(StagingRecordNotes, EachCopyNamedMadeThenDone)
{
    write_file("/etc/crontab", "a=1\n");
    EXPECT_EQ(KORLFileSetKeyValue("/etc/crontab", "a", "2", nullptr), 1);
    EXPECT_FALSE(file_exists(kRecord));

    korv::StagingRecordBegin(kRecord);
    EXPECT_EQ(KORLFileSetKeyValue("/etc/crontab", "a", "3", nullptr), 1);
    const std::string record = read_file(kRecord);
    ASSERT_EQ(record.rfind("+/etc/crontab.", 0), 0u) << record;
    const std::string copy = record.substr(1, record.find('\n') - 1);
    ASSERT_EQ(copy.size(), strlen("/etc/crontab.") + 6) << copy;
    const std::string second = record.substr(record.find('\n') + 1);
    EXPECT_EQ(second.rfind("=", 0), 0u) << record;
    EXPECT_EQ(second.substr(second.find('\n') + 1), "-" + copy + "\n") << record;
    EXPECT_NE(second.find(" " + copy + "\n"), std::string::npos) << record;
    EXPECT_FALSE(file_exists(copy));
    korv::StagingRecordEnd();
    EXPECT_FALSE(file_exists(kRecord));
    EXPECT_EQ(read_file("/etc/crontab"), "a=3\n");
}

// The record belongs to the process that opened it: a child forked without exec (as the mail
// notice's is) that closes its descriptors and gets the record's number for a file of its own
// never writes a note through it.
TEST(StagingRecordNotes, ForkedChildWritesNothingThroughTheNumber)
{
    write_file("/tmp/child.conf", "a=1\n");
    korv::StagingRecordBegin(kRecord);
    int number = -1;
    for (int fd = 3; fd < 1024; ++fd) {
        char link[64], target[256] = {};
        snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        if (readlink(link, target, sizeof target - 1) > 0 && std::string(target) == kRecord)
            number = fd;
    }
    ASSERT_GE(number, 3);
    pid_t pid = fork();
    if (pid == 0) {
        for (int fd = 3; fd < 1024; ++fd)
            close(fd);
        int probe = open("/tmp/probe", O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (probe < 0 || dup2(probe, number) != number)
            _exit(10);
        bool ok = KORLFileSetKeyValue("/tmp/child.conf", "a", "2", nullptr) == 1;
        korv::StagingRecordEnd();  // leaves the number alone
        _exit(ok && write(number, "", 0) == 0 ? 0 : 11);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(read_file("/tmp/probe"), "");
    EXPECT_EQ(read_file("/tmp/child.conf"), "a=2\n");
    EXPECT_EQ(read_file(kRecord).find("/tmp/child.conf"), std::string::npos) << read_file(kRecord);
    korv::StagingRecordEnd();
    EXPECT_FALSE(file_exists(kRecord));
}

}  // namespace
