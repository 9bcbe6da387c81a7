// Named lock files between real processes: a forked child holds a lock while this process asks.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "korv/error.h"
#include "korv/file_lock.h"
#include "korvtest.h"
#include "lock_holder.h"

using namespace korvtest;

namespace {

constexpr unsigned kShared = LOCK_SH | LOCK_NB;     // 5
constexpr unsigned kExclusive = LOCK_EX | LOCK_NB;  // 6

const std::vector<std::pair<unsigned, std::string>> kTable = {
    {0x800, "lock_korvinfo"}, {0x10, "lock_pw"},         {0x20, "lock_gr"},
    {0x80, "lock_rc"},        {0x100, "lock_host"},      {0x40, "lock_smb"},
    {0x200, "lock_exports"},  {0x400, "lock_nw"},        {0x1000, "lock_apple"},
    {0x2000, "lock_snmp"},    {0x4000, "lock_win"},      {0x8000, "lock_tapebkp"},
    {0x10000, "lock_connect"}, {0x20000, "lock_usbidmap"}, {0x40000, "lock_duseruid"},
    {0x80000, "lock_dusergid"}, {0x100000, "lock_fstab"}, {0x200000, "lock_hotswap"},
};

std::string lock_path(const std::string &name)
{
    return "/tmp/lock/" + name;
}

double now_seconds()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Whether an independent open of the file could be locked with op right now. A fresh open is
// a separate open file, so it conflicts with this process's own holds as with anyone's.
bool can_flock(const std::string &path, int op)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = flock(fd, op | LOCK_NB) == 0;
    close(fd);
    return ok;
}

bool is_free(const std::string &name)
{
    return can_flock(lock_path(name), LOCK_EX);
}

class LockTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        // Closing the files drops whatever a failed case left held.
        KORLFileLockCloseAll();
    }
};

TEST_F(LockTest, FirstTakeCreatesDirectoryAndAllFiles)
{
    remove_tree("/tmp/lock");
    ASSERT_EQ(0, ErrKORLFileLock(0x806, 5));

    struct stat st;
    ASSERT_EQ(0, stat("/tmp/lock", &st));
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(0755u, st.st_mode & 07777);
    for (const auto &[bit, name] : kTable) {
        ASSERT_EQ(0, lstat(lock_path(name).c_str(), &st)) << name;
        EXPECT_TRUE(S_ISREG(st.st_mode)) << name;
        EXPECT_EQ(0, st.st_size) << name;
    }
    EXPECT_FALSE(can_flock(lock_path("lock_korvinfo"), LOCK_SH));
    EXPECT_TRUE(is_free("lock_pw"));

    EXPECT_EQ(0, ErrKORLFileUnlock(0x800));
    EXPECT_TRUE(is_free("lock_korvinfo"));
}

TEST_F(LockTest, EachBitLocksItsOwnFile)
{
    for (const auto &[bit, name] : kTable) {
        ASSERT_EQ(0, ErrKORLFileLock(bit | kExclusive, 0)) << name;
        for (const auto &[other_bit, other] : kTable)
            EXPECT_EQ(other_bit != bit, is_free(other)) << "holding " << name << ", probing "
                                                        << other;
        EXPECT_EQ(0, ErrKORLFileUnlock(bit));
        EXPECT_TRUE(is_free(name));
    }
}

TEST_F(LockTest, SetUpFailures)
{
    remove_tree("/tmp/lock");
    write_file("/tmp/lock", "");
    EXPECT_EQ(-1, KORLFileLockCheckDir());
    EXPECT_EQ(KORL_ERR_LOCK_DIR, KORLErrGet());
    EXPECT_EQ(-1, ErrKORLFileLock(0x16, 0));
    EXPECT_EQ(KORL_ERR_LOCK_DIR, KORLErrGet());
    EXPECT_STREQ("file_lock_check_dir.cpp", KORLErrFileGet());

    remove_tree("/tmp/lock");
    make_dirs("/tmp/lock/lock_hotswap");
    EXPECT_EQ(-1, ErrKORLFileLock(0x16, 0));
    EXPECT_EQ(KORL_ERR_OPEN, KORLErrGet());
    EXPECT_TRUE(file_exists("/tmp/lock/lock_pw"));
}

// A link planted in place of a lock file is neither written through nor locked through.
TEST_F(LockTest, LockFileLinksAreNotFollowed)
{
    ASSERT_EQ(0, KORLFileLockCheckDir());
    write_file("/etc/victim", "keep me\n");
    remove_tree("/tmp/lock/lock_pw");
    ASSERT_EQ(0, symlink("/etc/victim", "/tmp/lock/lock_pw"));
    EXPECT_EQ(-1, ErrKORLFileLock(0x16, 1));
    EXPECT_EQ(KORL_ERR_OPEN, KORLErrGet());
    EXPECT_EQ("keep me\n", read_file("/etc/victim"));
    EXPECT_TRUE(can_flock("/etc/victim", LOCK_EX));
    EXPECT_TRUE(is_free("lock_korvinfo"));

    // A dangling link creates nothing at its target.
    remove_tree("/tmp/lock/lock_pw");
    remove_tree("/tmp/lock/lock_gr");
    ASSERT_EQ(0, symlink("/etc/created-through-link", "/tmp/lock/lock_gr"));
    EXPECT_EQ(-1, ErrKORLFileLock(0x26, 1));
    EXPECT_EQ(KORL_ERR_OPEN, KORLErrGet());
    EXPECT_FALSE(file_exists("/etc/created-through-link"));
    EXPECT_TRUE(is_free("lock_pw"));
}

TEST_F(LockTest, HoldsAreCounted)
{
    KORLErrSet(KORL_ERR_NOT_FOUND);  // successful calls leave an earlier code alone
    ASSERT_EQ(0, ErrKORLFileLock(0x15, 5));
    ASSERT_EQ(0, ErrKORLFileLock(0x15, 5));
    EXPECT_EQ(0, ErrKORLFileUnlock(0x10));
    EXPECT_FALSE(is_free("lock_pw"));
    EXPECT_TRUE(can_flock(lock_path("lock_pw"), LOCK_SH));
    EXPECT_EQ(0, ErrKORLFileUnlock(0x10));
    EXPECT_TRUE(is_free("lock_pw"));
    // Not held any more: passed over without error.
    EXPECT_EQ(0, ErrKORLFileUnlock(0x10 | 0x6));
    EXPECT_EQ(KORL_ERR_NOT_FOUND, KORLErrGet());
}

TEST_F(LockTest, ExclusiveHoldTakesSharedAsAnotherHold)
{
    ASSERT_EQ(0, ErrKORLFileLock(0x16, 5));
    double start = now_seconds();
    ASSERT_EQ(0, ErrKORLFileLock(0x15, 5));
    EXPECT_LT(now_seconds() - start, 1.0);
    EXPECT_EQ(0, ErrKORLFileUnlock(0x10));
    EXPECT_FALSE(can_flock(lock_path("lock_pw"), LOCK_SH));  // still exclusive
    EXPECT_EQ(0, ErrKORLFileUnlock(0x10));
    EXPECT_TRUE(is_free("lock_pw"));
}

// A shared hold never turns into an exclusive one by adding a hold, blocking or not, and the
// refusal comes at once instead of waiting out the timeout on ourselves.
TEST_F(LockTest, SharedHoldAskedExclusiveFailsAtOnce)
{
    const std::vector<std::pair<unsigned, unsigned>> cases = {
        {kShared, kExclusive}, {LOCK_SH, LOCK_EX}, {kShared, LOCK_EX}, {LOCK_SH, kExclusive}};
    for (const auto &[held, asked] : cases) {
        SCOPED_TRACE("held op " + std::to_string(held) + ", asked op " + std::to_string(asked));
        // lock_korvinfo held exclusively comes first in the table: its added hold must be
        // given back when lock_pw refuses.
        ASSERT_EQ(0, ErrKORLFileLock(0x800 | kExclusive, 5));
        ASSERT_EQ(0, ErrKORLFileLock(0x10 | held, 5));
        double start = now_seconds();
        EXPECT_EQ(-1, ErrKORLFileLock(0x830 | asked, 5));
        EXPECT_LT(now_seconds() - start, 2.0);
        EXPECT_EQ(KORL_ERR_LOCK, KORLErrGet());
        EXPECT_STREQ("file_lock.cpp", KORLErrFileGet());
        // The earlier holds stay as they were, one each; nothing new is held.
        EXPECT_TRUE(can_flock(lock_path("lock_pw"), LOCK_SH));
        EXPECT_FALSE(is_free("lock_pw"));
        EXPECT_FALSE(can_flock(lock_path("lock_korvinfo"), LOCK_SH));
        EXPECT_TRUE(is_free("lock_gr"));
        EXPECT_EQ(0, ErrKORLFileUnlock(0x810));
        EXPECT_TRUE(is_free("lock_pw"));
        EXPECT_TRUE(is_free("lock_korvinfo"));
    }
}

TEST_F(LockTest, SharedHoldersCoexistExclusiveWaits)
{
    ASSERT_EQ(0, KORLFileLockCheckDir());
    Holder other(0x15);
    ASSERT_TRUE(other.obtained());

    EXPECT_EQ(0, ErrKORLFileLock(0x15, 0));
    EXPECT_EQ(0, ErrKORLFileUnlock(0x10));

    // A timeout of 0 is one attempt with no sleep after it: twenty refusals in a row take
    // far less than twenty retry pauses.
    double start = now_seconds();
    for (int i = 0; i < 20; ++i) {
        KORLErrSet(0);
        ASSERT_EQ(-1, ErrKORLFileLock(0x16, 0));
        ASSERT_EQ(KORL_ERR_LOCK, KORLErrGet());
    }
    EXPECT_LT(now_seconds() - start, 0.5);

    // The other process is refused likewise while this one holds exclusively.
    other.release();
    ASSERT_EQ(0, ErrKORLFileLock(0x16, 0));
    Holder refused(0x15);
    EXPECT_FALSE(refused.obtained());
    EXPECT_EQ(0, ErrKORLFileUnlock(0x10));
}

TEST_F(LockTest, BusyLockFailsAfterTimeoutHoldingNothing)
{
    ASSERT_EQ(0, KORLFileLockCheckDir());
    Holder other(0x46);
    ASSERT_TRUE(other.obtained());
    // A hold from before the call must come out of it unchanged.
    ASSERT_EQ(0, ErrKORLFileLock(0x16, 0));

    double start = now_seconds();
    EXPECT_EQ(-1, ErrKORLFileLock(0x76, 1));
    double elapsed = now_seconds() - start;
    EXPECT_EQ(KORL_ERR_LOCK, KORLErrGet());
    // 21 attempts, with a full 50 ms pause between each two.
    EXPECT_GE(elapsed, 1.0);
    EXPECT_LT(elapsed, 4.0);
    EXPECT_TRUE(is_free("lock_gr"));
    EXPECT_FALSE(is_free("lock_pw"));

    EXPECT_EQ(0, ErrKORLFileUnlock(0x10));
    EXPECT_TRUE(is_free("lock_pw"));
}

TEST_F(LockTest, RetriesUntilTheOtherProcessLetsGo)
{
    ASSERT_EQ(0, KORLFileLockCheckDir());
    Holder other(0x26, 0, 300);
    ASSERT_TRUE(other.obtained());

    double start = now_seconds();
    EXPECT_EQ(0, ErrKORLFileLock(0x26, 5));
    double elapsed = now_seconds() - start;
    EXPECT_GE(elapsed, 0.15);
    EXPECT_LT(elapsed, 4.5);
    EXPECT_FALSE(can_flock(lock_path("lock_gr"), LOCK_SH));
    EXPECT_EQ(0, ErrKORLFileUnlock(0x20));
}

TEST_F(LockTest, RequestsWithoutTableBits)
{
    double start = now_seconds();
    EXPECT_EQ(-1, ErrKORLFileLock(0x400000 | 0x10 | kExclusive, 1));
    double elapsed = now_seconds() - start;
    EXPECT_EQ(KORL_ERR_LOCK, KORLErrGet());
    EXPECT_GE(elapsed, 1.0);
    EXPECT_TRUE(is_free("lock_pw"));

    start = now_seconds();
    EXPECT_EQ(0, ErrKORLFileLock(kExclusive, 5));
    EXPECT_LT(now_seconds() - start, 1.0);
    for (const auto &[bit, name] : kTable)
        EXPECT_TRUE(is_free(name)) << name;

    // A negative timeout makes no attempt at all.
    EXPECT_EQ(-1, ErrKORLFileLock(0x16, -1));
    EXPECT_EQ(KORL_ERR_LOCK, KORLErrGet());
    EXPECT_TRUE(is_free("lock_pw"));
}

// A forked child drops the lock files it inherited; the parent's lock stays in force.
TEST_F(LockTest, CloseAllInForkedChildKeepsParentsLock)
{
    ASSERT_EQ(0, ErrKORLFileLock(0x816, 5));
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (KORLFileLockCloseAll() != 0)
            _exit(10);
        if (is_free("lock_pw") || is_free("lock_korvinfo"))
            _exit(11);
        // The child's table no longer claims the parent's locks, so it must really wait.
        if (ErrKORLFileLock(0x16, 0) != -1 || KORLErrGet() != KORL_ERR_LOCK)
            _exit(12);
        if (ErrKORLFileUnlock(0x810) != 0)  // nothing held: nothing to do
            _exit(13);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
    EXPECT_FALSE(is_free("lock_pw"));
    EXPECT_FALSE(is_free("lock_korvinfo"));
    EXPECT_EQ(0, ErrKORLFileUnlock(0x810));
    EXPECT_TRUE(is_free("lock_pw"));
}

// A program started while a lock is held does not inherit it: the lock ends with its holder,
// even when the holder exits without unlocking.
TEST_F(LockTest, ProgramsStartedWhileHoldingDoNotKeepTheLock)
{
    ASSERT_EQ(0, KORLFileLockCheckDir());
    int ready[2];
    ASSERT_EQ(0, pipe(ready));
    pid_t holder = fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        close(ready[0]);
        if (ErrKORLFileLock(0x46, 5) != 0)
            _exit(10);
        pid_t sleeper = 0;
        char arg0[] = "sleep", arg1[] = "30";
        char *argv[] = {arg0, arg1, nullptr};
        if (posix_spawn(&sleeper, "/bin/sleep", nullptr, nullptr, argv, nullptr) != 0)
            _exit(11);
        if (write(ready[1], &sleeper, sizeof sleeper) != sizeof sleeper)
            _exit(12);
        _exit(0);  // no unlock
    }
    close(ready[1]);
    pid_t sleeper = 0;
    ASSERT_EQ(static_cast<ssize_t>(sizeof sleeper), read(ready[0], &sleeper, sizeof sleeper));
    close(ready[0]);
    int status = 0;
    ASSERT_EQ(holder, waitpid(holder, &status, 0));
    EXPECT_EQ(0, WEXITSTATUS(status));
    ASSERT_EQ(0, kill(sleeper, 0));  // still running
    EXPECT_TRUE(is_free("lock_smb"));
    kill(sleeper, SIGKILL);
}

}  // namespace
