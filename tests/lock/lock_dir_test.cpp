// The lock folder as another user or a careless program may have left it: only a folder of the
// caller's own that no one else can write is used; anything else is refused and left as it was.
#include <dirent.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "korv/error.h"
#include "korv/file_lock.h"
#include "korvtest.h"

using namespace korvtest;

namespace {

constexpr uid_t kOtherUser = 1000;
const char *const kDir = "/tmp/lock";

std::vector<std::string> entries(const std::string &dir)
{
    std::vector<std::string> out;
    if (DIR *d = opendir(dir.c_str())) {
        while (struct dirent *e = readdir(d)) {
            std::string name = e->d_name;
            if (name != "." && name != "..")
                out.push_back(name);
        }
        closedir(d);
    }
    return out;
}

void make_dir(const char *path, mode_t mode, uid_t owner = 0)
{
    ASSERT_EQ(0, mkdir(path, 0700)) << path;
    ASSERT_EQ(0, chmod(path, mode)) << path;
    if (owner != 0) {
        ASSERT_EQ(0, chown(path, owner, owner)) << path;
    }
}

struct DirCase {
    const char *name;
    std::function<void()> setup;  // what stands at /tmp/lock before the take
    bool used;                    // the take succeeds in a folder of the caller's own
    mode_t mode;                  // the folder's mode afterwards (of the link's target for links)
    uid_t owner;                  // and its owner
    bool link;                    // /tmp/lock is (still) a symbolic link to /tmp/elsewhere
};

void PrintTo(const DirCase &c, std::ostream *os)
{
    *os << c.name;
}

const DirCase kDirCases[] = {
    {"Missing", [] {}, true, 0755, 0, false},
    {"OwnFolder", [] { make_dir(kDir, 0755); }, true, 0755, 0, false},
    {"OwnPrivateFolder", [] { make_dir(kDir, 0700); }, true, 0700, 0, false},
    {"OwnFolderWritableByAll", [] { make_dir(kDir, 0777); }, false, 0777, 0, false},
    {"OwnFolderWritableByGroup", [] { make_dir(kDir, 0775); }, false, 0775, 0, false},
    {"OwnStickyFolderWritableByAll", [] { make_dir(kDir, 01777); }, false, 01777, 0, false},
    {"OtherUsersFolder", [] { make_dir(kDir, 0777, kOtherUser); }, false, 0777, kOtherUser, false},
    {"OtherUsersClosedFolder", [] { make_dir(kDir, 0755, kOtherUser); }, false, 0755, kOtherUser, false},
    {"LinkToOwnFolder",
     [] {
         make_dir("/tmp/elsewhere", 0755);
         ASSERT_EQ(0, symlink("/tmp/elsewhere", kDir));
     },
     false, 0755, 0, true},
    {"LinkToOtherUsersFolder",
     [] {
         make_dir("/tmp/elsewhere", 0777, kOtherUser);
         ASSERT_EQ(0, symlink("elsewhere", kDir));
         ASSERT_EQ(0, lchown(kDir, kOtherUser, kOtherUser));
     },
     false, 0777, kOtherUser, true},
};

class LockDir : public testing::TestWithParam<DirCase> {
protected:
    void SetUp() override { remove_tree(kDir); }
    void TearDown() override { KORLFileLockCloseAll(); }
};

TEST_P(LockDir, OnlyAFolderOfOurOwnIsUsed)
{
    const DirCase &c = GetParam();
    ASSERT_NO_FATAL_FAILURE(c.setup());
    const std::string real = c.link ? "/tmp/elsewhere" : kDir;

    KORLErrSet(0);
    int result = ErrKORLFileLock(KORL_LOCK_KORVINFO | LOCK_EX | LOCK_NB, 0);

    struct stat st {};
    ASSERT_EQ(0, lstat(kDir, &st));
    EXPECT_EQ(c.link, S_ISLNK(st.st_mode));
    ASSERT_EQ(0, stat(real.c_str(), &st));
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(c.mode, st.st_mode & 07777);
    EXPECT_EQ(c.owner, st.st_uid);
    if (c.used) {
        EXPECT_EQ(0, result);
        EXPECT_EQ(18u, entries(kDir).size());
        EXPECT_EQ(0, ErrKORLFileUnlock(KORL_LOCK_KORVINFO));
    } else {
        EXPECT_EQ(-1, result);
        EXPECT_EQ(KORL_ERR_LOCK_DIR, KORLErrGet());
        EXPECT_STREQ("file_lock_check_dir.cpp", KORLErrFileGet());
        // Nothing is made in a folder that others could empty behind our back.
        EXPECT_TRUE(entries(real).empty());
        EXPECT_EQ(-1, KORLFileLockCheckDir());
        EXPECT_EQ(KORL_ERR_LOCK_DIR, KORLErrGet());
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, LockDir, testing::ValuesIn(kDirCases),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
