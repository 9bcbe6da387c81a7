// The model tests, RAID arrays over the md requests and sysfs, and disk partitions from sfdisk.
#include <syslog.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device_tree.h"
#include "korv/error.h"
#include "korv/raid.h"
#include "korv/simctl.h"
#include "korvtest.h"

namespace ctl = korvsim::ctl;
using korvtest::write_file;

namespace {

TEST(JuniorModel, FromTheIdentityOrTheHardwareVersion)
{
    struct Case {
        const char *unique;    // nullptr: no key
        const char *hwLine;    // nullptr: no file
        int junior;
    };
    const Case cases[] = {
        {"korvadyn_powerpc_410v+_1hd", "VMH-110-j\n", 1},
        {"korvadyn_powerpc_410v+_1hd", "VMH-410\n", 0},
        {"korvadyn_powerpc_410v+_1hd", "-j\n", 1},
        {"korvadyn_powerpc_410v+_1hd", "x-j", 0},   // the last character is cut, whatever it is
        {"korvadyn_powerpc_410v+_1hd", "j\n", 0},
        {"korvadyn_powerpc_410v+_1hd", nullptr, 0},
        {"korvadyn_powerpc_410v+_1hd", "", 0},
        {"pellorin_junior", "VMH-410\n", 1},
        {"sdkdebug_anything", "VMH-410\n", 1},
        {"vm_jr", "VMH-110-j\n", 0},                 // 5 characters: the hardware is not asked
        {nullptr, "VMH-110-j\n", 0},
    };
    for (const Case &c : cases) {
        write_file("/etc.defaults/korvinfo.conf", c.unique ? std::string("unique=\"") + c.unique + "\"\n" : "");
        unlink("/proc/sys/kernel/korv_hw_version");
        if (c.hwLine)
            korvtest::set_hw_version(c.hwLine);
        EXPECT_EQ(KORVIsJuniorModel(), c.junior) << (c.unique ? c.unique : "-") << " " << (c.hwLine ? c.hwLine : "-");
    }
}

TEST(SupportRaid, WhatGetKeyValuePrints)
{
    korvtest::install_get_key_value();
    struct Case {
        const char *file;
        int raid;
    };
    const Case cases[] = {
        {"supportraid=\"yes\"\n", 1},
        {"supportraid=\"YES\"\n", 1},
        {"supportraid=\"yes, two bays\"\n", 1},
        {"supportraid=\"no\"\n", 0},
        {"supportraid=\"ye\"\n", 0},
        {"other=\"yes\"\n", 0},  // nothing printed
    };
    for (const Case &c : cases) {
        write_file("/etc.defaults/korvinfo.conf", c.file);
        EXPECT_EQ(KORVConfSupportRaid(), c.raid) << c.file;
    }
    EXPECT_EQ(korvtest::program_runs("get_key_value").back(),
              "get_key_value /etc.defaults/korvinfo.conf supportraid");
    unlink("/bin/get_key_value");
    EXPECT_EQ(KORVConfSupportRaid(), 0);
}

// An sfdisk that prints one given line for any partition.
void sfdisk_prints(const std::string &line)
{
    write_file("/sbin/sfdisk", "#!/bin/sh\necho \"$*\" >> /tmp/sfdisk.args\nprintf '%s' '" + line + "'\n", 0755);
}

TEST(PartitionConfigs, ReadsTheFirstLine)
{
    struct Case {
        const char *line;
        int64_t sectors;
        unsigned start, type;
    };
    const Case cases[] = {
        {"/dev/hda1          63    530144    530082  83  Linux\n", 530082, 63, 0x83},
        {"/dev/hda2\t530145\t1333331\t803187\tfd\tLinux raid\n", 803187, 530145, 0xFD},
        {"/dev/hda1 63 530144 530082 83 \n", 530082, 63, 0x83},
        {"/dev/hda1 4294967295 1 8589934592 0 x\n", 8589934592LL, 4294967295u, 0},
        {"/dev/hda1 63 530144 530082 83\n", -1, 0, 0},   // the type id is the last field
        {"/dev/hda1 63 530144\n", -1, 0, 0},
        {"", -1, 0, 0},
    };
    for (const Case &c : cases) {
        sfdisk_prints(c.line);
        unsigned start = 7, type = 7;
        EXPECT_EQ(RCPartitionConfigs(1, "/dev/hda", &start, &type), c.sectors) << c.line;
        EXPECT_EQ(start, c.sectors < 0 ? 7u : c.start) << c.line;
        EXPECT_EQ(type, c.sectors < 0 ? 7u : c.type) << c.line;
    }
}

TEST(PartitionConfigs, CommandLineAndRefusedArguments)
{
    sfdisk_prints("/dev/hda3 1333332 19333331 18000000 83 Linux\n");
    unsigned start = 0, type = 0;
    EXPECT_EQ(RCPartitionConfigs(3, "/dev/hda", &start, &type), 18000000);
    EXPECT_EQ(RCPartitionConfigs(1, "hda", &start, &type), 18000000);
    EXPECT_EQ(korvtest::read_file("/tmp/sfdisk.args"), "-l -uS -N3 /dev/hda\n-l -uS -N1 /dev/hda\n");
    unlink("/tmp/sfdisk.args");
    EXPECT_EQ(RCPartitionConfigs(0, "/dev/hda", &start, &type), -1);
    EXPECT_EQ(RCPartitionConfigs(1, nullptr, &start, &type), -1);
    EXPECT_EQ(RCPartitionConfigs(1, "hda; touch /tmp/pwned", &start, &type), -1);
    EXPECT_EQ(RCPartitionConfigs(1, "/dev/$(touch /tmp/pwned)", &start, &type), -1);
    EXPECT_EQ(RCPartitionConfigs(1, std::string(40, 'h').c_str(), &start, &type), -1);  // does not fit 64 bytes
    EXPECT_FALSE(korvtest::file_exists("/tmp/sfdisk.args"));  // nothing was run
    EXPECT_FALSE(korvtest::file_exists("/tmp/pwned"));
}

TEST(PartitionConfigs, TheTreesSfdisk)
{
    korvtest::install_sfdisk();
    unsigned start = 0, type = 0;
    EXPECT_EQ(RCPartitionConfigs(1, "/dev/hda", &start, &type), 530082);
    EXPECT_EQ(start, 63u);
    EXPECT_EQ(RCPartitionConfigs(2, "/dev/hda", &start, &type), 803187);
    EXPECT_EQ(type, 0x82u);
    EXPECT_EQ(RCPartitionConfigs(4, "/dev/hda", &start, &type), -1);
    EXPECT_EQ(RCPartitionConfigs(1, "/dev/sda", &start, &type), -1);
}

// An md array of the simulated kernel with its sysfs member directories.
class RaidInfo : public testing::Test {
protected:
    void SetUp() override { korvtest::syslog_clear(); }

    // Array with md level and slot count, members given as {name, state line, slot}.
    KORVRAIDINFO *Get(int level, int raidDisks, const std::vector<korvtest::RaidMember> &members,
                      uint64_t size = 1ull << 31)
    {
        korvtest::RaidArray md;
        md.level = level;
        md.raid_disks = raidDisks;
        md.members = members;
        md.size_bytes = size;
        korvtest::install_raid_array(md);
        KORVRAIDINFO *info = nullptr;
        EXPECT_EQ(KORVRaidInfoGet("/dev/md0", &info), 1) << korvtest::syslog_dump();
        return info;
    }
};

TEST_F(RaidInfo, StatusFromTheMembers)
{
    struct Case {
        const char *name;
        int level, slots;
        std::vector<korvtest::RaidMember> members;
        int status;
    };
    const Case cases[] = {
        {"Raid5AllInSync", 5, 4, {{"sda5"}, {"sdb5"}, {"sdc5"}, {"sdd5"}}, KORV_RAID_STATUS_NORMAL},
        {"Raid5OneFaulty", 5, 4, {{"sda5"}, {"sdb5"}, {"sdc5"}, {"sdd5", "faulty"}}, KORV_RAID_STATUS_DEGRADED},
        {"Raid5TwoInSync", 5, 4, {{"sda5"}, {"sdb5"}}, KORV_RAID_STATUS_CRASHED},
        {"ErrorMemberCrashes", 5, 1, {{"sda5"}, {"sdb5", "in_sync,error"}}, KORV_RAID_STATUS_CRASHED},
        {"Raid1OneOfTwo", 1, 2, {{"sda5"}}, KORV_RAID_STATUS_DEGRADED},
        {"Raid1OneOfThree", 1, 3, {{"sda5"}}, KORV_RAID_STATUS_DEGRADED},
        {"Raid6TwoMissing", 6, 5, {{"sda5"}, {"sdb5"}, {"sdc5"}}, KORV_RAID_STATUS_DEGRADED},
        {"Raid6ThreeMissing", 6, 5, {{"sda5"}, {"sdb5"}}, KORV_RAID_STATUS_CRASHED},
        {"Raid0MissingOne", 0, 2, {{"sda5"}}, KORV_RAID_STATUS_CRASHED},
        {"LinearMissingOne", -1, 2, {{"sda5"}}, KORV_RAID_STATUS_CRASHED},
        {"SpareCountsAsMissing", 5, 3, {{"sda5"}, {"sdb5"}, {"sdc5", "spare", "2"}}, KORV_RAID_STATUS_DEGRADED},
        {"NoMembers", 1, 2, {}, KORV_RAID_STATUS_CRASHED},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        korvtest::remove_tree("/sys/block/md0");
        KORVRAIDINFO *info = Get(c.level, c.slots, c.members);
        ASSERT_TRUE(info);
        EXPECT_EQ(info->status, c.status);
        KORVRaidInfoFree(info);
    }
}

TEST_F(RaidInfo, RecordFields)
{
    KORVRAIDINFO *info = Get(5, 3, {{"sda5"}, {"sdb5", "spare", "none"}, {"sdc5", "spare", "2"}, {"sdd5", "write_mostly"}},
                             3ull << 30);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->mdIndex, 0);
    EXPECT_STREQ(info->szPath, "/dev/md0");
    EXPECT_EQ(info->level, KORV_RAID_LEVEL_5);
    EXPECT_EQ(info->sizeBytes, 3ull << 30);
    EXPECT_EQ(info->arrayBytes, 3ll << 30);
    EXPECT_EQ(info->raidDisks, 3);
    // Members come in the reverse of their sorted directory names.
    std::vector<std::pair<std::string, int>> members;
    for (const KORVRAIDDISK *d = info->disks; d; d = d->next)
        members.emplace_back(d->path, d->state);
    const std::vector<std::pair<std::string, int>> expected = {{"/dev/sdd5", KORV_RAID_DISK_IN_SYNC},
                                                               {"/dev/sdc5", KORV_RAID_DISK_SPARE},
                                                               {"/dev/sdb5", KORV_RAID_DISK_SPARE_NONE},
                                                               {"/dev/sda5", KORV_RAID_DISK_IN_SYNC}};
    EXPECT_EQ(members, expected);
    EXPECT_EQ(info->diskLetter, -1);  // "d5": the second character is not a letter
    EXPECT_EQ(info->status, KORV_RAID_STATUS_DEGRADED);
    EXPECT_EQ(info->rebuild.state, KORV_RAID_REBUILD_NONE);
    KORVRaidInfoFree(info);
}

TEST_F(RaidInfo, LevelsAndDiskLetter)
{
    struct Case {
        int mdLevel, code;
    };
    for (Case c : {Case{-1, KORV_RAID_LEVEL_LINEAR}, Case{0, KORV_RAID_LEVEL_0}, Case{1, KORV_RAID_LEVEL_1},
                   Case{5, KORV_RAID_LEVEL_5}, Case{6, KORV_RAID_LEVEL_6}, Case{10, KORV_RAID_LEVEL_UNKNOWN}}) {
        korvtest::remove_tree("/sys/block/md0");
        KORVRAIDINFO *info = Get(c.mdLevel, 2, {{"sdbb"}, {"sdca"}});
        ASSERT_TRUE(info);
        EXPECT_EQ(info->level, c.code) << c.mdLevel;
        EXPECT_EQ(info->diskLetter, 2) << "first member /dev/sdca";
        KORVRaidInfoFree(info);
    }
    EXPECT_TRUE(korvtest::syslog_has_pattern("raid_info_get.cpp:<L> Not supported RAID level: 10", LOG_DEBUG));
    korvtest::remove_tree("/sys/block/md0");
    for (auto [member, letter] : std::vector<std::pair<std::string, int>>{{"sdab", 0}, {"sdb", -1}, {"hdaa", -1}}) {
        korvtest::remove_tree("/sys/block/md0");
        KORVRAIDINFO *info = Get(1, 2, {{member}});
        ASSERT_TRUE(info);
        EXPECT_EQ(info->diskLetter, letter) << member;
        KORVRaidInfoFree(info);
    }
}

TEST_F(RaidInfo, RebuildStates)
{
    struct Case {
        uint32_t due, done, total;
        KORVRAIDREBUILD expected;
    };
    const Case cases[] = {
        {0, 5, 9, {KORV_RAID_REBUILD_NONE, 0, 0}},
        {1, 0, 9, {KORV_RAID_REBUILD_PENDING, 0, 0}},
        {1, 300, 1000, {KORV_RAID_REBUILD_RUNNING, 300, 1000}},
    };
    for (const Case &c : cases) {
        korvtest::install_raid_array({});
        ctl::set_md_rebuild(0, c.due, c.done, c.total);
        KORVRAIDINFO *info = nullptr;
        ASSERT_EQ(KORVRaidInfoGet("/dev/md0", &info), 1);
        EXPECT_EQ(info->rebuild.state, c.expected.state);
        EXPECT_EQ(info->rebuild.done, c.expected.done);
        EXPECT_EQ(info->rebuild.total, c.expected.total);
        KORVRaidInfoFree(info);
    }
}

TEST_F(RaidInfo, FailuresLeaveNoRecord)
{
    KORVRAIDINFO *info = nullptr;
    KORLErrSet(0);
    EXPECT_EQ(KORVRaidInfoGet("/dev/hda1", &info), -1);
    EXPECT_EQ(KORLErrGet(), KORV_ERR_RAID_NOT_MD);
    EXPECT_EQ(KORVRaidInfoGet(nullptr, &info), -1);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
    EXPECT_EQ(KORVRaidInfoGet("/dev/md0", &info), -1);  // no such device node
    EXPECT_EQ(KORLErrGet(), KORL_ERR_OPEN);

    ctl::set_md_size(0, 0);  // the node, without a running array
    EXPECT_EQ(KORVRaidInfoGet("/dev/md0", &info), 0);
    EXPECT_EQ(info, nullptr);

    korvtest::install_raid_array({});
    ctl::fail_request("/dev/md0", "BLKGETSIZE64", EIO);
    EXPECT_EQ(KORVRaidInfoGet("/dev/md0", &info), -1);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_OTHER);
    EXPECT_TRUE(korvtest::syslog_has_pattern("raid_ioctl_size.cpp:<L> Failed to ioctl for raid size, errno=Input/output error",
                                             LOG_DEBUG));
    ctl::fail_request("/dev/md0", "GET_ARRAY_INFO", EIO);
    EXPECT_EQ(KORVRaidInfoGet("/dev/md0", &info), -1);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_OTHER);

    // A member without its state file.
    unlink("/sys/block/md0/md/dev-sdb1/state");
    EXPECT_EQ(KORVRaidInfoGet("/dev/md0", &info), -1);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_OPEN);
    EXPECT_TRUE(korvtest::syslog_has_pattern(
        "raid_disk_create.cpp:<L> Failed to get status from /sys/block/md0/md/dev-sdb1/state, errno=0X900", LOG_DEBUG));
    EXPECT_TRUE(korvtest::syslog_has_pattern(
        "raid_disk_create.cpp:<L> Failed to get status from /sys/block/md0/md/dev-sdb1, errno=0X900", LOG_DEBUG));
    EXPECT_EQ(info, nullptr);
}

TEST(RaidDisks, CreateAndReadLine)
{
    KORVRAIDDISK *disk = nullptr;
    KORLErrSet(0);
    EXPECT_EQ(KORVRaidDiskCreate("/sys/block/md0/md/rd-sda5", &disk), -1);
    EXPECT_EQ(KORLErrGet(), KORV_ERR_RAID_NO_DEV);
    write_file("/sys/block/md0/md/dev-sda5/state", "");
    EXPECT_EQ(KORVRaidDiskCreate("/sys/block/md0/md/dev-sda5", &disk), -1);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_READ);
    EXPECT_EQ(disk, nullptr);

    char line[8];
    write_file("/tmp/line", "in_sync\nsecond\n");
    EXPECT_EQ(RaidDiskFileReadLine("/tmp/line", line, sizeof line), 0);
    EXPECT_STREQ(line, "in_sync");  // at most size - 1 bytes
    char wide[32];
    EXPECT_EQ(RaidDiskFileReadLine("/tmp/line", wide, sizeof wide), 0);
    EXPECT_STREQ(wide, "in_sync\n");
    EXPECT_EQ(RaidDiskFileReadLine("/tmp/line", wide, 0), -1);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);

    KORVRAIDDISK *list = nullptr;
    EXPECT_EQ(KORVRaidDiskListGet("/dev/md3", &list), 0);  // no member directories
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(KORVRaidDiskListGet("/dev/sda", &list), -1);
    EXPECT_EQ(KORLErrGet(), KORV_ERR_RAID_NOT_MD);
}

TEST(RaidDecideStatus, RefusesNullArguments)
{
    KORVMDARRAYINFO array{};
    int status = 0;
    EXPECT_EQ(KORVRaidDecideStatus(nullptr, nullptr, &status), -1);
    EXPECT_EQ(KORVRaidDecideStatus(&array, nullptr, nullptr), -1);
}

}  // namespace
