// The backup of the flash: every partition of the directory as one file of "b@ckup", made anew
// for each run, with its progress; and what stops it.
#include <errno.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "device_tree.h"
#include "flash_tree.h"
#include "korv/simctl.h"
#include "korvtest.h"
#include "progress_recorder.h"
#include "updater_flash.h"
#include "updater_patch.h"

namespace ctl = korvsim::ctl;
using updatertest::ProgressValue;

namespace {

std::string bytes_of(const std::vector<uint8_t> &v)
{
    return std::string(v.begin(), v.end());
}

std::vector<ProgressValue> backup_values(int entries)
{
    std::vector<ProgressValue> v;
    for (int i = 0; i < entries; ++i)
        v.push_back({'P', 30 + 5 * i});
    return v;
}

struct Layout {
    const char *name;
    bool junior;
    std::vector<std::string> files;
};

void PrintTo(const Layout &l, std::ostream *os)
{
    *os << l.name;
}

class Backup : public testing::TestWithParam<Layout> {};

TEST_P(Backup, EveryPartitionWhole)
{
    const Layout &l = GetParam();
    korvtest::RedBootOptions flash;
    flash.junior = l.junior;
    auto parts = korvtest::build_redboot_flash(flash);
    korvtest::build_package({});
    updatertest::enter_layout(l.junior);
    // What an earlier run left is not kept.
    korvtest::write_file("/volume1/upd@te/b@ckup/mtd_stale", "old");
    auto entries = updatertest::read_directory();
    korvtest::syslog_clear();

    updatertest::ProgressRecorder progress;
    ASSERT_EQ(UPDTBackupOldPartition(entries.data(), static_cast<int>(entries.size())), 0)
        << korvtest::syslog_dump();
    EXPECT_EQ(progress.stop(), backup_values(static_cast<int>(l.files.size())));

    EXPECT_FALSE(korvtest::file_exists("/volume1/upd@te/b@ckup/mtd_stale"));
    ASSERT_EQ(parts.size(), l.files.size());
    for (const auto &p : parts) {
        std::string file = "/volume1/upd@te/b@ckup/mtd_" + p.name;
        EXPECT_NE(std::find(l.files.begin(), l.files.end(), "mtd_" + p.name), l.files.end()) << p.name;
        EXPECT_EQ(korvtest::read_file(file), bytes_of(ctl::read_window(p.index))) << file;
    }
    EXPECT_TRUE(korvtest::syslog_has_pattern(
        "szCmd=[/bin/rm -rf /volume1/upd@te/b@ckup; /bin/mkdir -p /volume1/upd@te/b@ckup]"));
    std::string config = l.junior ? "4" : "6";
    EXPECT_TRUE(korvtest::syslog_has_pattern("UPDTBackupOldPartition(<L>): command=[/bin/dd if=\"/dev/mtd" + config +
                                             "\" of=\"/volume1/upd@te/b@ckup/mtd_RedBoot Config\" bs=16384]"))
        << korvtest::syslog_dump();
}

INSTANTIATE_TEST_SUITE_P(Layouts, Backup,
                         testing::Values(Layout{"EightPartitions", false,
                                                {"mtd_RedBoot", "mtd_zImage", "mtd_rd.gz", "mtd_AllLib.tgz",
                                                 "mtd_vendor", "mtd_korvcfg", "mtd_RedBoot Config",
                                                 "mtd_FIS Directory"}},
                                         Layout{"Junior", true,
                                                {"mtd_RedBoot", "mtd_zImage", "mtd_rd.gz", "mtd_vendor",
                                                 "mtd_RedBoot Config", "mtd_FIS Directory"}}),
                         [](const auto &info) { return std::string(info.param.name); });

// The shell reads nothing of a working directory's name inside the dd commands.
TEST(BackupPaths, HostileWorkingDirectory)
{
    korvtest::build_redboot_flash();
    korvtest::Package package;
    package.dir = "/volume1/it's \"new\" $(touch /tmp/pwned) `x` \\";
    korvtest::build_package(package);
    updatertest::enter_layout(false);
    snprintf(gszWorkDir, sizeof gszWorkDir, "%s", package.dir.c_str());
    auto entries = updatertest::read_directory();
    ASSERT_EQ(UPDTBackupOldPartition(entries.data(), static_cast<int>(entries.size())), 0)
        << korvtest::syslog_dump();
    EXPECT_EQ(korvtest::read_file(package.dir + "/b@ckup/mtd_zImage"), bytes_of(ctl::read_window(1)));
    EXPECT_FALSE(korvtest::file_exists("/tmp/pwned"));
}

struct FailCase {
    std::string name;
    std::function<void()> setup;  // after the flash and the package
    int files;                    // backup files made before it stopped
    std::vector<ProgressValue> progress;
    std::string message;          // "<L>": a line number
};

void PrintTo(const FailCase &c, std::ostream *os)
{
    *os << c.name;
}

std::vector<FailCase> FailCases()
{
    return {
        {"DdFailsOnTheFourthDevice", [] { updatertest::install_failing_dd("if=/dev/mtd3"); }, 3, backup_values(3),
         "UPDTExecute(<L>): failed to execute cmd=[/bin/dd if=\"/dev/mtd3\" of=\"/volume1/upd@te/b@ckup/"
         "mtd_AllLib.tgz\" bs=16384], ret = 1"},
        {"DirectoryListsAPartitionWithoutDevice",
         [] {
             auto fis = ctl::read_fis(7);
             fis.insert(fis.begin() + 2, {"extra", 0xFF800000, 0xFF800000, 0x10000});
             ASSERT_TRUE(ctl::write_fis(7, fis));
         },
         2, backup_values(2), "UPDTBackupOldPartition(<L>): fail to get device path"},
        {"NameOfSixteenBytesIsNoTemplateName",
         [] {
             auto fis = ctl::read_fis(7);
             fis[0].name = "RedBoot.and.more";
             ASSERT_TRUE(ctl::write_fis(7, fis));
         },
         0, {}, "SzUPDTGetDeviceByName(<L>): unknown partition name [RedBoot.and.more]"},
        {"BackupDirectoryCannotBeMade",
         [] {
             korvtest::write_file("/volume1/upd@te/b@ckup", "a file in the way");
             ASSERT_TRUE(korvtest::mount_read_only("/volume1/upd@te"));
         },
         0, {}, "UPDTExecute(<L>): failed to execute cmd=[/bin/rm -rf /volume1/upd@te/b@ckup; /bin/mkdir -p "
                "/volume1/upd@te/b@ckup], ret = 1"},
    };
}

class BackupFails : public testing::TestWithParam<FailCase> {};

TEST_P(BackupFails, StopsAtTheFirstFailure)
{
    const FailCase &c = GetParam();
    korvtest::build_redboot_flash();
    korvtest::build_package({});
    c.setup();
    updatertest::enter_layout(false);
    auto entries = updatertest::read_directory();
    korvtest::syslog_clear();
    updatertest::ProgressRecorder progress;
    EXPECT_EQ(UPDTBackupOldPartition(entries.data(), static_cast<int>(entries.size())), -1);
    EXPECT_EQ(progress.stop(), c.progress);
    EXPECT_TRUE(korvtest::syslog_has_pattern(c.message)) << korvtest::syslog_dump();
    int made = 0;
    for (const auto &e : entries)
        made += korvtest::file_exists("/volume1/upd@te/b@ckup/mtd_" + UPDTEntryName(e)) ? 1 : 0;
    EXPECT_EQ(made, c.files);
}

INSTANTIATE_TEST_SUITE_P(Cases, BackupFails, testing::ValuesIn(FailCases()),
                         [](const auto &info) { return info.param.name; });

TEST(BackupArguments, AreChecked)
{
    updatertest::enter_layout(false);
    KORVMTDFISENTRY one {};
    EXPECT_EQ(UPDTBackupOldPartition(nullptr, 1), -1);
    EXPECT_EQ(UPDTBackupOldPartition(&one, 0), -1);
    EXPECT_TRUE(korvtest::syslog_has_pattern("UPDTBackupOldPartition(<L>): parameter error "));
    EXPECT_FALSE(korvtest::file_exists("/volume1/upd@te/b@ckup"));
}

}  // namespace
