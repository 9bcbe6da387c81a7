// The device-tree builders: identity files, kernel settings, flash layouts and the package.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "device_tree.h"
#include "korv/list.h"
#include "korv/platform.h"
#include "korv/share.h"
#include "korv/simctl.h"
#include "korv/user.h"
#include "korvtest.h"
#include "sz_list.h"

namespace ctl = korvsim::ctl;
using korvtest::read_file;

namespace {

TEST(DeviceTree, IdentityFilesAreKeyQuotedValueLines)
{
    korvtest::Identity id;
    id.unique = "pellorin_ixp420_1hd";
    id.buildnumber = "261";
    id.defaults = {{"supportraid", "yes"}};
    id.settings = {{"eth0_mtu", "9000"}};
    korvtest::install_identity(id);
    EXPECT_EQ(read_file("/etc.defaults/VERSION"),
              "buildnumber=\"261\"\nbuildphase=\"3\"\nmajorversion=\"2\"\nminorversion=\"0\"\n"
              "unique=\"pellorin_ixp420_1hd\"\n");
    EXPECT_EQ(read_file("/etc.defaults/korvinfo.conf"),
              "supportraid=\"yes\"\nunique=\"pellorin_ixp420_1hd\"\n");
    EXPECT_EQ(read_file("/etc/korvinfo.conf"), "eth0_mtu=\"9000\"\n");
}

TEST(DeviceTree, InstallerHardwareAndKernel)
{
    korvtest::set_installer(false);
    EXPECT_EQ(access("/initrd", F_OK), 0);
    korvtest::set_installer(true);
    EXPECT_NE(access("/initrd", F_OK), 0);

    korvtest::set_junior_hw(true);
    std::string line = read_file("/proc/sys/kernel/korv_hw_version");
    EXPECT_EQ(line.substr(line.size() - 3), "-j\n");
    korvtest::set_junior_hw(false);
    line = read_file("/proc/sys/kernel/korv_hw_version");
    EXPECT_NE(line.substr(line.size() - 3), "-j\n");

    korvtest::set_kernel({std::nullopt, ENOMEM, 301});
    uint32_t word;
    long up = 0;
    EXPECT_EQ(korv_plat_flag_get(&word), -1);
    EXPECT_EQ(errno, ENOSYS);
    EXPECT_EQ(korv_plat_driver_buffer(1), -1);
    EXPECT_EQ(errno, ENOMEM);
    ASSERT_EQ(korv_plat_uptime(&up), 0);
    EXPECT_EQ(up, 301);
}

TEST(DeviceTree, RedBootLayoutsScaleWithTheEraseBlock)
{
    for (bool junior : {false, true}) {
        for (uint32_t erase : {0x10000u, 0x20000u}) {
            korvtest::RedBootOptions options;
            options.junior = junior;
            options.erase_size = erase;
            options.locked = true;
            auto parts = korvtest::build_redboot_flash(options);
            SCOPED_TRACE(std::to_string(junior) + " " + std::to_string(erase));
            ASSERT_EQ(parts.size(), junior ? 6u : 8u);
            EXPECT_EQ(ctl::check_windows(), "");
            int dir = junior ? 5 : 7;
            auto entries = ctl::read_fis(dir);
            ASSERT_EQ(entries.size(), parts.size());
            uint64_t end = 0;
            for (size_t i = 0; i < parts.size(); ++i) {
                auto w = ctl::window(parts[i].index);
                ASSERT_TRUE(w);
                EXPECT_TRUE(w->locked);
                EXPECT_EQ(parts[i].index, static_cast<int>(i));  // directory in device order
                EXPECT_EQ(entries[i].name, parts[i].name);
                EXPECT_EQ(entries[i].flash_base, w->base);
                EXPECT_EQ(entries[i].size, w->size);
                EXPECT_EQ(w->size % erase, 0u);
                EXPECT_LE(entries[i].data_length, entries[i].size);
                end = std::max<uint64_t>(end, static_cast<uint64_t>(w->base) + w->size);
                if (parts[i].name != "FIS Directory") {
                    auto bytes = ctl::read_window(parts[i].index);
                    auto image = korvtest::image_bytes(parts[i].name, parts[i].data_length);
                    EXPECT_TRUE(std::equal(image.begin(), image.end(), bytes.begin())) << parts[i].name;
                    if (parts[i].data_length < parts[i].size) {
                        EXPECT_EQ(bytes[parts[i].data_length], 0xFF) << parts[i].name;
                    }
                }
            }
            EXPECT_EQ(end, 1ull << 32);
            EXPECT_EQ(ctl::read_window(dir)[parts.size() * 256], 0xFF);
        }
    }
}

TEST(DeviceTree, MSysFlashAndFlag)
{
    auto parts = korvtest::build_msys_flash();
    ASSERT_EQ(parts.size(), 8u);
    EXPECT_EQ(ctl::chip()->kind, ctl::Kind::MSys);
    EXPECT_EQ(ctl::check_windows(), "");
    uint32_t word = 0;
    ASSERT_EQ(korv_plat_flag_get(&word), 0);
    EXPECT_EQ(word & 1u, 1u);
    EXPECT_EQ(ctl::window(3)->data_length, parts[3].data_length);
    EXPECT_EQ(parts[7].name, "FIS Directory");
}

TEST(DeviceTree, PackageHoldsVersionAndImages)
{
    korvtest::Package package;
    package.buildnumber = "401";
    package.images = {{"zImage", 1000}, {"RedBoot Config", 0}};
    korvtest::build_package(package);
    EXPECT_EQ(read_file("/volume1/upd@te/VERSION"),
              "buildnumber=\"401\"\nbuildphase=\"0\"\nextractsize=\"20480\"\nmajorversion=\"2\"\n"
              "minorversion=\"1\"\nunique=\"korvadyn_powerpc_410v+_1hd\"\n");
    auto zimage = read_file("/volume1/upd@te/zImage");
    auto expected = korvtest::image_bytes("zImage", 1000, package.seed);
    EXPECT_EQ(zimage, std::string(expected.begin(), expected.end()));
    EXPECT_TRUE(korvtest::file_exists("/volume1/upd@te/RedBoot Config"));
    EXPECT_EQ(read_file("/volume1/upd@te/RedBoot Config"), "");
}

// The programs a run reaches through the shell, as fixtures that record how they were called.
TEST(DeviceTree, FixtureProgramsRecordTheirArguments)
{
    korvtest::build_update_tree();
    korvtest::install_mount(0);
    std::string out;
    EXPECT_EQ(korvtest::run_shell("mount /dev/md0 /tmpRoot"), 0);
    EXPECT_EQ(korvtest::run_shell("/bin/get_key_value /etc.defaults/korvinfo.conf supportMTU", &out), 0);
    EXPECT_EQ(out, "yes\n");
    EXPECT_EQ(korvtest::run_shell("/bin/get_key_value /etc.defaults/korvinfo.conf none", &out), 1);
    EXPECT_EQ(out, "");
    EXPECT_EQ(korvtest::run_shell("/sbin/sfdisk -l -uS -N3 /dev/hda", &out), 0);
    EXPECT_EQ(out, korvtest::sfdisk_line(korvtest::Disk{}, korvtest::Disk{}.partitions[2]) + "\n");
    EXPECT_EQ(out, "/dev/hda3   1333332  19333331  18000000  83  Linux\n");
    EXPECT_NE(korvtest::run_shell("/sbin/sfdisk -l -uS -N4 /dev/hda"), 0);
    EXPECT_EQ(korvtest::program_runs("mount"), std::vector<std::string>{"mount /dev/md0 /tmpRoot"});
    EXPECT_EQ(korvtest::program_runs("sfdisk"),
              (std::vector<std::string>{"sfdisk -l -uS -N3 /dev/hda", "sfdisk -l -uS -N4 /dev/hda"}));
    korvtest::install_mount(32);
    EXPECT_EQ(korvtest::run_shell("mount /dev/hda1 /tmpRoot"), 32);
}

TEST(DeviceTree, UpdateTreeHasWhatARunReads)
{
    korvtest::build_update_tree();
    for (const char *path : {"/etc/passwd", "/etc/group", "/etc/group_desc", "/etc/shadow", "/etc/korvuser.conf",
                             "/usr/korv/etc/private/smbpasswd", "/etc/nsswitch.conf", "/etc/crontab", "/initrd",
                             "/volume1/upd@te/VERSION", "/proc/net/dev", "/etc/rc.network"})
        EXPECT_TRUE(korvtest::file_exists(path)) << path;
    EXPECT_NE(read_file("/etc/passwd").find("admin:x:1024:100:"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(stat("/etc/shadow", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(ctl::read_fis(7).size(), 8u);
    // The account files are a set the user database builds its stores from.
    KORVUSERDB *users = KORVUserDBOpen();
    ASSERT_TRUE(users) << korvtest::syslog_dump();
    KORVUSER *admin = nullptr;
    EXPECT_EQ(KORVUserDBGet(users, "ADMIN", &admin), 0);
    KORVUserFree(admin);
    KORVUserDBClose(users);

    korvtest::UpdateTree raid;
    raid.raid = korvtest::RaidArray{};
    raid.installer = true;
    korvtest::build_update_tree(raid);
    EXPECT_NE(read_file("/etc.defaults/korvinfo.conf").find("supportraid=\"yes\""), std::string::npos);
    EXPECT_FALSE(korvtest::file_exists("/initrd"));
    EXPECT_EQ(read_file("/sys/block/md0/md/dev-sdb1/slot"), "1\n");
}

TEST(DeviceTree, SampleTreeListsThroughFlashls)
{
    korvtest::build_sample_tree();
    EXPECT_TRUE(korvtest::file_exists("/volume1/upd@te/VERSION"));
    EXPECT_EQ(ctl::read_fis(7).size(), 8u);
    std::string flashls = std::string(KORV_BINARY_DIR) + "/bin/korv-flashls";
    ASSERT_EQ(access(flashls.c_str(), X_OK), 0) << flashls;
    std::string out;
    ASSERT_EQ(korvtest::run_shell(korvtest::shell_quote(flashls), &out), 0) << out;
    EXPECT_NE(out.find("number of partitions = [8]"), std::string::npos) << out;
    EXPECT_NE(out.find("FIS Directory    0xFFFF0000  0x00010000  0x00000800"), std::string::npos) << out;
}

// The sample holds the files a unit has beyond a run's own: those the user, group and share
// databases need (docs/accounts.md), the rsync server's and the FTP deny list. The share
// database loads the unit's share from them.
TEST(DeviceTree, SampleTreeHoldsTheFilesOfAUnit)
{
    korvtest::build_sample_tree();
    for (const char *path : {"/etc/passwd", "/etc/shadow", "/etc/korvuser.conf", "/usr/korv/etc/private/smbpasswd",
                             "/etc/group", "/etc/group_desc", "/usr/korv/etc/smb.conf", "/etc/rsyncd.conf",
                             "/etc/rsyncd.secrets", "/etc/hosts.deny", "/volume1/public"})
        EXPECT_TRUE(korvtest::file_exists(path)) << path;
    PKORLSZLIST shares = PslKORLSzListAlloc(0);
    ASSERT_TRUE(shares);
    EXPECT_EQ(KORVShareEnum(&shares, 1), 1) << korvtest::syslog_dump();
    EXPECT_EQ(korvtest::items_of(shares), std::vector<std::string>{"public"});
    KORLSzListFree(shares);
    EXPECT_FALSE(korvtest::syslog_contains("failed")) << korvtest::syslog_dump();
}

// A tree kept for a later sandbox session keeps its chip; the mirrors' tmpfs mounts end with the
// session. The next program of the device puts them back before a shell program reads them.
TEST(DeviceTree, KeptTreeGetsItsMirrorsBackInTheNextSession)
{
    korvtest::build_sample_tree();
    std::string before;
    ASSERT_EQ(korvtest::run_shell("cat /dev/mtd7 | od -An -tx1 | head -2", &before), 0);
    ASSERT_EQ(korvtest::run_shell("for m in /.korvsim/mtd/*; do umount $m || exit 1; done"), 0);
    ASSERT_NE(korvtest::run_shell("cat /dev/mtd7 >/dev/null"), 0) << "mirror still there";

    std::string out;
    ASSERT_EQ(korvtest::run_shell(korvtest::shell_quote(KORV_BINARY_DIR "/bin/korv-flashls"), &out), 0) << out;
    EXPECT_NE(out.find("number of partitions = [8]"), std::string::npos) << out;
    std::string after;
    ASSERT_EQ(korvtest::run_shell("cat /dev/mtd7 | od -An -tx1 | head -2", &after), 0);
    EXPECT_EQ(after, before);
}

}  // namespace
