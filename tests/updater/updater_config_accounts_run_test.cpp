// Whole runs around the thresholds of the configuration stage's account, bond and SqueezeCenter
// steps: each step changes its files on the builds it covers and leaves them alone above.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>

#include "account_checkers.h"
#include "device_net.h"
#include "device_tree.h"
#include "korv/group.h"
#include "korv/user.h"
#include "korvtest.h"
#include "updater_run.h"

using namespace korvtest;

namespace {

const char kPkgSys[] = "/var/packages/SqueezeCenter/target/MySQL/errmsg.sys";

struct RunCase {
    const char *build;
    bool homes, userConf, mail, bond, squeeze;  // which steps changed their files
};

void PrintTo(const RunCase &c, std::ostream *os)
{
    *os << "build " << c.build;
}

const RunCase kRunCases[] = {
    {"770", true, true, true, true, true},    {"771", false, false, true, true, true},
    {"775", false, false, true, true, true},  {"776", false, false, false, true, true},
    {"886", false, false, false, true, true}, {"887", false, false, false, false, true},
    {"888", false, false, false, false, false},
};

struct Files {
    std::string passwd, shadow, group, userConf, bond;
    bool squeezeIsLink;
};

Files snapshot()
{
    struct stat st;
    return {read_file(KORV_PASSWD_FILE),
            read_file(KORV_SHADOW_FILE),
            read_file(KORV_GROUP_FILE),
            read_file(KORV_USER_CONF_FILE),
            network_scripts()["ifcfg-bond0"],
            lstat(kPkgSys, &st) == 0 && S_ISLNK(st.st_mode)};
}

class ConfigAccountsRun : public testing::TestWithParam<RunCase> {};

TEST_P(ConfigAccountsRun, StepsChangeTheirFilesOnTheirBuildsOnly)
{
    const RunCase &c = GetParam();
    UpdateTree tree;
    tree.identity.buildnumber = c.build;
    tree.package.buildnumber = "1000";
    tree.package.images["zImage"] = 0x8000;
    build_update_tree(tree);
    build_bonded_network(kModeAlb);
    write_file(KORV_PASSWD_FILE, read_file(KORV_PASSWD_FILE) + "bob:x:1026:100::/volume1/homes/bob:/bin/sh\n");
    write_file(KORV_SHADOW_FILE, read_file(KORV_SHADOW_FILE) + "bob:*:14000:0:99999:7:::\n", 0600);
    write_key_values("/etc/mail", {{"bob", "bob@example.com"}});
    write_file(kPkgSys, "package's copy\n");
    const Files before = snapshot();

    auto r = updatertest::run_updater();
    ASSERT_EQ(r.status, 0) << syslog_dump();
    const Files after = snapshot();

    EXPECT_EQ(after.passwd.find("bob:x:1026:100::/var/services/homes/bob:/bin/sh\n") != std::string::npos, c.homes);
    EXPECT_EQ(after.userConf, c.userConf ? "bob:3:bob@example.com\n" : before.userConf);
    EXPECT_EQ(after.group.find("postfix:x:125:postfix\n") != std::string::npos, c.mail) << after.group;
    EXPECT_EQ(after.shadow.find("dovecot:*:10933:0:99999:7:::\n") != std::string::npos, c.mail) << after.shadow;
    if (!c.homes && !c.mail) {
        EXPECT_EQ(after.passwd, before.passwd);
        EXPECT_EQ(after.shadow, before.shadow);
        EXPECT_EQ(after.group, before.group);
    }
    EXPECT_EQ(after.bond != before.bond, c.bond) << after.bond;
    EXPECT_EQ(after.bond.find("mode=active-backup") != std::string::npos, c.bond) << after.bond;
    EXPECT_EQ(after.squeezeIsLink, c.squeeze);

    if (c.homes && c.mail) {
        updatertest::expect_checkers_accept();
    }
}

INSTANTIATE_TEST_SUITE_P(Thresholds, ConfigAccountsRun, testing::ValuesIn(kRunCases),
                         [](const testing::TestParamInfo<RunCase> &i) { return std::string("build_") + i.param.build; });

}  // namespace
