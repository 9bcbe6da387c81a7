// The public group functions: lookup, create, update, rename into the share lists, the mail group
// and members, under the named locks.
#include <sys/wait.h>
#include <unistd.h>

#include "../share/share_test_util.h"
#include "group/group_internal.h"
#include "korv/file_lock.h"

using namespace grouptest;
using korvtest::read_file;
using korvtest::syslog_contains;
using korvtest::write_file;

namespace {

// A second process that holds named locks until it is released.
class Holder {
public:
    explicit Holder(unsigned request)
    {
        int ready[2], release[2];
        if (pipe(ready) != 0 || pipe(release) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            close(ready[0]);
            close(release[1]);
            KORLFileLockCloseAll();
            char got = ErrKORLFileLock(request, 0) == 0 ? 'y' : 'n';
            if (write(ready[1], &got, 1) != 1)
                _exit(3);
            char c;
            while (read(release[0], &c, 1) < 0 && errno == EINTR) {
            }
            _exit(0);
        }
        close(ready[1]);
        close(release[0]);
        release_ = release[1];
        char got = 0;
        obtained_ = read(ready[0], &got, 1) == 1 && got == 'y';
        close(ready[0]);
    }
    ~Holder()
    {
        close(release_);
        int status;
        waitpid(pid_, &status, 0);
    }
    bool obtained() const { return obtained_; }

private:
    pid_t pid_ = -1;
    int release_ = -1;
    bool obtained_ = false;
};

bool lockFree(unsigned bits)
{
    if (ErrKORLFileLock(bits | LOCK_EX | LOCK_NB, 0) != 0)
        return false;
    ErrKORLFileUnlock(bits);
    return true;
}

TEST(GroupGet, AnyLetterCase)
{
    install();
    Group g;
    ASSERT_EQ(0, KORVGroupGet("STAFF", &g.p));
    EXPECT_STREQ("staff", g->szName);
    EXPECT_EQ(65600, g->gid);
    EXPECT_EQ((std::vector<std::string>{"alice", "bob"}), g.members());
    struct {
        std::string name;
        int code;
    } cases[] = {
        {"ghost", KORV_ERR_GROUP_NOT_FOUND},
        // A name whose key does not fit its buffer is refused, never looked up cut or emptied.
        {std::string(128, 'g'), KORL_ERR_BAD_PARAM},
    };
    for (const auto &c : cases) {
        mark_error();
        EXPECT_EQ(-1, KORVGroupGet(c.name.c_str(), &g.p)) << c.name;
        EXPECT_EQ(c.code, KORLErrGet()) << c.name;
    }
    EXPECT_TRUE(lockFree(KORL_LOCK_PW | KORL_LOCK_GR));
}

TEST(GroupSet, CreateWithAFreeGid)
{
    install();
    Group g = make("Team", -1, {"alice", "ghost"});
    ASSERT_EQ(0, KORVGroupSet(nullptr, g.p));
    EXPECT_EQ(65602, g->gid);
    EXPECT_EQ("#$_@GID__INDEX@_$65602$\nroot:x:0:\nftp:x:21:\nsmmsp:x:25:admin\nusers:x:100:\n"
              "staff:x:65600:alice,bob\ndevs:x:65601:bob\nTeam:x:65602:alice\n",
              read_file(KORV_GROUP_FILE));
    // The next one follows it.
    Group h = make("crew", -1);
    ASSERT_EQ(0, KORVGroupSet(nullptr, h.p));
    EXPECT_EQ(65603, h->gid);
    EXPECT_TRUE(lockFree(KORL_LOCK_PW | KORL_LOCK_GR | KORL_LOCK_SMB));

    const GroupFiles before = installed();
    struct {
        const char *old;
        const char *name;
        int code;
    } refused[] = {
        {nullptr, "STAFF", KORV_ERR_GROUP_EXISTS},
        {"devs", "staff", KORV_ERR_GROUP_EXISTS},
        {"ghost", "Ghost", KORV_ERR_GROUP_NOT_FOUND},
        {"ghost", "spirit", KORV_ERR_GROUP_NOT_FOUND},
        {"ftp", "files", KORV_ERR_GROUP_SYSTEM},
        {"devs", "bad+name", KORV_ERR_GROUP_INVALID_NAME},
    };
    for (const auto &c : refused) {
        Group r = make(c.name, 65601);
        mark_error();
        EXPECT_EQ(-1, KORVGroupSet(c.old, r.p)) << c.name;
        EXPECT_EQ(c.code, KORLErrGet()) << c.name;
        EXPECT_EQ(before, installed()) << c.name;
    }
    EXPECT_TRUE(lockFree(KORL_LOCK_PW | KORL_LOCK_GR | KORL_LOCK_SMB));
}

class GroupRename : public testing::Test {
protected:
    void SetUp() override
    {
        sharetest::install();
        sharetest::Db db;
        ASSERT_TRUE(db);
        // Lists as the share step meets them; the whole store then published.
        struct {
            const char *name, *invalid, *write, *read;
        } shares[] = {
            {"Data", "bob", "alice,@staff", "@staff,@staffers"},
            {"public", "@Staff", "CORP\\x@staff", "@staffer,@staff"},
        };
        for (const auto &s : shares) {
            KORVSHARE r = sharetest::in({.name = s.name, .path = "/volume1/x", .invalid = s.invalid,
                                         .write = s.write, .read = s.read});
            ASSERT_EQ(0, KORVShareDBSet(db.get(), s.name, &r));
        }
        ASSERT_EQ(0, KORVShareDBDump(db.get()));
    }
    static std::string lists(const char *share)
    {
        sharetest::Share s = sharetest::get(share);
        return s.p ? std::string(s->szInvalidUsers) + "|" + s->szWriteList + "|" + s->szReadList : "<none>";
    }
};

TEST_F(GroupRename, ReachesTheShareLists)
{
    Group team = make("team", 65600, {"alice", "bob"});
    ASSERT_EQ(0, KORVGroupSet("staff", team.p));
    EXPECT_NE(std::string::npos, read_file(KORV_GROUP_FILE).find("\nteam:x:65600:alice,bob\n"));
    EXPECT_EQ("team:The staff\ndevs:Developers: all of them\n", read_file(KORV_GROUP_DESC_FILE));
    // Only whole entries of the group, and only the first in each list; another case is another name.
    EXPECT_EQ("bob|alice,@team|@team,@staffers", lists("Data"));
    EXPECT_EQ("@Staff|CORP\\x@staff|@staffer,@team", lists("public"));
    EXPECT_EQ("||@team", lists("usbshare1"));
    const std::string conf = read_file(KORV_SMB_CONF);
    EXPECT_NE(std::string::npos, conf.find("\twrite list=nobody,alice,@team,nobody\n")) << conf;
    EXPECT_NE(std::string::npos, conf.find("\tread list=nobody,@staffer,@team,nobody\n")) << conf;
    EXPECT_TRUE(lockFree(KORL_LOCK_PW | KORL_LOCK_GR | KORL_LOCK_SMB));
}

TEST_F(GroupRename, ChangeOfLetterCaseIsAnUpdateThatReachesTheShares)
{
    Group staff = make("Staff", 65600, {"alice"});
    ASSERT_EQ(0, KORVGroupSet("STAFF", staff.p));
    EXPECT_NE(std::string::npos, read_file(KORV_GROUP_FILE).find("\nStaff:x:65600:alice\n"));
    EXPECT_EQ("bob|alice,@Staff|@Staff,@staffers", lists("Data"));
    // The same name again changes no share.
    const std::string conf = read_file(KORV_SMB_CONF);
    ASSERT_EQ(0, KORVGroupSet("Staff", staff.p));
    EXPECT_EQ(conf, read_file(KORV_SMB_CONF));
}

TEST(GroupRenameWithoutShares, LeavesSmbConfAlone)
{
    sharetest::install("[global]\n\tsecurity=user\n");
    const ino_t ino = usertest::stat_of(KORV_SMB_CONF).st_ino;
    Group team = make("team", 65600);
    ASSERT_EQ(0, KORVGroupSet("staff", team.p));
    EXPECT_EQ(ino, usertest::stat_of(KORV_SMB_CONF).st_ino);
}

TEST(GroupRenameShareStep, FailureKeepsTheRenamedGroup)
{
    // No smb.conf: the share database cannot be built, the group is renamed all the same.
    install();
    Group team = make("team", 65600);
    mark_error();
    EXPECT_EQ(-1, KORVGroupSet("staff", team.p));
    EXPECT_TRUE(syslog_contains("Rename group in smb.conf failed."));
    EXPECT_NE(std::string::npos, read_file(KORV_GROUP_FILE).find("\nteam:x:65600:\n"));
    EXPECT_TRUE(lockFree(KORL_LOCK_PW | KORL_LOCK_GR | KORL_LOCK_SMB));
}

TEST(GroupLocks, ASecondProcessHoldingThemKeepsTheSetOut)
{
    install();
    const GroupFiles before = installed();
    Holder reader(KORL_LOCK_GR | LOCK_SH | LOCK_NB);
    ASSERT_TRUE(reader.obtained());
    // Readers still come in beside another reader.
    Group g;
    ASSERT_EQ(0, KORVGroupGet("staff", &g.p));
    Group team = make("team", -1);
    mark_error();
    EXPECT_EQ(-1, KORVGroupSet(nullptr, team.p));
    EXPECT_EQ(KORL_ERR_LOCK, KORLErrGet());
    EXPECT_EQ(-1, team->gid);
    EXPECT_EQ(before, installed());
}

TEST(GroupReplace, WholeFirstEntryOnly)
{
    using korv::group::ReplaceGrpInString;
    struct {
        const char *list;
        int result;
        const char *out;
    } cases[] = {
        {"", 0, nullptr},
        {"alice,bob", 0, nullptr},
        {"@staff", 1, "@team"},
        {"alice,@staff", 1, "alice,@team"},
        {"@staff,@staffers", 1, "@team,@staffers"},
        {"@staffers,@staff,@staff", 1, "@staffers,@team,@staff"},
        {"@Staff", 0, nullptr},
        {"CORP\\x@staff,bob", 0, nullptr},
    };
    for (const auto &c : cases) {
        char *out = nullptr;
        EXPECT_EQ(c.result, ReplaceGrpInString(c.list, &out, "staff", "team")) << c.list;
        if (c.result == 0) {
            EXPECT_EQ(c.list, out) << c.list;
        } else {
            EXPECT_STREQ(c.out, out) << c.list;
            free(out);
        }
    }
    char held[] = "x";
    char *out = held;
    mark_error();
    EXPECT_EQ(-1, ReplaceGrpInString("@staff", &out, "staff", "team"));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
}

class Smmsp : public testing::Test {
protected:
    void install(bool withGroup)
    {
        usertest::Accounts a;
        a.passwd += "smmsp:x:25:25::/var/spool/mqueue:/bin/false\nrsync:x:1026:100::/:/bin/false\n";
        a.shadow += "smmsp:*:15000:0:99999:7:::\nrsync:*:15000:0:99999:7:::\n";
        usertest::install(a);
        GroupFiles g;
        std::string &group = g.group;
        size_t at = group.find("smmsp:x:25:admin\n");
        group.replace(at, strlen("smmsp:x:25:admin\n"), withGroup ? "smmsp:x:25:smmsp,admin\n" : "");
        korvtest::write_file(KORV_GROUP_FILE, g.group);
        korvtest::write_file(KORV_GROUP_DESC_FILE, g.desc);
    }
    static std::vector<std::string> members()
    {
        Group g;
        EXPECT_EQ(0, KORVGroupGet("smmsp", &g.p));
        EXPECT_EQ(KORV_SMMSP_GID, g.p ? g->gid : -2);
        return g.p ? g.members() : std::vector<std::string>{"<none>"};
    }
};

TEST_F(Smmsp, AddRenameRemove)
{
    install(true);
    ASSERT_EQ(0, KORVSmmspGroupSet(nullptr, "rsync", KORV_SMMSP_ADD));
    EXPECT_EQ((std::vector<std::string>{"smmsp", "admin", "rsync"}), members());
    ASSERT_EQ(0, KORVSmmspGroupSet("admin", "root", KORV_SMMSP_RENAME));
    EXPECT_EQ((std::vector<std::string>{"smmsp", "root", "rsync"}), members());
    ASSERT_EQ(0, KORVSmmspGroupSet("RSYNC", nullptr, KORV_SMMSP_REMOVE));
    EXPECT_EQ((std::vector<std::string>{"smmsp", "root"}), members());
    // A name that is no user does not stay.
    ASSERT_EQ(0, KORVSmmspGroupSet(nullptr, "ghost", KORV_SMMSP_ADD));
    EXPECT_EQ((std::vector<std::string>{"smmsp", "root"}), members());
    struct {
        const char *name, *newName;
        int mode;
    } bad[] = {{"a", nullptr, 1}, {nullptr, "b", 2}, {"a", nullptr, 2}, {nullptr, nullptr, 3}};
    for (const auto &c : bad) {
        mark_error();
        EXPECT_EQ(-1, KORVSmmspGroupSet(c.name, c.newName, c.mode)) << c.mode;
        EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet()) << c.mode;
    }
}

TEST_F(Smmsp, CreatedWhenMissing)
{
    install(false);
    ASSERT_EQ(0, KORVSmmspGroupSet(nullptr, "rsync", KORV_SMMSP_ADD));
    EXPECT_EQ((std::vector<std::string>{"smmsp", "rsync"}), members());
    EXPECT_NE(std::string::npos, read_file(KORV_GROUP_FILE).find("\nsmmsp:x:25:smmsp,rsync\n"));
}

TEST(GroupListMember, UsersAndOtherGroups)
{
    GroupFiles g;
    g.group += "ghosts:x:70000:nobody,casper\n";
    install(g);
    struct {
        const char *group;
        std::vector<std::string> members;
    } cases[] = {
        {"USERS", {"admin", "alice", "bob", "guest", "nobody"}},
        {"Staff", {"alice", "bob"}},
        {"ghosts", {}},
    };
    for (const auto &c : cases) {
        PKORLSZLIST list = PslKORLSzListAlloc(0);
        ASSERT_EQ(0, KORLSzListPush(&list, "kept"));
        ASSERT_EQ(0, KORVGroupListMember(c.group, &list)) << c.group;
        std::vector<std::string> got;
        for (int i = 1; i < list->nItem; i++)
            got.push_back(SzKORLSzListGet(list, i));
        EXPECT_EQ(c.members, got) << c.group;
        KORLSzListFree(list);
    }
    PKORLSZLIST list = PslKORLSzListAlloc(0);
    mark_error();
    EXPECT_EQ(-1, KORVGroupListMember("nosuch", &list));
    EXPECT_EQ(KORV_ERR_GROUP_NOT_FOUND, KORLErrGet());
    EXPECT_EQ(0, list->nItem);
    KORLSzListFree(list);
}

}  // namespace
