// The locked user lookups, the local-user list, user counts and list normalisation.
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "korv/file_lock.h"
#include "korv/wins.h"
#include "user_test_util.h"

using namespace korvtest;
using namespace usertest;

namespace {

// A second process that takes named locks and keeps them for hold_ms (or until it goes).
class Holder {
public:
    Holder(unsigned request, int hold_ms)
    {
        int ready[2];
        if (pipe(ready) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            close(ready[0]);
            KORLFileLockCloseAll();
            char got = ErrKORLFileLock(request, 0) == 0 ? 'y' : 'n';
            if (write(ready[1], &got, 1) != 1)
                _exit(3);
            usleep(static_cast<useconds_t>(hold_ms) * 1000);
            _exit(0);
        }
        close(ready[1]);
        char got = 0;
        obtained_ = read(ready[0], &got, 1) == 1 && got == 'y';
        close(ready[0]);
    }
    ~Holder()
    {
        int status;
        if (pid_ > 0)
            waitpid(pid_, &status, 0);
    }
    bool obtained() const { return obtained_; }

private:
    pid_t pid_ = -1;
    bool obtained_ = false;
};

// Runs call in a forked child whose flock(fd, LOCK_UN) fails with EIO, as a lock file on a
// failing disk would; the child reports the call's result, its code and whether it handed out a
// record.
struct Outcome {
    int result = -100;
    int code = -100;
    int handedOut = -1;
};

Outcome withFailingUnlock(int (*call)(void **record))
{
    int fds[2];
    EXPECT_EQ(0, pipe(fds));
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        struct sock_filter filter[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_flock, 0, 3),
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, args[1])),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, LOCK_UN, 0, 1),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EIO),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        };
        struct sock_fprog prog = {static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
        Outcome o;
        if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &prog) == 0) {
            void *record = reinterpret_cast<void *>(1);
            o.result = call(&record);
            o.code = KORLErrGet();
            o.handedOut = record != nullptr;
        }
        ssize_t n = write(fds[1], &o, sizeof o);
        _exit(n == sizeof o ? 0 : 1);
    }
    close(fds[1]);
    Outcome o;
    EXPECT_EQ(static_cast<ssize_t>(sizeof o), read(fds[0], &o, sizeof o));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return o;
}

TEST(UserGet, AnyLetterCaseUnderTheSharedLock)
{
    install();
    User u;
    ASSERT_EQ(0, KORVUserGet("ALICE", &u.p));
    EXPECT_STREQ("alice", u->szName);
    EXPECT_EQ(1030, u->uid);
    User none;
    mark_error();
    EXPECT_EQ(-1, KORVUserGet("carol", &none.p));
    EXPECT_EQ(KORV_ERR_USER_NOT_FOUND, KORLErrGet());
    mark_error();
    EXPECT_EQ(-1, KORVUserGet(std::string(500, 'a').c_str(), &none.p));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    EXPECT_EQ(0, ErrKORLFileLock(KORL_LOCK_PW | LOCK_EX | LOCK_NB, 0));
    ErrKORLFileUnlock(KORL_LOCK_PW);
}

TEST(UserGet, WaitsForAWriterInAnotherProcess)
{
    install();
    {
        // A writer that lets go within the time-out: the lookup waits for it.
        Holder writer(KORL_LOCK_PW | LOCK_EX | LOCK_NB, 300);
        ASSERT_TRUE(writer.obtained());
        User u;
        ASSERT_EQ(0, KORVUserGet("bob", &u.p));
        EXPECT_STREQ("bob", u->szName);
    }
    // One that keeps it: refused after the time-out.
    Holder writer(KORL_LOCK_PW | LOCK_EX | LOCK_NB, 7000);
    ASSERT_TRUE(writer.obtained());
    User u;
    mark_error();
    EXPECT_EQ(-1, KORVUserGet("bob", &u.p));
    EXPECT_EQ(KORL_ERR_LOCK, KORLErrGet());
    EXPECT_EQ(nullptr, u.p);
}

TEST(UserGet, FailedUnlockHandsOutNoRecord)
{
    install();
    Outcome o = withFailingUnlock([](void **record) {
        *record = nullptr;
        return KORVUserGet("alice", reinterpret_cast<KORVUSER **>(record));
    });
    EXPECT_EQ(-1, o.result);
    EXPECT_EQ(KORL_ERR_UNLOCK, o.code);
    EXPECT_EQ(0, o.handedOut);
}

TEST(UserGetSmbPasswd, HashesAndFailures)
{
    install();
    char lm[33], nt[33];
    ASSERT_EQ(0, KORVUserGetSmbPasswd("Alice", lm, sizeof lm, nt, sizeof nt));
    EXPECT_STREQ("E52CAC67419A9A224A3B108F3FA6CB6D", lm);
    EXPECT_STREQ("8846F7EAEE8FB117AD06BDD830B7586C", nt);
    // Wrong sizes are refused before anything is read.
    for (int size : {32, 34}) {
        mark_error();
        EXPECT_EQ(-1, KORVUserGetSmbPasswd("alice", lm, size, nt, 33)) << size;
        EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
        EXPECT_EQ(-1, KORVUserGetSmbPasswd("alice", lm, 33, nt, size)) << size;
    }
    // No record, and a stored line of eight fields: nothing of a hash is left in the buffers.
    {
        Db db;
        ASSERT_TRUE(db);
        const char *eight = "bob:1031:AAAA:BBBB:[U          ]:LCT-5F000002::";
        ASSERT_EQ(0, KORVBDbSet(db->pPWDSMB, "BOB", 4, eight, static_cast<int>(strlen(eight)) + 1));
        ASSERT_EQ(0, KORVBDbDelete(db->pPWDSMB, "ADMIN", 6));
    }
    struct {
        const char *name;
        int code;
    } cases[] = {{"bob", KORL_ERR_MALFORMED}, {"admin", KORV_ERR_USER_NOT_FOUND}, {"carol", KORV_ERR_USER_NOT_FOUND}};
    for (const auto &c : cases) {
        memset(lm, 'x', sizeof lm);
        memset(nt, 'x', sizeof nt);
        mark_error();
        EXPECT_EQ(-1, KORVUserGetSmbPasswd(c.name, lm, sizeof lm, nt, sizeof nt)) << c.name;
        EXPECT_EQ(c.code, KORLErrGet()) << c.name;
        EXPECT_EQ(std::string(33, '\0'), std::string(lm, 33)) << c.name;
        EXPECT_EQ(std::string(33, '\0'), std::string(nt, 33)) << c.name;
    }
}

std::vector<std::string> localUsers(int *count)
{
    KORVLOCALUSERINFO *head = nullptr;
    *count = KORVLocalUserInfoEnum(&head);
    std::vector<std::string> out;
    for (KORVLOCALUSERINFO *n = head; n; n = n->pNext)
        out.push_back(std::string(n->szUserName) + ":" + std::to_string(n->uid) + ":" + std::to_string(n->gid));
    KORVLocalUserInfoFree(&head);
    EXPECT_EQ(nullptr, head);
    return out;
}

Accounts withDomainAndLateUsers()
{
    Accounts a;
    a.passwd += "Zed:x:1026:101::/h:/bin/sh\nbin:x:2:2::/:/bin/false\n";
    a.shadow += "Zed:*:1:0:99999:7:::\nbin:*:1:0:99999:7:::\n";
    return a;
}

void domainMode()
{
    write_file(KORV_SMB_CONF, "[global]\n\tworkgroup=CORP\n\tsecurity=domain\n");
    write_file("/etc/korvinfo.conf", "codepage=\"enu\"\nrunsamba=\"yes\"\n");
    write_file(KORV_DOMAIN_USER_FILE, "CORP\\dave:1\nCORP\\erin:2\n");
}

TEST(LocalUserInfo, FromTheSystemRangeUpInNameOrder)
{
    install(withDomainAndLateUsers());
    domainMode();
    int count;
    std::vector<std::string> users = localUsers(&count);
    // root, bin and the domain users never; the guest with guest support; uid 1024 is listed.
    EXPECT_EQ((std::vector<std::string>{"admin:1024:100", "alice:1030:100", "bob:1031:100", "guest:1025:100",
                                        "nobody:65534:65534", "Zed:1026:101"}),
              users);
    EXPECT_EQ(6, count);
    EXPECT_EQ(0, ErrKORLFileLock(KORL_LOCK_PW | LOCK_EX | LOCK_NB, 0));
    ErrKORLFileUnlock(KORL_LOCK_PW);
    mark_error();
    EXPECT_EQ(-1, KORVLocalUserInfoEnum(nullptr));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
}

TEST(LocalUserInfo, GuestOnlyWithGuestSupport)
{
    install();
    write_file("/etc.defaults/korvinfo.conf", "guestsupport=\"no\"\n");
    int count;
    std::vector<std::string> users = localUsers(&count);
    EXPECT_EQ((std::vector<std::string>{"admin:1024:100", "alice:1030:100", "bob:1031:100", "nobody:65534:65534"}),
              users);
}

TEST(UserCounts, TotalAndAvailable)
{
    install(withDomainAndLateUsers());
    domainMode();
    EXPECT_EQ(6, KORVUserTotalNum(KORV_USER_ENUM_LOCAL));
    EXPECT_EQ(2, KORVUserTotalNum(KORV_USER_ENUM_DOMAIN));
    EXPECT_EQ(8, KORVUserTotalNum(KORV_USER_ENUM_LOCAL | KORV_USER_ENUM_DOMAIN));
    for (int mask : {0, 4, 8}) {
        mark_error();
        EXPECT_EQ(-1, KORVUserTotalNum(mask)) << mask;
        EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    }
    write_file("/etc.defaults/korvinfo.conf", "maxaccounts=\"2048\"\n");
    EXPECT_EQ(2040, KORVUserAvailableNum());
    write_file("/etc.defaults/korvinfo.conf", "maxaccounts=\"5\"\n");
    EXPECT_EQ(-3, KORVUserAvailableNum());
    write_file("/etc.defaults/korvinfo.conf", "other=\"1\"\n");
    EXPECT_EQ(0, KORVUserAvailableNum());
}

class ValidUserList : public testing::Test {
protected:
    void SetUp() override
    {
        install();
        write_file(KORV_GROUP_FILE, "users:x:100:\nStaff:x:65600:alice\n");
        write_file(KORV_GROUP_DESC_FILE, "");
        users_ = KORVUserDBOpen();
        groups_ = KORVGroupDBOpen();
        ASSERT_NE(nullptr, users_);
        ASSERT_NE(nullptr, groups_);
    }
    void TearDown() override
    {
        KORVUserDBClose(users_);
        KORVGroupDBClose(groups_);
        free(out_);
    }
    std::string normal(const char *list, KORVGROUPDB *groups)
    {
        if (KORVUserGetValidUserList2(list, &out_, &cb_, groups, users_) != 0)
            return "<failed " + std::to_string(KORLErrGet()) + ">";
        EXPECT_GE(cb_, static_cast<int>(strlen(out_)) + 1);
        return out_;
    }
    KORVUSERDB *users_ = nullptr;
    KORVGROUPDB *groups_ = nullptr;
    char *out_ = nullptr;
    int cb_ = 0;
};

TEST_F(ValidUserList, Normalised)
{
    struct {
        const char *in;
        const char *out;
    } cases[] = {
        {"alice,Alice,nobody,@users,ghost", "alice,@users"},
        {"NOBODY,BOB,@staff,@STAFF,@ghosts,,", "bob,@Staff"},
        {"ghost,phantom", ""},
        {"", ""},
        {"CORP\\dave,alice", "alice"},
        // A name that cannot be upper-cased exists nowhere.
        {"\xff\xfe,bob", "bob"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.out, normal(c.in, groups_)) << c.in;
    // A group name without a group database fails the call.
    EXPECT_EQ("<failed 16384>", normal("alice,@users", nullptr));
    EXPECT_EQ("alice", normal("alice,nobody", nullptr));
    mark_error();
    EXPECT_EQ(-1, KORVUserGetValidUserList2(nullptr, &out_, &cb_, groups_, users_));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    EXPECT_EQ(-1, KORVUserGetValidUserList2("alice", &out_, &cb_, groups_, nullptr));
}

TEST_F(ValidUserList, ArrayAgainstTheLiveDatabase)
{
    std::string a = "ALICE", b = "bob", n = "nobody", g = "@users";
    char *names[] = {a.data(), b.data(), n.data(), nullptr};
    ASSERT_EQ(0, KORVUserGetValidUserList(names, &out_, &cb_));
    EXPECT_STREQ("alice,bob", out_);
    char *withGroup[] = {a.data(), g.data(), nullptr};
    mark_error();
    EXPECT_EQ(-1, KORVUserGetValidUserList(withGroup, &out_, &cb_));
    EXPECT_EQ(KORL_ERR_MALFORMED, KORLErrGet());
}

TEST(ValidUserListDomain, KeptOnlyInDomainModeAsTypedWhileStale)
{
    install();
    write_file(KORV_GROUP_FILE, "users:x:100:\n");
    write_file(KORV_GROUP_DESC_FILE, "");
    domainMode();
    KORVUSERDB *users = KORVUserDBOpen();
    ASSERT_NE(nullptr, users);
    char *out = nullptr;
    int cb = 0;
    // Fresh domain data: looked up, the stored name given.
    ASSERT_EQ(0, KORVUserGetValidUserList2("corp\\DAVE,CORP\\nobody-there,alice", &out, &cb, nullptr, users));
    EXPECT_STREQ("CORP\\dave,alice", out);
    // Stale: taken as typed.
    ASSERT_EQ(0, KORVBDbDelete(users->pPWDName, KORV_BDB_KEY_EXPIRE_TIME, KORV_BDB_KEY_EXPIRE_TIME_LEN));
    ASSERT_EQ(0, KORVUserGetValidUserList2("corp\\DAVE,CORP\\nobody-there", &out, &cb, nullptr, users));
    EXPECT_STREQ("corp\\DAVE,CORP\\nobody-there", out);
    // Samba stopped: no domain name stays.
    write_file("/etc/korvinfo.conf", "runsamba=\"no\"\n");
    ASSERT_EQ(0, KORVUserGetValidUserList2("corp\\DAVE,alice", &out, &cb, nullptr, users));
    EXPECT_STREQ("alice", out);
    free(out);
    KORVUserDBClose(users);
}

TEST(ModifyListConfig, Renames)
{
    PKORLSZHASH table = PshKORLSzHashAlloc(0);
    ASSERT_GE(KORLSzHashSetValue(&table, "ALICE", "carol"), 0);
    ASSERT_GE(KORLSzHashSetValue(&table, "DAN", ""), 0);
    ASSERT_GE(KORLSzHashSetValue(&table, "EVE", "a_much_longer_name_than_eve"), 0);
    struct {
        const char *in;
        int result;
        const char *out;
    } cases[] = {
        {"alice,bob", 1, "carol,bob"},
        {"Alice,,bob", 1, "carol,bob"},
        {"dan,bob", 1, "bob"},
        {"dan", 1, ""},
        {"eve,eve,eve", 1, "a_much_longer_name_than_eve,a_much_longer_name_than_eve,a_much_longer_name_than_eve"},
        {"bob,frank", 0, nullptr},
        {"", 0, nullptr},
    };
    char *out = nullptr;
    int cb = 0;
    for (const auto &c : cases) {
        char *result = out;
        int size = cb;
        EXPECT_EQ(c.result, KORVUserModifyListConfig(c.in, &result, &size, table)) << c.in;
        if (c.result == 0) {
            EXPECT_EQ(c.in, result) << c.in;
            EXPECT_EQ(static_cast<int>(strlen(c.in)) + 1, size);
            continue;
        }
        out = result;
        cb = size;
        EXPECT_STREQ(c.out, out) << c.in;
        EXPECT_GE(cb, static_cast<int>(strlen(out)) + 1) << c.in;
    }
    free(out);
    out = nullptr;
    cb = 0;
    mark_error();
    EXPECT_EQ(-1, KORVUserModifyListConfig("alice", &out, &cb, nullptr));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    EXPECT_EQ(-1, KORVUserModifyListConfig("\xff\xfe,alice", &out, &cb, table));
    free(out);
    KORLSzHashFree(table);
}

}  // namespace
