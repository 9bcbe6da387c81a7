// The record of the rewrites' temporary copies as the updater keeps it: what a killed run left,
// the next run removes, and nothing else of a similar name.
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
#include "korv_staging_record.h"
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
        korv::StagingRecordBegin(UPDT_STAGING_FILE);
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
    korv::StagingRecordBegin(UPDT_STAGING_FILE);
    EXPECT_FALSE(file_exists(copy));
    EXPECT_EQ(entries("/etc", "group."), (std::vector<std::string>{"group.Ab12Cd", "group.backup"}));
    EXPECT_EQ(read_file("/etc/group"), group);
    EXPECT_TRUE(korvtest::syslog_has_pattern("RemoveCopy(<L>): removed [" + copy +
                                             "], the copy an interrupted update left"))
        << korvtest::syslog_dump();

    // This run's own rewrites are noted, and a run that ends leaves no record.
    EXPECT_EQ(KORLFileAddLine("/etc/group", nullptr, "maildrop:x:126:", 0), 1);
    EXPECT_NE(read_file(UPDT_STAGING_FILE).find("-/etc/group."), std::string::npos) << read_file(UPDT_STAGING_FILE);
    korv::StagingRecordEnd();
    EXPECT_FALSE(file_exists(UPDT_STAGING_FILE));
    EXPECT_EQ(entries("/etc", "group."), (std::vector<std::string>{"group.Ab12Cd", "group.backup"}));
}

}  // namespace
