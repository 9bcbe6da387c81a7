// The FTP accounts step of the configuration stage: regular entries named "ftp" or "anonymous"
// renamed out of the way (their ids, members and password hashes kept), the system entries of
// uid and gid 21 added where missing; a second run changes nothing.
#include <grp.h>
#include <pwd.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "device_tree.h"
#include "korv/group.h"
#include "korv/user.h"
#include "korv/wins.h"
#include "korvtest.h"
#include "lock_holder.h"
#include "updater_config.h"

using namespace korvtest;

namespace {

const char kLm[] = "E52CAC67419A9A224A3B108F3FA6CB6D";
const char kNt[] = "8846F7EAEE8FB117AD06BDD830B7586C";
const char kHash[] = "$1$Ft$3k9bqV5w7Wn8Bq0b1x4mT/";

const char kGroupLine[] = "ftp:x:21:nobody,ftp,nobody";
const char kAnonymousLine[] = "anonymous:x:21:21:Anonymous FTP User:/nonexist:/sbin/nologin";
const char kFtpLine[] = "ftp:x:21:21:Anonymous FTP User:/nonexist:/sbin/nologin";

// Extra account and group lines of the unit before the step.
struct Accounts {
    std::string passwd, shadow, smbpasswd, group;

    // A regular user with a password of its own.
    void user(const std::string &name, int uid, const std::string &gecos = "")
    {
        passwd += name + ":x:" + std::to_string(uid) + ":100:" + gecos + ":/var/services/homes/" + name + ":/bin/sh\n";
        shadow += name + ":" + kHash + ":15000:0:99999:7:::\n";
        smbpasswd += name + ":" + std::to_string(uid) + ":" + kLm + ":" + kNt + ":[U          ]:LCT-5F000000:\n";
    }
    // Users name1 to name<last>.
    void numbered(const std::string &name, int last, int firstUid)
    {
        for (int i = 1; i <= last; ++i)
            user(name + std::to_string(i), firstUid + i);
    }
    void groups(const std::string &name, int last, int firstGid)
    {
        for (int i = 1; i <= last; ++i)
            group += name + std::to_string(i) + ":x:" + std::to_string(firstGid + i) + ":\n";
    }
};

void install(const Accounts &a)
{
    write_file(KORV_PASSWD_FILE,
               "root:x:0:0:root:/root:/bin/sh\n"
               "admin:x:1024:100:System default user:/var/services/homes/admin:/bin/sh\n"
               "guest:x:1025:100:Guest:/nonexist:/bin/sh\n"
               "nobody:x:65534:65534:nobody:/nonexistent:/bin/false\n" +
                   a.passwd);
    write_file(KORV_SHADOW_FILE,
               "root:*:14000:0:99999:7:::\n"
               "admin:$1$Vaultm01$eD2mZqgH7PbI9h0b7y3Zp/:14000:0:99999:7:::\n"
               "guest:*:14000:0:99999:7:::\n"
               "nobody:*:14000:0:99999:7:::\n" +
                   a.shadow,
               0600);
    write_file(KORV_SMBPASSWD_FILE,
               std::string("admin:1024:") + kLm + ":" + kNt + ":[U          ]:LCT-5F000000:\n" + a.smbpasswd, 0600);
    write_file(KORV_USER_CONF_FILE, "#$_@UID__INDEX@_$1025$\nadmin:7:\n");
    write_file(KORV_GROUP_FILE, "#$_@GID__INDEX@_$65600$\nroot:x:0:\nusers:x:100:admin,guest\nnogroup:x:65534:\n" + a.group);
    write_file(KORV_GROUP_DESC_FILE, "");
    write_file("/etc/nsswitch.conf", "passwd: files\ngroup: files\nshadow: files\n");
    write_file(KORV_SMB_CONF, "[global]\n\tworkgroup=WORKGROUP\n[public]\n\tpath=/volume1/public\n");
    write_file("/etc/korvinfo.conf", "codepage=\"enu\"\n");
}

std::string first_line(const std::string &path)
{
    const std::string text = read_file(path);
    return text.substr(0, text.find('\n'));
}

// The line of a file that starts with "name:", "" when there is none.
std::string line_of(const std::string &path, const std::string &name)
{
    std::istringstream in(read_file(path));
    for (std::string l; std::getline(in, l);)
        if (l.rfind(name + ":", 0) == 0)
            return l;
    return "";
}

// Field i (from 0) of a ":" separated line.
std::string field(const std::string &line, int i)
{
    std::istringstream in(line);
    std::string f;
    for (int n = 0; n <= i; ++n)
        if (!std::getline(in, f, ':'))
            return "";
    return f;
}

struct Files {
    std::string passwd, shadow, smbpasswd, group;
    bool operator==(const Files &) const = default;
};

Files files()
{
    return {read_file(KORV_PASSWD_FILE), read_file(KORV_SHADOW_FILE), read_file(KORV_SMBPASSWD_FILE),
            read_file(KORV_GROUP_FILE)};
}

void PrintTo(const Files &f, std::ostream *os)
{
    *os << "\npasswd:\n" << f.passwd << "shadow:\n" << f.shadow << "group:\n" << f.group;
}

// A user renamed by the step: its uid, gecos and password hashes under the new name.
struct Renamed {
    const char *from;
    const char *to;
    int uid;
    const char *gecos;
};

struct AccountsCase {
    const char *name;
    Accounts before;
    int result;
    std::vector<Renamed> users;                    // renamed users
    std::map<std::string, std::string> groups;     // renamed group -> its "gid:members"
    std::vector<std::string> passwdHead;           // the first lines of /etc/passwd afterwards
    bool groupAdded;                               // the system group line is /etc/group's first
    std::vector<std::string> stays;                // users still under their old name
};

void PrintTo(const AccountsCase &c, std::ostream *os)
{
    *os << c.name;
}

Accounts with(std::function<void(Accounts &)> f)
{
    Accounts a;
    f(a);
    return a;
}

const std::vector<AccountsCase> &Cases()
{
    static const std::vector<AccountsCase> cases = {
        {"NoFtpEntries", {}, 0, {}, {}, {kFtpLine, kAnonymousLine}, true, {}},
        {"SystemFtpAccountKept",
         {"ftp:x:21:21:FTP:/nonexist:/sbin/nologin\n", "ftp:*:10933:0:99999:7:::\n", "", "ftp:x:21:ftp\n"},
         0,
         {},
         {},
         {kAnonymousLine, "root:x:0:0:root:/root:/bin/sh"},
         false,
         {}},
        // A run killed between the two lines of the account left only the first.
        {"SystemAccountWithoutItsShadowLine", {std::string(kFtpLine) + "\n", "", "", ""}, 0, {}, {},
         {kAnonymousLine, "root:x:0:0:root:/root:/bin/sh"}, true, {}},
        {"RegularFtpUserRenamed", with([](Accounts &a) { a.user("ftp", 1030, "Ftp fan"); }), 0,
         {{"ftp", "ftp1", 1030, "Ftp fan"}}, {}, {kFtpLine, kAnonymousLine}, true, {}},
        {"RegularUsersTakeTheFirstFreeNumber",
         with([](Accounts &a) {
             a.user("ftp", 1030);
             a.user("ftp1", 1031);
             a.user("anonymous", 1032, "Guest of the shop");
             a.numbered("anonymous", 126, 1100);
         }),
         0,
         {{"ftp", "ftp2", 1030, ""}, {"anonymous", "anonymous127", 1032, "Guest of the shop"}},
         {},
         {kFtpLine, kAnonymousLine},
         true,
         {"ftp1", "anonymous126"}},
        {"NoFreeAnonymousName",
         with([](Accounts &a) {
             a.user("anonymous", 1032);
             a.numbered("anonymous", 127, 1100);
         }),
         -1,
         {},
         {},
         {"root:x:0:0:root:/root:/bin/sh"},
         false,
         {"anonymous"}},
        {"RegularFtpGroupRenamed",
         with([](Accounts &a) {
             a.user("alice", 1030);
             a.group += "ftp:x:65601:alice\n";
         }),
         0,
         {},
         {{"ftp1", "65601:alice"}},
         {kFtpLine, kAnonymousLine},
         true,
         {"alice"}},
        {"NoFreeGroupNameRenamesNoUser",
         with([](Accounts &a) {
             a.user("ftp", 1030);
             a.group += "ftp:x:65601:ftp\n";
             a.groups("ftp", 63, 65700);
         }),
         -1,
         {},
         {},
         {"root:x:0:0:root:/root:/bin/sh"},
         false,
         {"ftp"}},
        // The library keeps groups below 65536 under their names: the rename is refused, and
        // the step with it rather than pass the old group off as the system one.
        {"GroupRenameRefused", with([](Accounts &a) { a.group += "ftp:x:2000:\n"; }), -1, {}, {},
         {"root:x:0:0:root:/root:/bin/sh"}, false, {}},
    };
    return cases;
}

class FtpAccounts : public testing::TestWithParam<AccountsCase> {};

TEST_P(FtpAccounts, RenamedAndAdded)
{
    const AccountsCase &c = GetParam();
    install(c.before);
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run == 0 ? "first run" : "second run");
        const Files before = files();
        syslog_clear();
        EXPECT_EQ(UPDTConfigFtpSystemAccounts(), c.result) << syslog_dump();
        EXPECT_EQ(syslog_has_pattern("updater (<L>) Failed to add ftp user/group."), c.result != 0) << syslog_dump();
        if (run == 1) {
            EXPECT_EQ(files(), before) << "the second run changed the account files";
            continue;
        }
        for (const Renamed &r : c.users) {
            SCOPED_TRACE(r.to);
            const std::string pw = line_of(KORV_PASSWD_FILE, r.to);
            EXPECT_EQ(field(pw, 2), std::to_string(r.uid)) << pw;
            EXPECT_EQ(field(pw, 3), "100") << pw;
            EXPECT_EQ(field(pw, 4), r.gecos) << pw;
            EXPECT_EQ(field(line_of(KORV_SHADOW_FILE, r.to), 1), kHash);
            const std::string smb = line_of(KORV_SMBPASSWD_FILE, r.to);
            EXPECT_EQ(field(smb, 1), std::to_string(r.uid)) << smb;
            EXPECT_EQ(field(smb, 2), kLm) << smb;
            EXPECT_EQ(field(smb, 3), kNt) << smb;
            // The old name now belongs to the system account, or to nobody.
            const std::string old = line_of(KORV_PASSWD_FILE, r.from);
            EXPECT_EQ(field(old, 2), "21") << old;
            EXPECT_EQ(line_of(KORV_SMBPASSWD_FILE, r.from), "");
        }
        for (const auto &[name, rest] : c.groups) {
            const std::string gr = line_of(KORV_GROUP_FILE, name);
            EXPECT_EQ(field(gr, 2) + ":" + field(gr, 3), rest) << gr;
        }
        for (const std::string &name : c.stays)
            EXPECT_NE(line_of(KORV_PASSWD_FILE, name), "") << name;
        std::istringstream passwd(read_file(KORV_PASSWD_FILE));
        for (const std::string &want : c.passwdHead) {
            std::string got;
            std::getline(passwd, got);
            EXPECT_EQ(got, want);
        }
        if (c.groupAdded) {
            EXPECT_EQ(first_line(KORV_GROUP_FILE), kGroupLine);
            EXPECT_EQ(line_of(KORV_SHADOW_FILE, "ftp"), "ftp:*:10933:0:99999:7:::");
            EXPECT_EQ(line_of(KORV_SHADOW_FILE, "anonymous"), "anonymous:*:10933:0:99999:7:::");
        }
        if (c.result == 0) {
            // shadow-utils reads the migrated files without a complaint (the index line aside);
            // the homes and shells it also looks for are laid out first.
            std::istringstream users(read_file(KORV_PASSWD_FILE));
            for (std::string l; std::getline(users, l);) {
                make_dirs(field(l, 5));
                if (!file_exists(field(l, 6)))
                    install_program(field(l, 6), "#!/bin/sh\nexit 0\n");
            }
            std::string out;
            EXPECT_EQ(run_shell("pwck -r /etc/passwd /etc/shadow 2>&1", &out), 0) << out;
            std::string groups;
            std::istringstream in(read_file(KORV_GROUP_FILE));
            for (std::string l; std::getline(in, l);)
                if (l.rfind("#", 0) != 0)
                    groups += l + "\n";
            write_file("/tmp/group.checked", groups);
            EXPECT_EQ(run_shell("grpck -r /tmp/group.checked 2>&1", &out), 0) << out;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Units, FtpAccounts, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<AccountsCase> &i) { return std::string(i.param.name); });

// The account rename on its own: nothing to do for a missing or system account, -1 when no
// number up to 127 is free.
TEST(CheckAndRenameReservedUser, OnlyRegularAccountsWithAFreeName)
{
    Accounts a;
    a.passwd += "anonymous:x:21:21:Anonymous FTP User:/nonexist:/sbin/nologin\n";
    a.user("ftp", 1030);
    a.numbered("ftp", 127, 1100);
    install(a);
    const Files before = files();
    EXPECT_EQ(CheckAndRenameReservedUser("nosuchuser"), 0);
    EXPECT_EQ(CheckAndRenameReservedUser("anonymous"), 0);
    EXPECT_EQ(CheckAndRenameReservedUser("admin"), 0);
    EXPECT_EQ(CheckAndRenameReservedUser("ftp"), -1);
    EXPECT_EQ(files(), before);
}

// The renamed account's hashes are copied from its own SMB record: without one the step fails
// before anything is renamed.
TEST(CheckAndRenameReservedUser, NoSmbRecordRenamesNothing)
{
    Accounts a;
    a.user("anonymous", 1030);
    a.smbpasswd.clear();
    install(a);
    const Files before = files();
    EXPECT_EQ(CheckAndRenameReservedUser("anonymous"), -1);
    EXPECT_TRUE(syslog_has_pattern("updater (<L>) Failed to KORVUserGetSmbPasswd() user [anonymous]."))
        << syslog_dump();
    EXPECT_EQ(files(), before);
}

// The system lines wait for the account files' named locks: while another process holds one,
// its file is left alone and the step fails.
TEST(FtpAccountsLocks, AccountFilesEditedOnlyUnderTheirLocks)
{
    for (unsigned lock : {KORL_LOCK_GR, KORL_LOCK_PW}) {
        SCOPED_TRACE(lock == KORL_LOCK_GR ? "lock_gr" : "lock_pw");
        install({});
        const Files before = files();
        Holder holder(lock | LOCK_EX);
        ASSERT_TRUE(holder.obtained());
        EXPECT_EQ(UPDTConfigFtpSystemAccounts(), -1);
        const Files held = files();
        EXPECT_EQ(held.passwd, before.passwd);
        EXPECT_EQ(held.shadow, before.shadow);
        if (lock == KORL_LOCK_GR) {
            EXPECT_EQ(held.group, before.group);
        }
        holder.release();
        EXPECT_EQ(UPDTConfigFtpSystemAccounts(), 0) << syslog_dump();
        EXPECT_EQ(first_line(KORV_GROUP_FILE), kGroupLine);
        EXPECT_EQ(first_line(KORV_PASSWD_FILE), kFtpLine);
    }
}

}  // namespace
