// The configuration stage's account edits: the home directories of "/etc/passwd", the user
// settings file written anew, and the mail service's groups and accounts. Each step runs twice;
// the second run changes nothing. Failures leave the files as they were.
#include <gtest/gtest.h>

#include <dirent.h>
#include <errno.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "account_checkers.h"
#include "device_tree.h"
#include "file_calls.h"
#include "korv/file.h"
#include "korv/group.h"
#include "korv/user.h"
#include "korvtest.h"
#include "lock_holder.h"
#include "updater_config.h"

using namespace korvtest;

namespace {

// The names in "/etc" that start with prefix, other than the file itself: a left temporary file.
std::vector<std::string> leftovers(const std::string &prefix)
{
    std::vector<std::string> out;
    DIR *dir = opendir("/etc");
    if (!dir)
        return out;
    while (dirent *e = readdir(dir)) {
        std::string name = e->d_name;
        if (name.rfind(prefix, 0) == 0 && name != prefix)
            out.push_back(name);
    }
    closedir(dir);
    return out;
}

mode_t mode_of(const char *path)
{
    struct stat st;
    return stat(path, &st) == 0 ? st.st_mode & 07777 : 0;
}

// --- "/etc/passwd": homes ---

struct HomeCase {
    const char *name;
    const char *before;  // the passwd line
    const char *after;   // the line afterwards; "" when it is dropped
};

const HomeCase kHomeCases[] = {
    {"system_account_kept", "daemon:x:2:2:daemon:/sbin:/sbin/nologin", "daemon:x:2:2:daemon:/sbin:/sbin/nologin"},
    {"uid_1024_moved", "admin:x:1024:100:System default user:/volume1/homes/admin:/bin/sh",
     "admin:x:1024:100:System default user:/var/services/homes/admin:/bin/sh"},
    {"guest_1025_kept", "guest:x:1025:100:Guest:/nonexist:/bin/sh", "guest:x:1025:100:Guest:/nonexist:/bin/sh"},
    {"uid_1026_moved", "bob:x:1026:100::/volume1/homes/bob:/bin/sh", "bob:x:1026:100::/var/services/homes/bob:/bin/sh"},
    {"uid_1023_kept", "svc:x:1023:100::/var/svc:/bin/false", "svc:x:1023:100::/var/svc:/bin/false"},
    {"empty_home_gets_one", "eve:x:3000:100:Eve::/bin/sh", "eve:x:3000:100:Eve:/var/services/homes/eve:/bin/sh"},
    {"domain_account_dropped", "CORP\\jane:x:1030:100::/home/jane:/bin/sh", ""},
    {"long_entry_grows_the_buffer", nullptr, nullptr},  // filled below: a gecos of 9000 bytes
};

std::string long_gecos()
{
    return std::string(9000, 'g');
}

std::string home_line(const HomeCase &c, bool after)
{
    if (c.before)
        return after ? c.after : c.before;
    return "carol:x:1027:100:" + long_gecos() + ":" + (after ? "/var/services/homes/carol" : "/home/carol") +
           ":/bin/sh";
}

TEST(PasswdHomes, EachEntryAsTheTableSays)
{
    install_accounts();
    std::string before = "root:x:0:0:root:/root:/bin/sh\n", expected = before;
    for (const HomeCase &c : kHomeCases) {
        before += home_line(c, false) + "\n";
        if (!home_line(c, true).empty())
            expected += home_line(c, true) + "\n";
    }
    write_file(KORV_PASSWD_FILE, before);
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        EXPECT_EQ(UPDTConfigPasswdHomes(), 0) << syslog_dump();
        std::string got = read_file(KORV_PASSWD_FILE);
        // Line by line first: a failing case names itself.
        for (const HomeCase &c : kHomeCases) {
            const std::string line = home_line(c, true);
            if (line.empty())
                EXPECT_EQ(got.find(home_line(c, false)), std::string::npos) << c.name;
            else
                EXPECT_NE(got.find(line + "\n"), std::string::npos) << c.name;
        }
        EXPECT_EQ(got, expected);
        EXPECT_EQ(mode_of(KORV_PASSWD_FILE), 0644u);
        EXPECT_TRUE(leftovers("passwd").empty());
    }
}

TEST(PasswdHomes, ModeBecomes0644)
{
    install_accounts();
    ASSERT_EQ(chmod(KORV_PASSWD_FILE, 0600), 0);
    EXPECT_EQ(UPDTConfigPasswdHomes(), 0);
    EXPECT_EQ(mode_of(KORV_PASSWD_FILE), 0644u);
}

// A failure anywhere leaves "/etc/passwd" as it was and no temporary file beside it.
struct HomeFailure {
    const char *name;
    void (*arrange)();
    const char *message;  // "" when only the step's own line is logged
};

void many_accounts()
{
    std::string text = "root:x:0:0:root:/root:/bin/sh\n";
    for (int i = 0; i < 120; ++i)
        text += "user" + std::to_string(i) + ":x:" + std::to_string(2000 + i) + ":100:" + std::string(40, 'u') +
                ":/volume1/homes/user" + std::to_string(i) + ":/bin/sh\n";
    write_file(KORV_PASSWD_FILE, text);
}

const HomeFailure kHomeFailures[] = {
    {"read_only_folder",
     [] {
         install_accounts();
         ASSERT_TRUE(mount_read_only("/etc"));
     },
     "updater:<L> mkstemp passwd tmpfile failed. errno:30, message:Read-only file system"},
    // The copy does not fit beside the file: it is never renamed over it half written.
    {"disk_full",
     [] {
         ASSERT_TRUE(mount_small_disk("/etc", 16 * 1024));
         many_accounts();
     },
     ""},
    {"no_passwd_file",
     [] {
         install_accounts();
         remove_tree(KORV_PASSWD_FILE);
     },
     "updater:<L> open passwd failed. errno:2, message:No such file or directory"},
};

class PasswdHomesFailure : public testing::TestWithParam<HomeFailure> {};

TEST_P(PasswdHomesFailure, FileKept)
{
    make_dirs("/tmp/lock");
    GetParam().arrange();
    const std::string before = read_file(KORV_PASSWD_FILE);
    EXPECT_EQ(UPDTConfigPasswdHomes(), -1);
    EXPECT_TRUE(syslog_has_pattern("updater(<L>) Rewrite /etc/passwd user home failed.")) << syslog_dump();
    if (*GetParam().message) {
        EXPECT_TRUE(syslog_has_pattern(GetParam().message)) << syslog_dump();
    }
    EXPECT_EQ(read_file(KORV_PASSWD_FILE), before);
    EXPECT_TRUE(leftovers("passwd").empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, PasswdHomesFailure, testing::ValuesIn(kHomeFailures),
                         [](const testing::TestParamInfo<HomeFailure> &i) { return std::string(i.param.name); });

// Another writer of the account files holds lock_pw: the file is not touched behind its back.
TEST(PasswdHomesLock, WaitsForTheUserModulesLock)
{
    install_accounts();
    write_file(KORV_PASSWD_FILE, "root:x:0:0:root:/root:/bin/sh\nbob:x:1026:100::/home/bob:/bin/sh\n");
    const std::string before = read_file(KORV_PASSWD_FILE);
    {
        Holder holder(KORL_LOCK_PW | LOCK_EX);
        ASSERT_TRUE(holder.obtained());
        EXPECT_EQ(UPDTConfigPasswdHomes(), -1);
        EXPECT_EQ(read_file(KORV_PASSWD_FILE), before);
    }
    EXPECT_EQ(UPDTConfigPasswdHomes(), 0);
    EXPECT_NE(read_file(KORV_PASSWD_FILE).find("bob:x:1026:100::/var/services/homes/bob:/bin/sh\n"),
              std::string::npos);
}

// --- "/etc/korvuser.conf" ---

// Local users beyond the unit's root, admin and guest, with shadow lines for the checkers.
void add_users(const std::vector<std::pair<std::string, int>> &users)
{
    std::string passwd = read_file(KORV_PASSWD_FILE), shadow = read_file(KORV_SHADOW_FILE);
    for (const auto &[name, uid] : users) {
        passwd += name + ":x:" + std::to_string(uid) + ":100::/var/services/homes/" + name + ":/bin/sh\n";
        shadow += name + ":*:14000:0:99999:7:::\n";
    }
    write_file(KORV_PASSWD_FILE, passwd);
    write_file(KORV_SHADOW_FILE, shadow, 0600);
}

struct UserConfCase {
    const char *name;
    const char *downloadEnabled;  // null: no key
    const char *expected;
};

const UserConfCase kUserConfCases[] = {
    {"download_on", "yes", "alice:11:alice@example.com\nbob:11:\nzed:11:z@example.com\n"},
    {"download_on_other_case", "YES", "alice:3:alice@example.com\nbob:3:\nzed:3:z@example.com\n"},
    {"download_off", "no", "alice:3:alice@example.com\nbob:3:\nzed:3:z@example.com\n"},
    {"no_download_key", nullptr, "alice:3:alice@example.com\nbob:3:\nzed:3:z@example.com\n"},
    // Too long for its buffer: read as failed, so not "yes".
    {"download_value_too_long", "yess", "alice:3:alice@example.com\nbob:3:\nzed:3:z@example.com\n"},
};

void PrintTo(const UserConfCase &c, std::ostream *os)
{
    *os << c.name;
}

class UserConfFile : public testing::TestWithParam<UserConfCase> {};

TEST_P(UserConfFile, OneLinePerUserAboveTheGuest)
{
    const UserConfCase &c = GetParam();
    install_accounts();
    add_users({{"zed", 1030}, {"bob", 1026}, {"alice", 2000}});
    std::map<std::string, std::string> settings{{"hostname", "unit"}};
    if (c.downloadEnabled)
        settings["download_enabled"] = c.downloadEnabled;
    write_key_values(KORV_INFO_CONF, settings);
    write_key_values("/etc/mail", {{"alice", "alice@example.com"}, {"zed", "z@example.com"}, {"admin", "a@b"}});
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        EXPECT_EQ(UPDTConfigUserConfFile(), 0) << syslog_dump();
        EXPECT_EQ(read_file(KORV_USER_CONF_FILE), c.expected);
        EXPECT_EQ(mode_of(KORV_USER_CONF_FILE), 0644u);
        EXPECT_TRUE(leftovers("korvuser.conf").empty());
    }
    EXPECT_EQ(syslog_contains("KORLFileGetKeyValue failed"), std::string(c.name) == "download_value_too_long")
        << syslog_dump();
}

INSTANTIATE_TEST_SUITE_P(Cases, UserConfFile, testing::ValuesIn(kUserConfCases),
                         [](const testing::TestParamInfo<UserConfCase> &i) { return std::string(i.param.name); });

TEST(UserConfFileMail, NoMailFileGivesEmptyAddresses)
{
    install_accounts();
    add_users({{"bob", 1026}});
    EXPECT_EQ(UPDTConfigUserConfFile(), 0);
    EXPECT_EQ(read_file(KORV_USER_CONF_FILE), "bob:3:\n");
    EXPECT_TRUE(syslog_has_pattern("updater:<L> KORLFileGetKeyValue failed. korverr=[0x0900]")) << syslog_dump();
}

// The old file stays whole when the new one cannot be made complete.
TEST(UserConfFileFailure, UserListUnreadableKeepsTheOldFile)
{
    install_accounts();
    add_users({{"bob", 1026}});
    const std::string before = read_file(KORV_USER_CONF_FILE);
    // A uid that is no number: the user database cannot be built.
    write_file(KORV_PASSWD_FILE, read_file(KORV_PASSWD_FILE) + "broken:x:abc:100::/:/bin/sh\n");
    EXPECT_EQ(UPDTConfigUserConfFile(), -1);
    EXPECT_TRUE(syslog_has_pattern("updater:<L> KORVLocalUserInfoEnum failed. korverr=[0x0900]")) << syslog_dump();
    EXPECT_TRUE(syslog_has_pattern("updater(<L>) Create /etc/korvuser failed.")) << syslog_dump();
    EXPECT_EQ(read_file(KORV_USER_CONF_FILE), before);
    EXPECT_TRUE(leftovers("korvuser.conf").empty());
}

// A line longer than its buffer is not written cut: the old file stays.
TEST(UserConfFileFailure, LineTooLongKeepsTheOldFile)
{
    install_accounts();
    const std::string name(600, 'n');
    add_users({{"bob", 1026}, {name, 1027}});
    write_key_values("/etc/mail", {{name, std::string(1000, 'm') + "@example.com"}});
    const std::string before = read_file(KORV_USER_CONF_FILE);
    EXPECT_EQ(UPDTConfigUserConfFile(), -1);
    EXPECT_TRUE(syslog_has_pattern("updater(<L>) Create /etc/korvuser failed.")) << syslog_dump();
    EXPECT_EQ(read_file(KORV_USER_CONF_FILE), before);
    EXPECT_TRUE(leftovers("korvuser.conf").empty());
}

TEST(UserConfFileFailure, ReadOnlyFolderKeepsTheOldFile)
{
    install_accounts();
    add_users({{"bob", 1026}});
    make_dirs("/tmp/lock");
    const std::string before = read_file(KORV_USER_CONF_FILE);
    ASSERT_TRUE(mount_read_only("/etc"));
    EXPECT_EQ(UPDTConfigUserConfFile(), -1);
    EXPECT_TRUE(syslog_has_pattern("updater:<L> get user uid failed. errno=30")) << syslog_dump();
    EXPECT_TRUE(syslog_has_pattern("updater(<L>) Create /etc/korvuser failed.")) << syslog_dump();
    EXPECT_EQ(read_file(KORV_USER_CONF_FILE), before);
}

// --- the end of both rewrites ---

struct AccountRewrite {
    const char *name;
    int (*step)();
    const char *file;
    const char *closing;  // the step's own message after any failure
    const char *sync;     // the words of a failed sync
    const char *rename;   // ... and of a failed rename
};

const AccountRewrite kAccountRewrites[] = {
    {"passwd_homes", UPDTConfigPasswdHomes, KORV_PASSWD_FILE, "updater(<L>) Rewrite /etc/passwd user home failed.",
     "fsync", "rename passwd"},
    {"user_conf_file", UPDTConfigUserConfFile, KORV_USER_CONF_FILE, "updater(<L>) Create /etc/korvuser failed.",
     "fprintf", "rename korvuser.conf"},
};

void account_unit()
{
    install_accounts();
    add_users({{"bob", 1026}});
    write_file(KORV_PASSWD_FILE, read_file(KORV_PASSWD_FILE) + "carol:x:1027:100::/home/carol:/bin/sh\n");
    write_file(KORV_USER_CONF_FILE, "gone:3:\n");
}

// The copy reaches the disk once: one fsync of the file that takes the old one's place.
TEST(AccountRewriteCommit, EachFileSyncedOnce)
{
    for (const AccountRewrite &r : kAccountRewrites) {
        SCOPED_TRACE(r.name);
        account_unit();
        EXPECT_EQ(r.step(), 0) << syslog_dump();
        EXPECT_EQ(file_calls(FileCall::kFsync, r.file), 1);
    }
}

// A failed step of the commit is told in the step's words; the file stays as it was, and only a
// refused rename leaves the complete copy beside it.
TEST(AccountRewriteCommit, FailedStepInItsWords)
{
    struct Fault {
        const char *name;
        void (*arrange)(const std::string &file);
        std::string (*words)(const AccountRewrite &r);
        const char *error;  // "errno:%d, message:%s"
    };
    const Fault faults[] = {
        {"sync", [](const std::string &file) { fail_file_calls(FileCall::kFsync, file + ".", EIO); },
         [](const AccountRewrite &r) { return std::string(r.sync); }, "errno:5, message:Input/output error"},
        {"mode", [](const std::string &file) { fail_file_calls(FileCall::kFchmod, file + ".", EPERM); },
         [](const AccountRewrite &) { return std::string("fchmod"); }, "errno:1, message:Operation not permitted"},
        {"rename",
         [](const std::string &file) {
             // A mount point cannot be renamed over; it shows the file's own bytes.
             copy_file(file, "/srv/bound", 0644);
             ASSERT_EQ(mount("/srv/bound", file.c_str(), nullptr, MS_BIND, nullptr), 0) << strerror(errno);
         },
         [](const AccountRewrite &r) { return std::string(r.rename); }, "errno:16, message:Device or resource busy"},
    };
    for (const AccountRewrite &r : kAccountRewrites) {
        for (const Fault &f : faults) {
            SCOPED_TRACE(std::string(r.name) + " " + f.name);
            account_unit();
            const std::string before = read_file(r.file);
            syslog_clear();
            f.arrange(r.file);
            EXPECT_EQ(r.step(), -1);
            EXPECT_TRUE(syslog_has_pattern("updater:<L> " + f.words(r) + " failed. " + f.error)) << syslog_dump();
            EXPECT_TRUE(syslog_has_pattern(r.closing)) << syslog_dump();
            EXPECT_EQ(read_file(r.file), before);
            const std::string base = strrchr(r.file, '/') + 1;
            const std::vector<std::string> copies = leftovers(base);

            fail_file_calls(FileCall::kFsync, "", 0);
            fail_file_calls(FileCall::kFchmod, "", 0);
            if (std::string(f.name) != "rename") {
                EXPECT_TRUE(copies.empty());
                continue;
            }
            // The copy holds what the step writes once nothing is in its way.
            ASSERT_EQ(umount(r.file), 0) << strerror(errno);
            ASSERT_EQ(copies.size(), 1u);
            const std::string copy = read_file("/etc/" + copies[0]);
            unlink(("/etc/" + copies[0]).c_str());
            EXPECT_EQ(r.step(), 0) << syslog_dump();
            EXPECT_EQ(copy, read_file(r.file));
        }
    }
}

// --- the mail service's groups and accounts ---

const char kPostfixGroup[] = "postfix:x:125:postfix\n";
const char kMaildropGroup[] = "maildrop:x:126:\n";
const char kDovecotGroup[] = "dovecot:x:143:dovecot\n";
const char kPostfixUser[] = "postfix:x:125:125:Postfix User:/nonexist:/sbin/nologin\n";
const char kDovecotUser[] = "dovecot:x:143:143:Dovecot User:/nonexist:/sbin/nologin\n";
const char kPostfixShadow[] = "postfix:*:10933:0:99999:7:::\n";
const char kDovecotShadow[] = "dovecot:*:10933:0:99999:7:::\n";

struct AccountFiles {
    std::string group, passwd, shadow;
    bool operator==(const AccountFiles &) const = default;
};

void PrintTo(const AccountFiles &f, std::ostream *os)
{
    *os << "group:\n" << f.group << "passwd:\n" << f.passwd << "shadow:\n" << f.shadow;
}

AccountFiles read_accounts()
{
    return {read_file(KORV_GROUP_FILE), read_file(KORV_PASSWD_FILE), read_file(KORV_SHADOW_FILE)};
}

void write_accounts(const AccountFiles &f)
{
    write_file(KORV_GROUP_FILE, f.group);
    write_file(KORV_PASSWD_FILE, f.passwd);
    write_file(KORV_SHADOW_FILE, f.shadow, 0600);
}

const AccountFiles kUnit = {
    "root:x:0:\nusers:x:100:admin\n",
    "root:x:0:0:root:/root:/bin/sh\nadmin:x:1024:100::/var/services/homes/admin:/bin/sh\n",
    "root:*:14000:0:99999:7:::\nadmin:*:14000:0:99999:7:::\n",
};

struct MailCase {
    const char *name;
    AccountFiles before, after;
};

// Each new line goes first in its file, so the last one added stands on top.
const MailCase kMailCases[] = {
    {"none_yet", kUnit,
     {std::string(kDovecotGroup) + kMaildropGroup + kPostfixGroup + kUnit.group,
      std::string(kDovecotUser) + kPostfixUser + kUnit.passwd,
      std::string(kDovecotShadow) + kPostfixShadow + kUnit.shadow}},
    {"all_there",
     {kUnit.group + kPostfixGroup + kMaildropGroup + kDovecotGroup, kUnit.passwd + kPostfixUser + kDovecotUser,
      kUnit.shadow + kPostfixShadow + kDovecotShadow},
     {kUnit.group + kPostfixGroup + kMaildropGroup + kDovecotGroup, kUnit.passwd + kPostfixUser + kDovecotUser,
      kUnit.shadow + kPostfixShadow + kDovecotShadow}},
    // An entry is known by its name, whatever it holds.
    {"some_there_by_name",
     {kUnit.group + "maildrop:x:500:\n", kUnit.passwd + "postfix:x:600:600::/var/spool/postfix:/bin/false\n",
      kUnit.shadow + "postfix:!:14000:0:99999:7:::\n"},
     {std::string(kDovecotGroup) + kPostfixGroup + kUnit.group + "maildrop:x:500:\n",
      std::string(kDovecotUser) + kUnit.passwd + "postfix:x:600:600::/var/spool/postfix:/bin/false\n",
      std::string(kDovecotShadow) + kUnit.shadow + "postfix:!:14000:0:99999:7:::\n"}},
    // A run killed between an account's two lines left the first: the second is added.
    {"account_without_its_shadow_line",
     {std::string(kDovecotGroup) + kMaildropGroup + kPostfixGroup + kUnit.group, std::string(kPostfixUser) + kUnit.passwd,
      kUnit.shadow},
     {std::string(kDovecotGroup) + kMaildropGroup + kPostfixGroup + kUnit.group,
      std::string(kDovecotUser) + kPostfixUser + kUnit.passwd,
      std::string(kDovecotShadow) + kPostfixShadow + kUnit.shadow}},
};

void PrintTo(const MailCase &c, std::ostream *os)
{
    *os << c.name;
}

class MailAccounts : public testing::TestWithParam<MailCase> {};

TEST_P(MailAccounts, AddedWhereMissing)
{
    const MailCase &c = GetParam();
    install_accounts();  // nsswitch.conf: the lookups read these files
    write_accounts(c.before);
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        EXPECT_EQ(UPDTConfigMailAccounts(), 0) << syslog_dump();
        EXPECT_EQ(read_accounts(), c.after);
    }
    EXPECT_EQ(mode_of(KORV_SHADOW_FILE), 0600u);
}

INSTANTIATE_TEST_SUITE_P(Cases, MailAccounts, testing::ValuesIn(kMailCases),
                         [](const testing::TestParamInfo<MailCase> &i) { return std::string(i.param.name); });

// The first add that fails ends the step: nothing after it is added.
TEST(MailAccountsFailure, ShadowUnwritableEndsTheStep)
{
    install_accounts();
    write_accounts(kUnit);
    remove_tree(KORV_SHADOW_FILE);
    make_dirs(KORV_SHADOW_FILE);  // a folder: no line goes into it
    EXPECT_EQ(UPDTConfigMailAccounts(), -1);
    EXPECT_TRUE(syslog_has_pattern("updater:<L> Failed to KORLFileAddLine in to /etc/shadow.")) << syslog_dump();
    EXPECT_TRUE(syslog_has_pattern("updater(<L>) Create mail quarn users failed.")) << syslog_dump();
    const AccountFiles after = read_accounts();
    EXPECT_EQ(after.group, std::string(kDovecotGroup) + kMaildropGroup + kPostfixGroup + kUnit.group);
    // postfix's passwd line went in before its shadow line failed; dovecot was never tried.
    EXPECT_EQ(after.passwd, std::string(kPostfixUser) + kUnit.passwd);
}

TEST(MailAccountsLock, NothingAddedWhileTheGroupModuleHoldsItsLock)
{
    install_accounts();
    write_accounts(kUnit);
    Holder holder(KORL_LOCK_GR | LOCK_EX);
    ASSERT_TRUE(holder.obtained());
    EXPECT_EQ(UPDTConfigMailAccounts(), -1);
    EXPECT_EQ(read_accounts(), kUnit);
}

// --- the three steps on the sample unit, as a stage runs them ---

TEST(AccountSteps, MigratedFilesPassTheCheckers)
{
    install_accounts();
    add_users({{"bob", 1026}, {"alice", 2000}});
    write_file(KORV_PASSWD_FILE, read_file(KORV_PASSWD_FILE) + "CORP\\jane:x:1030:100::/home/jane:/bin/sh\n");
    write_key_values(KORV_INFO_CONF, {{"download_enabled", "yes"}});
    for (int run = 0; run < 2; ++run) {
        EXPECT_EQ(UPDTConfigPasswdHomes(), 0) << syslog_dump();
        EXPECT_EQ(UPDTConfigUserConfFile(), 0) << syslog_dump();
        EXPECT_EQ(UPDTConfigMailAccounts(), 0) << syslog_dump();
    }
    EXPECT_EQ(read_file(KORV_USER_CONF_FILE), "alice:11:\nbob:11:\n");
    EXPECT_EQ(read_file(KORV_PASSWD_FILE).find("jane"), std::string::npos);
    updatertest::expect_checkers_accept();
}

}  // namespace
