// The rebuild of the user, group and share sets against what another local user may plant at its
// fixed names under /tmp (the rebuild lock, the staging names) and against a rebuild that fails:
// each case over all three sets, with the files and stores as they must be afterwards.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "../share/share_test_util.h"

using korvtest::file_exists;
using korvtest::make_dirs;
using korvtest::read_file;
using korvtest::write_file;
using usertest::mark_error;
using usertest::stat_of;

namespace {

constexpr uid_t kOtherUser = 1000;

// One of the three sets: its fixed names, a public call that must build it when it is missing,
// and what it reads and writes.
struct SetCase {
    const char *name;
    const char *lock;
    std::vector<std::string> staging;
    std::vector<std::string> stores;
    std::function<int()> call;  // 0 when the set was usable
    const char *text;           // a text file the set is built from
    std::string extra;          // a line of that file that only a fresh build knows
    std::string breaking;       // a line that makes the build fail
    std::function<bool()> sees_extra;
    std::function<int()> dump;  // writes the set back through a live handle: 0 / -1
};

void PrintTo(const SetCase &c, std::ostream *os)
{
    *os << c.name;
}

int user_call()
{
    usertest::User u;
    return KORVUserGet("alice", &u.p);
}

int group_call()
{
    grouptest::Group g;
    return KORVGroupGet("staff", &g.p);
}

int share_call()
{
    PKORLSZLIST list = PslKORLSzListAlloc(0);
    int n = KORVShareEnum(&list, 7);
    KORLSzListFree(list);
    return n > 0 ? 0 : -1;
}

const SetCase kSets[] = {
    {"User",
     "/tmp/.db.user.lock",
     usertest::store_files("/tmp/.db.user.tmp"),
     usertest::store_files(),
     user_call,
     KORV_PASSWD_FILE,
     "zoe:x:1050:100:::",
     "bad:x:abc:100:::",
     [] {
         usertest::Db db;
         return db && usertest::stored(db->pPWDName, "ZOE") != "<absent>";
     },
     [] {
         usertest::Db db;
         return db ? KORVUserDBDump(db.get()) : -1;
     }},
    {"Group",
     "/tmp/.db.group.lock",
     {"/tmp/.db.group.tmp.name.0947", "/tmp/.db.group.tmp.id.0947", "/tmp/.db.group.tmp.desc.0947"},
     {"/tmp/.db.group.name.0947", "/tmp/.db.group.id.0947", "/tmp/.db.group.desc.0947"},
     group_call,
     KORV_GROUP_FILE,
     "team:x:65700:alice",
     "bad:x:abc:",
     [] {
         grouptest::Group g;
         return KORVGroupGet("team", &g.p) == 0;
     },
     [] {
         grouptest::Db db;
         return db ? KORVGroupDBDump(db.get()) : -1;
     }},
    {"Share",
     "/tmp/.db.korvshare.lock",
     {"/tmp/.db.korvshare.tmp"},
     {"/tmp/.db.korvshare.0947"},
     share_call,
     KORV_SMB_CONF,
     "[Extra]\n\tpath=/volume1/Extra",
     "",
     [] {
         sharetest::Db db;
         return db && KORVShareDBCheckExists(db.get(), "EXTRA", 5, nullptr, 0) == 1;
     },
     [] {
         sharetest::Db db;
         return db ? KORVShareDBDump(db.get()) : -1;
     }},
};

// A second process holding an exclusive flock on path until it goes.
class FlockHolder {
public:
    explicit FlockHolder(const std::string &path)
    {
        int ready[2];
        if (pipe(ready) != 0 || pipe(release_) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            close(ready[0]);
            close(release_[1]);
            int fd = open(path.c_str(), O_RDWR);
            char got = fd >= 0 && flock(fd, LOCK_EX) == 0 ? 'y' : 'n';
            if (write(ready[1], &got, 1) != 1)
                _exit(3);
            char c;
            while (read(release_[0], &c, 1) < 0 && errno == EINTR) {
            }
            _exit(0);
        }
        close(ready[1]);
        close(release_[0]);
        char got = 0;
        held_ = read(ready[0], &got, 1) == 1 && got == 'y';
        close(ready[0]);
    }
    ~FlockHolder()
    {
        close(release_[1]);
        if (pid_ > 0)
            waitpid(pid_, nullptr, 0);
    }
    bool held() const { return held_; }

private:
    pid_t pid_ = -1;
    int release_[2] = {-1, -1};
    bool held_ = false;
};

void install_all()
{
    sharetest::install();
}

void remove_stores(const SetCase &c)
{
    for (const std::string &s : c.stores)
        unlink(s.c_str());
}

double seconds_of(const std::function<int()> &call, int *result)
{
    auto t0 = std::chrono::steady_clock::now();
    *result = call();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void expect_own_lock(const SetCase &c)
{
    struct stat st {};
    ASSERT_EQ(0, lstat(c.lock, &st));
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(geteuid(), st.st_uid);
    EXPECT_EQ(0u, st.st_mode & (S_IWGRP | S_IWOTH));
}

// What another user plants at the lock name before the set is first built; each is replaced by
// a lock file of our own and the call goes on at once.
struct PlantCase {
    const char *name;
    std::function<void(const char *lock)> plant;
    bool held;  // the other user holds a flock on what they planted
};

void PrintTo(const PlantCase &c, std::ostream *os)
{
    *os << c.name;
}

const PlantCase kPlants[] = {
    {"OthersFileHeld",
     [](const char *lock) {
         write_file(lock, "", 0644);
         ASSERT_EQ(0, chown(lock, kOtherUser, kOtherUser));
     },
     true},
    {"OwnFileWritableByAll",
     [](const char *lock) {
         write_file(lock, "", 0666);
         ASSERT_EQ(0, chmod(lock, 0666));
     },
     true},
    {"LinkToAFile",
     [](const char *lock) {
         write_file("/etc/precious", "keep\n", 0644);
         ASSERT_EQ(0, symlink("/etc/precious", lock));
         ASSERT_EQ(0, lchown(lock, kOtherUser, kOtherUser));
     },
     false},
    {"DanglingLink",
     [](const char *lock) {
         ASSERT_EQ(0, symlink("/etc/nowhere", lock));
         ASSERT_EQ(0, lchown(lock, kOtherUser, kOtherUser));
     },
     false},
    {"Folder",
     [](const char *lock) {
         make_dirs(std::string(lock) + "/inner");
         ASSERT_EQ(0, chown(lock, kOtherUser, kOtherUser));
     },
     false},
    {"Fifo", [](const char *lock) { ASSERT_EQ(0, mkfifo(lock, 0666)); }, false},
};

class PlantedLock : public testing::TestWithParam<std::tuple<SetCase, PlantCase>> {};

TEST_P(PlantedLock, ReplacedAndTheCallGoesOn)
{
    const auto &[set, plant] = GetParam();
    install_all();
    remove_stores(set);
    plant.plant(set.lock);
    std::optional<FlockHolder> holder;
    if (plant.held) {
        holder.emplace(set.lock);
        ASSERT_TRUE(holder->held());
    }
    int result;
    double took = seconds_of(set.call, &result);
    EXPECT_EQ(0, result);
    EXPECT_LT(took, 3.0);
    expect_own_lock(set);
    for (const std::string &s : set.stores)
        EXPECT_TRUE(file_exists(s)) << s;
    if (file_exists("/etc/precious")) {
        EXPECT_EQ("keep\n", read_file("/etc/precious"));
    }
    EXPECT_FALSE(file_exists("/etc/nowhere"));
}

INSTANTIATE_TEST_SUITE_P(Sets, PlantedLock, testing::Combine(testing::ValuesIn(kSets), testing::ValuesIn(kPlants)),
                         [](const auto &info) {
                             return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
                         });

class SetRebuild : public testing::TestWithParam<SetCase> {};

// A lock file of our own that another process holds for ever (a rebuild that hangs): the call
// waits as long as the callers wait for their named locks, then gives up.
TEST_P(SetRebuild, HeldLockIsWaitedForABoundedTime)
{
    const SetCase &set = GetParam();
    install_all();
    remove_stores(set);
    write_file(set.lock, "", 0600);
    FlockHolder holder(set.lock);
    ASSERT_TRUE(holder.held());
    mark_error();
    int result;
    double took = seconds_of(set.call, &result);
    EXPECT_EQ(-1, result);
    EXPECT_GE(took, 4.5);
    EXPECT_LT(took, 9.0);
    for (const std::string &s : set.stores)
        EXPECT_FALSE(file_exists(s)) << s;
    EXPECT_TRUE(korvtest::syslog_contains("rebuild lock [" + std::string(set.lock) + "] failed."));
}

// Folders (with something inside) and links planted at the staging names: cleared without
// following the links, and the rebuild of an edited text file goes through.
TEST_P(SetRebuild, PlantedStagingNamesAreCleared)
{
    const SetCase &set = GetParam();
    install_all();
    ASSERT_EQ(0, set.call());
    write_file("/etc/precious", "keep\n", 0644);
    for (size_t i = 0; i < set.staging.size(); i++) {
        const std::string &s = set.staging[i];
        if (i % 2 == 0) {
            make_dirs(s + "/inner");
            write_file(s + "/inner/file", "x");
        } else {
            ASSERT_EQ(0, symlink("/etc/precious", s.c_str()));
        }
    }
    write_file(set.text, read_file(set.text) + set.extra + "\n");
    struct timeval tv[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(0, utimes(set.text, tv));

    EXPECT_TRUE(set.sees_extra());
    EXPECT_EQ("keep\n", read_file("/etc/precious"));
    for (const std::string &s : set.staging)
        EXPECT_FALSE(file_exists(s)) << s;
}

// A rebuild that fails leaves the set stale; writing it back then would undo the hand edit, so
// the dump refuses and the edited file stays as it is.
TEST_P(SetRebuild, FailedRebuildIsNotDumpedOverTheEditedFile)
{
    const SetCase &set = GetParam();
    install_all();
    ASSERT_EQ(0, set.call());
    if (!set.breaking.empty()) {
        write_file(set.text, read_file(set.text) + set.extra + "\n" + set.breaking + "\n");
    } else {
        // Nothing in smb.conf fails its build: a staging name that cannot be cleared does.
        make_dirs(set.staging[0]);
        ASSERT_TRUE(korvtest::mount_read_only(set.staging[0]));
        write_file(set.text, read_file(set.text) + set.extra + "\n");
    }
    struct timeval tv[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(0, utimes(set.text, tv));
    const std::string edited = read_file(set.text);

    mark_error();
    EXPECT_EQ(-1, set.dump());
    EXPECT_EQ(KORL_ERR_OPEN, KORLErrGet());
    EXPECT_EQ(edited, read_file(set.text));
    EXPECT_EQ(1000000000, stat_of(set.text).st_mtime);
}

INSTANTIATE_TEST_SUITE_P(Sets, SetRebuild, testing::ValuesIn(kSets),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
