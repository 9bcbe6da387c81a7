// The record of the rewrites' temporary copies: what a killed run left, the next run removes,
// and nothing else of a similar name.
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "korv/file.h"
#include "korv_rewrite.h"
#include "korv_unique.h"
#include "korvtest.h"
#include "updater.h"

using korvtest::file_exists;
using korvtest::read_file;
using korvtest::write_file;

namespace {

// The names in dir that begin with prefix, sorted.
std::vector<std::string> entries(const std::string &dir, const std::string &prefix)
{
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (const dirent *e = readdir(d))
            if (std::string(e->d_name).rfind(prefix, 0) == 0)
                names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A process of the updater that begins its record, starts a rewrite of path with part of the
// new contents, and is killed there.
void KilledWhileRewriting(const char *path)
{
    pid_t pid = fork();
    if (pid == 0) {
        UPDTStagingBegin();
        korv::FileRewrite rw(path);
        korv::UniqueFile in(fopen(path, "r"));
        if (!in || rw.Begin(fileno(in.get())) != 0 || rw.PutLine("postfix:x:125:postfix") != 0 ||
            fflush(rw.stream()) != 0)
            _exit(1);
        raise(SIGKILL);
        _exit(2);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
}

mode_t ModeOf(const std::string &path)
{
    struct stat st = {};
    return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST(Staging, CopyOfAKilledRewriteIsRemovedByTheNextRun)
{
    const std::string group = "root:x:0:\nusers:x:100:\n";
    write_file("/etc/group", group);
    // The owner's own copies of a similar name, one of them made as mkstemp makes its files.
    write_file("/etc/group.backup", group, 0600);
    write_file("/etc/group.Ab12Cd", group, 0600);
    KilledWhileRewriting("/etc/group");
    std::vector<std::string> left = entries("/etc", "group.");
    ASSERT_EQ(left.size(), 3u) << testing::PrintToString(left);
    std::string copy;
    for (const auto &name : left)
        if (name != "group.backup" && name != "group.Ab12Cd")
            copy = "/etc/" + name;
    EXPECT_EQ(ModeOf(copy), 0600u);
    EXPECT_NE(read_file(UPDT_STAGING_FILE).find("+" + copy + "\n"), std::string::npos);

    korvtest::syslog_clear();
    UPDTStagingBegin();
    EXPECT_FALSE(file_exists(copy));
    EXPECT_EQ(entries("/etc", "group."), (std::vector<std::string>{"group.Ab12Cd", "group.backup"}));
    EXPECT_EQ(read_file("/etc/group"), group);
    EXPECT_TRUE(korvtest::syslog_has_pattern("RemoveCopy(<L>): removed [" + copy +
                                             "], the copy an interrupted update left"))
        << korvtest::syslog_dump();

    // This run's own rewrites are noted, and a run that ends leaves no record.
    EXPECT_EQ(KORLFileAddLine("/etc/group", nullptr, "maildrop:x:126:", 0), 1);
    EXPECT_NE(read_file(UPDT_STAGING_FILE).find("-/etc/group."), std::string::npos) << read_file(UPDT_STAGING_FILE);
    UPDTStagingEnd();
    EXPECT_FALSE(file_exists(UPDT_STAGING_FILE));
    EXPECT_EQ(entries("/etc", "group."), (std::vector<std::string>{"group.Ab12Cd", "group.backup"}));
}

// What a record names, and what stands there: only an open copy that is a plain file of the
// updater's own with one name goes.
struct RecordCase {
    const char *name;
    std::string record;   // the record as a killed run left it
    const char *kind;     // what stands at "/etc/crontab.Q1w2E3": "file", "link", "other user", "two names"
    mode_t mode;
    bool removed;
};

void PrintTo(const RecordCase &c, std::ostream *os)
{
    *os << c.name;
}

const char kCopy[] = "/etc/crontab.Q1w2E3";

const std::vector<RecordCase> &RecordCases()
{
    static const std::vector<RecordCase> cases = {
        {"OpenCopy", std::string("+") + kCopy + "\n", "file", 0600, true},
        {"OpenCopyAfterItsMode", std::string("+") + kCopy + "\n", "file", 0644, true},
        {"RenamedOrRemoved", std::string("+") + kCopy + "\n-" + kCopy + "\n", "file", 0600, false},
        {"LineCutShort", std::string("+") + kCopy, "file", 0600, false},
        {"NotAStagingName", "+/etc/crontab\n+/etc/crontab.tmp\n+crontab.Q1w2E3\n", "file", 0600, false},
        {"Link", std::string("+") + kCopy + "\n", "link", 0600, false},
        {"OtherUsersFile", std::string("+") + kCopy + "\n", "other user", 0600, false},
        {"FileWithTwoNames", std::string("+") + kCopy + "\n", "two names", 0600, false},
    };
    return cases;
}

class StagingRecord : public testing::TestWithParam<RecordCase> {};

TEST_P(StagingRecord, RemovesOnlyTheOpenCopiesItNames)
{
    const RecordCase &c = GetParam();
    const std::string crontab = "# the schedule\n";
    write_file("/etc/crontab", crontab);
    write_file("/etc/crontab.backup", crontab, 0600);
    write_file("/etc/crontab.tmp", crontab, 0600);
    write_file(UPDT_STAGING_FILE, c.record, 0600);
    const std::string kind = c.kind;
    if (kind == "link") {
        ASSERT_EQ(symlink("/etc/crontab", kCopy), 0);
    } else {
        write_file(kCopy, crontab, c.mode);
        if (kind == "other user") {
            ASSERT_EQ(chown(kCopy, 1024, 100), 0);
        }
        if (kind == "two names") {
            ASSERT_EQ(link(kCopy, "/etc/crontab.kept"), 0);
        }
    }
    UPDTStagingBegin();
    UPDTStagingEnd();
    struct stat st;
    EXPECT_EQ(lstat(kCopy, &st) != 0, c.removed);
    EXPECT_EQ(read_file("/etc/crontab"), crontab);
    EXPECT_EQ(read_file("/etc/crontab.backup"), crontab);
    EXPECT_EQ(read_file("/etc/crontab.tmp"), crontab);
    EXPECT_FALSE(file_exists(UPDT_STAGING_FILE));
}

INSTANTIATE_TEST_SUITE_P(Records, StagingRecord, testing::ValuesIn(RecordCases()),
                         [](const testing::TestParamInfo<RecordCase> &i) { return std::string(i.param.name); });

// A record another user could have written names nothing to remove.
TEST(StagingRecordOwner, RecordOthersCanWriteIsNotTrusted)
{
    write_file("/etc/crontab", "# the schedule\n");
    write_file(kCopy, "# the schedule\n", 0600);
    write_file(UPDT_STAGING_FILE, std::string("+") + kCopy + "\n", 0666);
    ASSERT_EQ(chmod(UPDT_STAGING_FILE, 0666), 0);
    UPDTStagingBegin();
    UPDTStagingEnd();
    EXPECT_TRUE(file_exists(kCopy));
}

}  // namespace
