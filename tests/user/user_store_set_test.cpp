// The user set opened, checked and rebuilt: missing, torn and stale stores, leftovers of an
// interrupted rebuild, processes that replaced files under others, and two processes at once.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "user_test_util.h"

using namespace korvtest;
using namespace usertest;

namespace {

ino_t ino(const std::string &path)
{
    return stat_of(path).st_ino;
}

// Gives a file a modification time of its own, so that a check sees it changed.
void set_mtime(const char *path, time_t t)
{
    struct timeval tv[2] = {{t, 0}, {t, 0}};
    ASSERT_EQ(0, utimes(path, tv));
}

// Every store holds each user once: the uid store lists exactly the passwd lines.
void expect_whole(KORVUSERDB *set, size_t users)
{
    EXPECT_EQ(users, records(set->pPWDName).size());
    EXPECT_EQ(users, records(set->pPWDUID).size());
    EXPECT_EQ(users, records(set->pPWDShadow).size());
}

TEST(UserStoreSet, MissingSetIsBuiltOnce)
{
    install();
    KORVUSERDB *set = nullptr;
    ASSERT_EQ(1, KORVUserDBOpenFile(&set, KORV_USER_DB_PREFIX));
    expect_whole(set, 6);
    const ino_t built = ino(store_files()[0]);
    ASSERT_EQ(0, KORVUserDBOpenFile(&set, KORV_USER_DB_PREFIX));
    EXPECT_EQ(0, KORVUserDBCheckAndRebuild(&set));
    KORVUserDBClose(set);
    Db again;
    ASSERT_TRUE(again);
    EXPECT_EQ(built, ino(store_files()[0]));
    EXPECT_TRUE(file_exists(std::string(KORV_USER_DB_PREFIX) + ".lock"));

    mark_error();
    EXPECT_EQ(-1, KORVUserDBOpenFile(nullptr, KORV_USER_DB_PREFIX));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    EXPECT_EQ(-1, KORVUserDBOpenFile(&set, nullptr));
}

struct DamageCase {
    const char *name;
    int store;          // index into store_files()
    const char *kind;   // "missing", "torn", "empty", "text"
};

void PrintTo(const DamageCase &c, std::ostream *os)
{
    *os << c.name;
}

const DamageCase kDamage[] = {
    {"MissingUidStore", 4, "missing"},
    {"MissingNameStore", 0, "missing"},
    {"TornShadowStore", 2, "torn"},
    {"EmptyMiscStore", 1, "empty"},
    {"TextInSmbStore", 3, "text"},
    {"MiscStoreOfAnotherUser", 1, "foreign"},
};

class UserStoreDamage : public testing::TestWithParam<DamageCase> {};

TEST_P(UserStoreDamage, WholeSetRebuiltFromTheFiles)
{
    const DamageCase &c = GetParam();
    install();
    {
        Db db;
        ASSERT_TRUE(db);
        // A record no text file holds: a store that is kept instead of rebuilt still has it.
        ASSERT_EQ(0, KORVBDbSet(db->pPWDName, "GHOST", 6, "ghost:x:1099:100:::", 20));
        ASSERT_EQ(0, KORVBDbSet(db->pPWDUID, "001099", 7, "GHOST", 6));
    }
    const std::string path = store_files()[static_cast<size_t>(c.store)];
    if (std::string(c.kind) == "missing") {
        ASSERT_EQ(0, unlink(path.c_str()));
    } else if (std::string(c.kind) == "torn") {
        ASSERT_EQ(0, truncate(path.c_str(), 100));
    } else if (std::string(c.kind) == "empty") {
        ASSERT_EQ(0, truncate(path.c_str(), 0));
    } else if (std::string(c.kind) == "foreign") {
        ASSERT_EQ(0, chown(path.c_str(), 1000, 1000));
    } else {
        write_file(path, std::string(9000, 'x'));
    }
    KORVUSERDB *set = nullptr;
    ASSERT_EQ(1, KORVUserDBOpenFile(&set, KORV_USER_DB_PREFIX));
    EXPECT_EQ("<absent>", stored(set->pPWDName, "GHOST"));
    expect_whole(set, 6);
    EXPECT_EQ(0, KORVUserDBCheckAndRebuild(&set));
    KORVUserDBClose(set);
    EXPECT_EQ(0u, stat_of(path).st_uid);
    for (const std::string &f : store_files(std::string(KORV_USER_DB_PREFIX) + ".tmp"))
        EXPECT_FALSE(file_exists(f)) << f;
}

INSTANTIATE_TEST_SUITE_P(Cases, UserStoreDamage, testing::ValuesIn(kDamage),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(UserStoreSet, EditedTextFileRebuildsAndRetiresOldFiles)
{
    install();
    Db mine, other;
    ASSERT_TRUE(mine);
    ASSERT_TRUE(other);
    EXPECT_EQ(0, KORVUserDBCheckAndRebuild(mine.addr()));

    Accounts a;
    a.passwd += "zoe:x:1050:100:::\n";
    a.shadow += "zoe:*:1:0:99999:7:::\n";
    write_file(KORV_PASSWD_FILE, a.passwd);
    write_file(KORV_SHADOW_FILE, a.shadow);
    set_mtime(KORV_PASSWD_FILE, 1000000000);
    const ino_t before = ino(store_files()[0]);
    // A handle on the old file that has read nothing yet, as a process that opens it next.
    KORVBDB *early = KORVBDbOpen(store_files()[0].c_str(), O_RDWR, 0);
    ASSERT_NE(nullptr, early);
    EXPECT_EQ(1, KORVUserDBCheckAndRebuild(mine.addr()));
    const ino_t rebuilt = ino(store_files()[0]);
    EXPECT_NE(before, rebuilt);
    EXPECT_NE("<absent>", stored(mine->pPWDName, "ZOE"));
    // The replaced file says so to whoever still has it open.
    EXPECT_EQ(1, KORVBDbDeprecatedGet(early));
    KORVBDbClose(early);

    // The other set still reads the old files; its check finds the set rebuilt meanwhile and
    // reopens it instead of building it a second time.
    EXPECT_EQ("<absent>", stored(other->pPWDName, "ZOE"));
    EXPECT_EQ(1, KORVUserDBCheckAndRebuild(other.addr()));
    EXPECT_NE("<absent>", stored(other->pPWDName, "ZOE"));
    EXPECT_EQ(rebuilt, ino(store_files()[0]));
    EXPECT_EQ(0, KORVUserDBCheckAndRebuild(other.addr()));
}

TEST(UserStoreSet, SmallStoreFileMakesTheCheckRebuild)
{
    install();
    Db db;
    ASSERT_TRUE(db);
    // The file shrinks under the open set, as when /tmp was cleaned.
    ASSERT_EQ(0, truncate(store_files()[3].c_str(), 4096));
    EXPECT_EQ(1, KORVUserDBCheckAndRebuild(db.addr()));
    EXPECT_TRUE(syslog_contains("st_size(/tmp/.db.user.smb.0947)=4096, so rebuild db."));
    EXPECT_NE("<absent>", stored(db->pPWDSMB, "ALICE"));
    EXPECT_GE(stat_of(store_files()[3]).st_size, 8192);
}

TEST(UserStoreSet, RebuildStartsFromFreshStagingFiles)
{
    install();
    {
        // What an interrupted rebuild left: a staging store with a stray record, and a torn one.
        KORVBDB *stale = KORVBDbOpen("/tmp/.db.user.tmp.name.0947", O_RDWR | O_CREAT, 0);
        ASSERT_NE(nullptr, stale);
        ASSERT_EQ(0, KORVBDbSet(stale, "GHOST", 6, "ghost:x:1099:100:::", 20));
        KORVBDbClose(stale);
        write_file("/tmp/.db.user.tmp.uid.0947", "torn");
    }
    ASSERT_EQ(0, KORVUserDBRebuild());
    Db db;
    ASSERT_TRUE(db);
    EXPECT_EQ("<absent>", stored(db->pPWDName, "GHOST"));
    expect_whole(db.get(), 6);
    EXPECT_FALSE(file_exists("/tmp/.db.user.tmp.name.0947"));
    EXPECT_FALSE(file_exists("/tmp/.db.user.tmp.uid.0947"));
}

// A create that a kill cut short leaves Berkeley DB's own file beside the staging store; every
// later create of that store would wait for it and fail.
TEST(UserStoreSet, RebuildClearsWhatAKilledCreateLeft)
{
    install();
    const std::vector<std::string> left = {"/tmp/__db..db.user.tmp.name.0947", "/tmp/__db..db.user.tmp.uid.0947",
                                           "/tmp/__db..db.user.tmp.shadow.0947"};
    for (const std::string &path : left)
        write_file(path, "");
    write_file("/tmp/__db..db.user.name.0947", "not a staging name's\n");
    ASSERT_EQ(0, KORVUserDBRebuild());
    Db db;
    ASSERT_TRUE(db);
    expect_whole(db.get(), 6);
    for (const std::string &path : left)
        EXPECT_FALSE(file_exists(path)) << path;
    EXPECT_EQ("not a staging name's\n", read_file("/tmp/__db..db.user.name.0947"));
}

// A build killed between its renames left some stores under their staging names and a live set
// of two builds: the next check rebuilds the whole set, whatever the account files' times say.
TEST(UserStoreSet, BuildCutShortBetweenItsRenamesIsRebuilt)
{
    install();
    Db db;
    ASSERT_TRUE(db);
    const ino_t live = ino(store_files()[0]);
    write_file("/tmp/.db.user.tmp.uid.0947", "left by a killed build");
    EXPECT_EQ(1, KORVUserDBCheckAndRebuild(db.addr()));
    EXPECT_TRUE(syslog_contains("/tmp/.db.user.tmp.uid.0947 is left of a build that did not end, so rebuild db."));
    EXPECT_NE(live, ino(store_files()[0]));
    EXPECT_FALSE(file_exists("/tmp/.db.user.tmp.uid.0947"));
    expect_whole(db.get(), 6);
    EXPECT_EQ(0, KORVUserDBCheckAndRebuild(db.addr()));
}

TEST(UserStoreSet, FailedRebuildKeepsTheLiveStores)
{
    install();
    Db db;
    ASSERT_TRUE(db);
    const ino_t live = ino(store_files()[0]);
    write_file(KORV_PASSWD_FILE, Accounts().passwd + "bad:x:uid:100:::\n");
    set_mtime(KORV_PASSWD_FILE, 1000000000);
    mark_error();
    EXPECT_EQ(-1, KORVUserDBCheckAndRebuild(db.addr()));
    EXPECT_EQ(KORL_ERR_OPEN, KORLErrGet());
    EXPECT_TRUE(syslog_contains("KORVUserDBRebuild failed, korverr=0x0900"));
    EXPECT_EQ(live, ino(store_files()[0]));
    EXPECT_NE("<absent>", stored(db->pPWDName, "ALICE"));
    EXPECT_FALSE(file_exists("/tmp/.db.user.tmp.name.0947"));
}

TEST(UserStoreSet, LinkAtAStoreNameIsNotFollowed)
{
    install();
    const std::string passwd = read_file(KORV_PASSWD_FILE);
    ASSERT_EQ(0, symlink(KORV_PASSWD_FILE, store_files()[0].c_str()));
    KORVUSERDB *set = nullptr;
    mark_error();
    EXPECT_EQ(-1, KORVUserDBOpenFile(&set, KORV_USER_DB_PREFIX));
    EXPECT_EQ(KORL_ERR_OPEN, KORLErrGet());
    EXPECT_TRUE(syslog_contains("KORVBDbOpen [/tmp/.db.user.name.0947] failed. korverr=0x0900"));
    EXPECT_EQ(passwd, read_file(KORV_PASSWD_FILE));
}

TEST(UserStoreSet, TwoProcessesOpenAMissingSetAtOnce)
{
    // Enough users that one build takes a while, so the second process meets it.
    Accounts a;
    for (int i = 0; i < 3000; i++) {
        std::string n = "u" + std::to_string(i), uid = std::to_string(2000 + i);
        a.passwd += n + ":x:" + uid + ":100:::\n";
        a.shadow += n + ":*:1:0:99999:7:::\n";
    }
    install(a);
    int go[2], results[2];
    ASSERT_EQ(0, pipe(go));
    ASSERT_EQ(0, pipe(results));
    pid_t kids[2];
    for (pid_t &kid : kids) {
        kid = fork();
        if (kid == 0) {
            char c;
            close(go[1]);
            if (read(go[0], &c, 1) != 1)
                _exit(2);
            KORVUSERDB *set = nullptr;
            int r = KORVUserDBOpenFile(&set, KORV_USER_DB_PREFIX);
            char out = static_cast<char>('0' + (r + 1));
            KORVUserDBClose(set);
            _exit(write(results[1], &out, 1) == 1 ? 0 : 3);
        }
        ASSERT_GT(kid, 0);
    }
    ASSERT_EQ(2, write(go[1], "gg", 2));
    for (pid_t kid : kids) {
        int status = 0;
        ASSERT_EQ(kid, waitpid(kid, &status, 0));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    char r[2];
    ASSERT_EQ(2, read(results[0], r, 2));
    // One built the set, the other found it built: no record was stored twice.
    std::string got(r, 2);
    EXPECT_TRUE(got == "12" || got == "21") << got;
    Db db;
    ASSERT_TRUE(db);
    expect_whole(db.get(), 3006);
}

}  // namespace
