// The configuration stage in whole runs: a file that the stage must remove and cannot fails the
// run with code 17 and rolls the flash back, on the builds the step covers and only there, on
// the RedBoot road and on the MSys road alike.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "device_tree.h"
#include "korv/simctl.h"
#include "korvtest.h"
#include "updater_run.h"

namespace ctl = korvsim::ctl;
using korvtest::UpdateTree;

namespace {

struct StageCase {
    const char *name;
    const char *build;  // the installed build
    const char *path;   // made a folder with a file in it: unlink cannot remove it
    int status;
    const char *message;  // the stage's line for it ("" when the step does not run)
};

void PrintTo(const StageCase &c, std::ostream *os)
{
    *os << c.name;
}

enum class Road { RedBoot, MSys };

// Every partition's window and bytes, on either flash (both lay out "/dev/mtd0" to "/dev/mtd7").
struct FlashBytes {
    std::vector<ctl::WindowInfo> windows;
    std::vector<std::vector<uint8_t>> bytes;
};

FlashBytes read_flash()
{
    FlashBytes f;
    for (int i = 0; i < 8; ++i) {
        auto w = ctl::window(i);
        f.windows.push_back(w ? *w : ctl::WindowInfo{});
        f.bytes.push_back(ctl::read_window(i));
    }
    return f;
}

void build(Road road, const char *build)
{
    UpdateTree tree;
    tree.identity.buildnumber = build;
    if (road == Road::MSys) {
        // A small MSys flash: every partition is copied aside and its image written with dd.
        tree.flash = UpdateTree::Flash::MSys;
        tree.msys.units = {4, 8, 8, 8, 1, 1, 1, 1};
        tree.msys.data_lengths = {0x9000, 0x12345, 0x16000, 0x1A000, 0x4000, 0x2000, 0x4000, 0x800};
    }
    tree.package.images["zImage"] = road == Road::MSys ? 0x15000 : 0x8000;
    korvtest::build_update_tree(tree);
}

class ConfigStage : public testing::TestWithParam<std::tuple<StageCase, Road>> {};

TEST_P(ConfigStage, UnremovableFileEndsTheRunWithTheFlashRolledBack)
{
    const auto &[c, road] = GetParam();
    build(road, c.build);
    korvtest::make_dirs(c.path);
    korvtest::write_file(std::string(c.path) + "/kept", "x");
    FlashBytes before = read_flash();

    auto r = updatertest::run_updater();
    EXPECT_EQ(r.status, c.status) << korvtest::syslog_dump();
    FlashBytes after = read_flash();
    if (c.status == 0) {
        EXPECT_FALSE(korvtest::syslog_contains("UPDTUpdateConfig"));
        EXPECT_TRUE(after.bytes[1] != before.bytes[1]) << "zImage was not written";
        return;
    }
    EXPECT_EQ(r.progress, updatertest::progress('C', -17));
    EXPECT_EQ(r.message, "");
    ASSERT_FALSE(r.log.empty());
    EXPECT_EQ(r.log.back(), "Failed to accomplish the update! (errno = 17)");
    EXPECT_TRUE(korvtest::syslog_has_pattern(c.message)) << korvtest::syslog_dump();
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(after.windows[i].base, before.windows[i].base) << "/dev/mtd" << i;
        EXPECT_EQ(after.windows[i].size, before.windows[i].size) << "/dev/mtd" << i;
        // On RedBoot the directory entries are the bytes of the FIS Directory window.
        EXPECT_TRUE(after.bytes[i] == before.bytes[i]) << "the bytes of /dev/mtd" << i;
    }
    EXPECT_TRUE(korvtest::file_exists(std::string(c.path) + "/kept"));
}

// Steps 3, 6 and 7 of the stage fail it too; their rows come with their steps.
const StageCase kCases[] = {
    {"rc_atalk_at_107", "107", "/usr/korv/etc/rc.atalk", 17, "updater:<L>(UPDTUpdateConfig) Failed to update [/usr/korv/etc/rc.atalk], errno=(21)[Is a directory]"},
    {"rc_atalk_at_108", "108", "/usr/korv/etc/rc.atalk", 0, ""},
    {"papd_conf_at_210", "210", "/usr/korv/etc/papd.conf", 17, "updater:<L>(UPDTUpdateConfig) Failed to update [/usr/korv/etc/papd.conf], errno=(21)[Is a directory]"},
    {"papd_conf_at_211", "211", "/usr/korv/etc/papd.conf", 0, ""},
    {"profile_at_250", "250", "/etc/profile", 17, "updater:<L>(UPDTUpdateConfig) Failed to remove /etc/profile, errno=(21)[Is a directory]"},
    {"profile_at_251", "251", "/etc/profile", 0, ""},
    {"jumbo_frame_rc_at_251", "251", "/usr/korv/etc/rc.d/S78JumboFrame.sh", 17, "updater:<L>(UPDTUpdateConfig) Failed to remove /usr/korv/etc/rc.d, errno=(21)[Is a directory]"},
    {"jumbo_frame_rc_at_252", "252", "/usr/korv/etc/rc.d/S78JumboFrame.sh", 0, ""},
};

INSTANTIATE_TEST_SUITE_P(Thresholds, ConfigStage,
                         testing::Combine(testing::ValuesIn(kCases), testing::Values(Road::RedBoot, Road::MSys)),
                         [](const testing::TestParamInfo<std::tuple<StageCase, Road>> &i) {
                             return std::string(std::get<0>(i.param).name) +
                                    (std::get<1>(i.param) == Road::MSys ? "_msys" : "_redboot");
                         });

}  // namespace
