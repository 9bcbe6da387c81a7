// The configuration stage in whole runs: a file that the stage must remove and cannot fails the
// run with code 17 and rolls the flash back, on the builds the step covers and only there.
#include <gtest/gtest.h>

#include <string>

#include "device_tree.h"
#include "flash_tree.h"
#include "korvtest.h"
#include "updater_run.h"

using korvtest::UpdateTree;

namespace {

struct StageCase {
    const char *name;
    const char *build;  // the installed build
    const char *path;   // made a folder with a file in it: unlink cannot remove it
    int status;
    const char *message;  // the stage's line for it ("" when the step does not run)
    bool installer = false;  // the run inside the installer environment
};

void PrintTo(const StageCase &c, std::ostream *os)
{
    *os << c.name;
}

class ConfigStage : public testing::TestWithParam<StageCase> {};

TEST_P(ConfigStage, UnremovableFileEndsTheRunWithTheFlashRolledBack)
{
    const StageCase &c = GetParam();
    UpdateTree tree;
    tree.identity.buildnumber = c.build;
    tree.installer = c.installer;
    tree.package.images["zImage"] = 0x8000;
    korvtest::build_update_tree(tree);
    korvtest::make_dirs(c.path);
    korvtest::write_file(std::string(c.path) + "/kept", "x");
    updatertest::FlashPicture before = updatertest::picture(false);

    auto r = updatertest::run_updater();
    EXPECT_EQ(r.status, c.status) << korvtest::syslog_dump();
    updatertest::FlashPicture after = updatertest::picture(false);
    if (c.status == 0) {
        EXPECT_FALSE(korvtest::syslog_contains("UPDTUpdateConfig"));
        return;
    }
    EXPECT_EQ(r.progress, updatertest::progress('C', -17));
    EXPECT_TRUE(korvtest::syslog_has_pattern(c.message)) << korvtest::syslog_dump();
    for (const auto &part : updatertest::layout_parts(false))
        EXPECT_EQ(updatertest::holds_old(before, after, part), "") << part.name;
    EXPECT_TRUE(korvtest::file_exists(std::string(c.path) + "/kept"));
}

const StageCase kCases[] = {
    {"rc_atalk_at_107", "107", "/usr/korv/etc/rc.atalk", 17, "updater:<L>(UPDTUpdateConfig) Failed to update [/usr/korv/etc/rc.atalk], errno=(21)[Is a directory]"},
    {"rc_atalk_at_108", "108", "/usr/korv/etc/rc.atalk", 0, ""},
    {"papd_conf_at_210", "210", "/usr/korv/etc/papd.conf", 17, "updater:<L>(UPDTUpdateConfig) Failed to update [/usr/korv/etc/papd.conf], errno=(21)[Is a directory]"},
    {"papd_conf_at_211", "211", "/usr/korv/etc/papd.conf", 0, ""},
    {"profile_at_250", "250", "/etc/profile", 17, "updater:<L>(UPDTUpdateConfig) Failed to remove /etc/profile, errno=(21)[Is a directory]"},
    {"profile_at_251", "251", "/etc/profile", 0, ""},
    {"jumbo_frame_rc_at_251", "251", "/usr/korv/etc/rc.d/S78JumboFrame.sh", 17, "updater:<L>(UPDTUpdateConfig) Failed to remove /usr/korv/etc/rc.d, errno=(21)[Is a directory]"},
    {"jumbo_frame_rc_at_252", "252", "/usr/korv/etc/rc.d/S78JumboFrame.sh", 0, ""},
    {"manutil_conf_on_every_build", "351", "/usr/korv/etc/manutil.conf", 17, "updater:<L>(UPDTUpdateConfig) Failed to update [/usr/korv/etc/manutil.conf], errno=(21)[Is a directory]"},
    {"manutil_conf_in_the_installer", "351", "/usr/korv/etc/manutil.conf", 17, "updater:<L>(UPDTUpdateConfig) Failed to update [/usr/korv/etc/manutil.conf], errno=(21)[Is a directory]", true},
};

INSTANTIATE_TEST_SUITE_P(Thresholds, ConfigStage, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<StageCase> &i) { return std::string(i.param.name); });

// The steps of every update that only log: a php.ini that stays and a crontab that cannot be
// filtered leave the run successful, the crontab's old lines gone where it could be.
TEST(ConfigStageEveryUpdate, OnlyLoggedStepsLeaveTheRunSuccessful)
{
    UpdateTree tree;
    tree.package.images["zImage"] = 0x8000;
    korvtest::build_update_tree(tree);
    korvtest::make_dirs("/usr/korv/etc/php.ini");
    korvtest::write_file("/usr/korv/etc/php.ini/kept", "x");
    korvtest::write_file("/etc/crontab", "0 2 * * * root /usr/korv/pgsql/bin/vacuumdb -a -z\n"
                                         "0 1 * * 1 root /usr/korv/bin/localbkp -s MyBackupSet\n");

    auto r = updatertest::run_updater();
    EXPECT_EQ(r.status, 0) << korvtest::syslog_dump();
    EXPECT_TRUE(korvtest::syslog_has_pattern(
        "updater:<L>(UPDTUpdateConfig) Failed to remove /usr/korv/etc/php.ini, errno=(21)[Is a directory]"))
        << korvtest::syslog_dump();
    EXPECT_EQ(korvtest::read_file("/etc/crontab"), "0 1 * * 1 root /usr/korv/bin/localbkp -s MyBackupSet\n");
}

}  // namespace
