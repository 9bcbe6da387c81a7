// The rsync server's accounts: the "auth users" line, the secrets file, and the daemon's stop and
// start around every change.
#include <sys/stat.h>

#include <string>

#include <gtest/gtest.h>

#include "case_label.h"
#include "korv/backup.h"
#include "korvtest.h"

using namespace korvtest;

namespace {

const char *const kCalls = "/tmp/rsyncd.calls";

// The daemon's start-up script: records each call; fails "stop" or "start" when told to.
void InstallRcScript()
{
    write_file(KORV_RSYNCD_SCRIPT,
               "#!/bin/sh\n"
               "echo \"$*\" >>/tmp/rsyncd.calls\n"
               "[ -e \"/tmp/rsyncd.fail.$1\" ] && exit 1\n"
               "exit 0\n",
               0755);
}

struct AccountCase {
    const char *name;
    const char *conf;     // /etc/rsyncd.conf before; null: missing
    const char *secrets;  // /etc/rsyncd.secrets before; null: missing
    int op;
    const char *oldName;
    const char *newName;
    const char *secret;
    int result;
    const char *confAfter;     // null: as before
    const char *secretsAfter;  // null: as before
    const char *calls;         // the script's calls
};

// 123 characters: read, but with ",rsync" over 127. And one of 128, too long to read.
const std::string kLong = "auth users = " + std::string(110, 'u') + "\n";
const std::string kTooLong = "auth users = " + std::string(115, 'u') + "\n";

const AccountCase kAccountCases[] = {
    {"AddRsyncBesideRoot", "uid = root\nauth users = root\n", "root:r1\n", KORV_RSYNC_OP_ADD, nullptr, "rsync", "s2",
     0, "uid = root\nauth users = root,rsync\nsecrets file = /etc/rsyncd.secrets\n", "root:r1\nrsync:s2\n",
     "stop\nstart\n"},
    {"AddListedAppendsASecondSecret", "auth users = root\nsecrets file = /etc/rsyncd.secrets\n", "root:r1\n",
     KORV_RSYNC_OP_ADD, nullptr, "ROOT", "r2", 0, nullptr, "root:r1\nROOT:r2\n", "stop\nstart\n"},
    {"AdminIsRoot", "auth users = rsync\n", "rsync:x\n", KORV_RSYNC_OP_ADD, nullptr, "admin", "a1", 0,
     "auth users = rsync,root\nsecrets file = /etc/rsyncd.secrets\n", "rsync:x\nroot:a1\n", "stop\nstart\n"},
    {"DeleteLastLeavesEmptyLine", "auth users = root\n", "rootx:keep\nroot:r1\n", KORV_RSYNC_OP_DELETE, "root",
     nullptr, nullptr, 0, "auth users =\nsecrets file = /etc/rsyncd.secrets\n", "rootx:keep\n", "stop\nstart\n"},
    {"AddToEmptyLineKeepsEmptyField", "auth users =\n", "", KORV_RSYNC_OP_ADD, nullptr, "rsync", "s", 0,
     "auth users = ,rsync\nsecrets file = /etc/rsyncd.secrets\n", "rsync:s\n", "stop\nstart\n"},
    {"DeleteUnlistedStillDropsSecret", "auth users = root\n", "rsync:s\n", KORV_RSYNC_OP_DELETE, "rsync", nullptr,
     nullptr, 0, "auth users = root\nsecrets file = /etc/rsyncd.secrets\n", "", "stop\nstart\n"},
    {"DeleteWithoutLineAddsNone", "uid = root\n", "rsync:s\n", KORV_RSYNC_OP_DELETE, "rsync", nullptr, nullptr, 0,
     "uid = root\nsecrets file = /etc/rsyncd.secrets\n", "", "stop\nstart\n"},
    {"AddWithoutLineAppendsOne", "uid = root\n", "", KORV_RSYNC_OP_ADD, nullptr, "rsync", "s", 0,
     "uid = root\nauth users = rsync\nsecrets file = /etc/rsyncd.secrets\n", "rsync:s\n", "stop\nstart\n"},
    {"ChangeReplacesNameAndSecret", "auth users = Root,rsync\n", "root:old\nrsync:s\n", KORV_RSYNC_OP_CHANGE, "root",
     "root", "new", 0, "auth users = root,rsync\nsecrets file = /etc/rsyncd.secrets\n", "root:new\nrsync:s\n",
     "stop\nstart\n"},
    {"ChangeWithoutOldSecretAppends", "auth users = root\n", "rsync:s\n", KORV_RSYNC_OP_CHANGE, "root", "root", "n",
     0, "auth users = root\nsecrets file = /etc/rsyncd.secrets\n", "rsync:s\nroot:n\n", "stop\nstart\n"},
    // The line replaced is the line found, even when another begins with the same words.
    {"IndentedLineKeepsItsIndent", "\tauth users = root\nauth users = other\n", "", KORV_RSYNC_OP_ADD, nullptr,
     "rsync", "s", 0, "\tauth users = root,rsync\nauth users = other\nsecrets file = /etc/rsyncd.secrets\n",
     "rsync:s\n", "stop\nstart\n"},
    // A rebuilt line that would not fit its 128-byte buffer is refused; the daemon comes back.
    {"LineThatWouldGrowTooLong", kLong.c_str(), "", KORV_RSYNC_OP_ADD, nullptr, "rsync", "s", -1, nullptr, nullptr,
     "stop\nstart\n"},
    {"LineTooLongToRead", kTooLong.c_str(), "", KORV_RSYNC_OP_DELETE, "root", nullptr, nullptr, -1,
     nullptr, nullptr, "stop\nstart\n"},
    {"MissingConfStartsDaemonAgain", nullptr, "root:r\n", KORV_RSYNC_OP_ADD, nullptr, "rsync", "s", -1, nullptr,
     nullptr, "stop\nstart\n"},
    // Names that do not fit the secrets key would match other accounts: refused before the stop.
    {"NameTooLongForTheKey", "auth users = root\n", "", KORV_RSYNC_OP_ADD, nullptr, "fifteen_letters", "s", -1,
     nullptr, nullptr, ""},
    {"DeleteNeedsOldName", "auth users = root\n", "", KORV_RSYNC_OP_DELETE, nullptr, "root", nullptr, -1, nullptr,
     nullptr, ""},
    {"AddNeedsSecret", "auth users = root\n", "", KORV_RSYNC_OP_ADD, nullptr, "root", nullptr, -1, nullptr, nullptr,
     ""},
    {"UnknownOperation", "auth users = root\n", "", 4, "root", "root", "s", -1, nullptr, nullptr, ""},
};

class RsyncAccounts : public testing::TestWithParam<AccountCase> {};

void PrintTo(const AccountCase &c, std::ostream *os)
{
    *os << c.name;
}

TEST_P(RsyncAccounts, FilesAndDaemon)
{
    const AccountCase &c = GetParam();
    InstallRcScript();
    if (c.conf)
        write_file(KORV_RSYNCD_CONF, c.conf);
    if (c.secrets)
        write_file(KORV_RSYNCD_SECRETS, c.secrets, 0600);
    EXPECT_EQ(c.result, KORVNetBackupSetServerPasswd(c.oldName, c.newName, c.secret, c.op));
    if (c.conf) {
        EXPECT_EQ(c.confAfter ? c.confAfter : c.conf, read_file(KORV_RSYNCD_CONF));
    } else {
        EXPECT_FALSE(file_exists(KORV_RSYNCD_CONF));
    }
    if (c.secrets) {
        EXPECT_EQ(c.secretsAfter ? c.secretsAfter : c.secrets, read_file(KORV_RSYNCD_SECRETS));
    }
    EXPECT_EQ(c.calls, read_file(kCalls));
    if (c.result == 0 && c.op != KORV_RSYNC_OP_DELETE) {
        struct stat st;
        ASSERT_EQ(0, stat(KORV_RSYNCD_SECRETS, &st));
        EXPECT_EQ(0640u, st.st_mode & 07777);
        EXPECT_EQ(0u, st.st_uid);
        EXPECT_EQ(25u, st.st_gid);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, RsyncAccounts, testing::ValuesIn(kAccountCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(RsyncSecrets, NewFileIsPrivateFromItsFirstByte)
{
    // The library's own umask must not decide who reads the secrets.
    InstallRcScript();
    write_file(KORV_RSYNCD_CONF, "auth users = root\n");
    mode_t old = umask(0);
    EXPECT_EQ(0, KORVNetBackupSetServerPasswd(nullptr, "rsync", "hash|cipher", KORV_RSYNC_OP_ADD));
    umask(old);
    struct stat st;
    ASSERT_EQ(0, stat(KORV_RSYNCD_SECRETS, &st));
    EXPECT_EQ(0640u, st.st_mode & 07777);
    EXPECT_EQ(0u, st.st_uid);
    EXPECT_EQ(25u, st.st_gid);
    EXPECT_EQ("rsync:hash|cipher\n", read_file(KORV_RSYNCD_SECRETS));
}

TEST(RsyncSecrets, FailedStartIsOnlyLogged)
{
    InstallRcScript();
    write_file("/tmp/rsyncd.fail.start", "");
    write_file("/tmp/rsyncd.fail.stop", "");
    write_file(KORV_RSYNCD_CONF, "auth users = root\n");
    EXPECT_EQ(0, KORVNetBackupSetServerPasswd(nullptr, "rsync", "s", KORV_RSYNC_OP_ADD));
    EXPECT_EQ("stop\nstart\n", read_file(kCalls));
    EXPECT_TRUE(syslog_has_pattern("netbkp_set_server_passwd.cpp KORVNetBackupSetServerPasswd(<L>): failed to stop "
                                   "S84rsyncd.sh."))
        << syslog_dump();
    EXPECT_TRUE(syslog_has_pattern("netbkp_set_server_passwd.cpp:<L>(KORVNetBackupSetServerPasswd): failed to start "
                                   "S84rsyncd.sh."))
        << syslog_dump();
}

TEST(RsyncSecrets, GetReadsTheLineThatBeginsWithTheName)
{
    write_file(KORV_RSYNCD_SECRETS, "xroot:wrong\nroot:$1$a:b|c\nrsync:r\n");
    char buf[64];
    ASSERT_EQ(0, KORVNetBackupGetServerPasswd("admin", buf, sizeof buf));
    EXPECT_STREQ("$1$a:b|c", buf);
    ASSERT_EQ(0, KORVNetBackupGetServerPasswd("root", buf, 4));
    EXPECT_STREQ("$1$", buf);
    EXPECT_EQ(-1, KORVNetBackupGetServerPasswd("nobody", buf, sizeof buf));
    EXPECT_EQ(-1, KORVNetBackupGetServerPasswd("rsync", buf, 0));
    EXPECT_EQ(-1, KORVNetBackupGetServerPasswd("fifteen_letters", buf, sizeof buf));
    EXPECT_EQ(-1, KORVNetBackupGetServerPasswd(nullptr, buf, sizeof buf));
}

TEST(RsyncSecrets, DeleteSecret)
{
    EXPECT_EQ(-1, NetBackupDelSecret("root"));  // no secrets file
    write_file(KORV_RSYNCD_SECRETS, "admin:a\nroot:r\nroot:r2\n");
    EXPECT_EQ(0, NetBackupDelSecret("root"));
    EXPECT_EQ("admin:a\nroot:r2\n", read_file(KORV_RSYNCD_SECRETS));
    EXPECT_EQ(0, NetBackupDelSecret("nobody"));
    EXPECT_EQ(-1, NetBackupDelSecret(nullptr));
}

struct ReservedCase {
    const char *name;
    int reserved;
};

const ReservedCase kReservedCases[] = {
    {"ADMIN", 1}, {"Root", 1}, {"rsync", 1}, {"rsync2", 0}, {"roo", 0}, {"", 0}, {"guest", 0},
};

class ReservedName : public testing::TestWithParam<ReservedCase> {};

TEST_P(ReservedName, Matches)
{
    EXPECT_EQ(GetParam().reserved, KORVNetBkpReservedName(GetParam().name));
}

INSTANTIATE_TEST_SUITE_P(Names, ReservedName, testing::ValuesIn(kReservedCases),
                         [](const auto &info) { return label(info.param.name); });

TEST(ReservedNameNull, IsNotReserved)
{
    EXPECT_EQ(0, KORVNetBkpReservedName(nullptr));
}

TEST(NetBkpCryptPass, ClassicCryptWithFixedSalt)
{
    char buf[32];
    ASSERT_EQ(0, KORVNetBkpCryptPass("secret", buf, sizeof buf));
    EXPECT_STREQ("kt8UZ/CRzQ8DI", buf);
    ASSERT_EQ(0, KORVNetBkpCryptPass("password", buf, 5));
    EXPECT_STREQ("ktsu", buf);
    EXPECT_EQ(-1, KORVNetBkpCryptPass("secret", buf, 0));
    EXPECT_EQ(-1, KORVNetBkpCryptPass("secret", buf, -1));
    EXPECT_EQ(-1, KORVNetBkpCryptPass(nullptr, buf, sizeof buf));
    EXPECT_EQ(-1, KORVNetBkpCryptPass("secret", nullptr, 4));
}

}  // namespace
