// Whole updates of the RedBoot flash: the backup, the written partitions and directory entries,
// the progress along the way, the size adjustment as the run makes it, the end of the road
// (hand-over, clean-shutdown mark, the backup's removal), the signals while the flash changes,
// and the repair of the junior unit's flash directory.
#include <errno.h>
#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "device_tree.h"
#include "flash_tree.h"
#include "korv/simctl.h"
#include "korvtest.h"
#include "updater_run.h"

namespace ctl = korvsim::ctl;
using korvtest::UpdateTree;
using updatertest::FlashPicture;
using updatertest::ProgressValue;

namespace {

constexpr uint32_t kBlock = 0x10000;
const char kWork[] = "/volume1/upd@te";
const char kDone[] = "R:0:        ";  // R:0 over P:100, two blanks left from before

std::vector<uint8_t> image(const std::string &file, size_t size)
{
    return korvtest::image_bytes(file, size, korvtest::Package{}.seed);
}

std::string text(const std::vector<uint8_t> &v)
{
    return std::string(v.begin(), v.end());
}

// The values of a run up to the write: start-up, the analysis, the plan and the backup.
std::vector<ProgressValue> before_write(int entries, bool group = false)
{
    std::vector<ProgressValue> v = {{'A', 0}, {'A', 10}};
    if (!group)
        v.push_back({'A', 100});
    v.insert(v.end(), {{'P', 0}, {'P', 10}, {'P', 20}});
    for (int i = 0; !group && i < entries; ++i)
        v.push_back({'P', 30 + 5 * i});
    v.push_back({'P', 60});
    return v;
}

const std::vector<ProgressValue> kAfterWrite = {{'P', 100}, {'C', 0}, {'C', 100}, {'R', 0}, {'R', 0}};

// ---- whole updates that succeed ----

struct UpdateCase {
    std::string name;
    bool junior;
    std::map<std::string, size_t> images;  // image file -> size, in table order of the layout
    bool directory_image = false;          // the package brings "FIS Directory" too
};

void PrintTo(const UpdateCase &c, std::ostream *os)
{
    *os << c.name;
}

class WholeUpdate : public testing::TestWithParam<UpdateCase> {};

TEST_P(WholeUpdate, WritesTheImagesAndKeepsTheRest)
{
    const UpdateCase &c = GetParam();
    UpdateTree tree;
    tree.junior_hw = c.junior;
    tree.redboot.locked = true;  // the write unlocks what it writes
    tree.package.images = c.images;
    korvtest::build_update_tree(tree);
    updatertest::install_keeping_rm();
    FlashPicture before = updatertest::picture(c.junior);

    // A directory image: the directory as it stands, with the new images' lengths.
    std::map<std::string, std::vector<uint8_t>> images;
    for (const auto &[file, size] : c.images)
        images[file] = image(file, size);
    std::vector<ctl::FisEntry> newDirectory = before.directory;
    if (c.directory_image) {
        for (auto &e : newDirectory) {
            const auto &part = updatertest::part_named(c.junior, e.name);
            if (images.count(part.file))
                e.data_length = static_cast<uint32_t>(images[part.file].size());
            if (e.name == "FIS Directory")
                e.data_length = static_cast<uint32_t>(newDirectory.size() * 256);
        }
        std::vector<uint8_t> bytes;
        for (const auto &e : newDirectory) {
            auto packed = ctl::fis_pack(e);
            bytes.insert(bytes.end(), packed.begin(), packed.end());
        }
        images["FIS Directory"] = bytes;
        korvtest::write_file(std::string(kWork) + "/FIS Directory", text(bytes));
    }

    updatertest::RunSpec spec;
    spec.record_progress = true;
    auto r = updatertest::run_updater(spec);
    ASSERT_EQ(r.status, 0) << korvtest::syslog_dump();
    FlashPicture after = updatertest::picture(c.junior);

    // The flash: each image in its partition, then erased flash; the rest as it was.
    std::vector<uint64_t> lengths;
    for (const auto &part : updatertest::layout_parts(c.junior)) {
        SCOPED_TRACE(part.name);
        auto it = images.find(part.file);
        if (it == images.end()) {
            EXPECT_EQ(updatertest::holds_old(before, after, part), "");
            EXPECT_TRUE(korvtest::syslog_has("UPDTDoPatch: skip updating [" + part.name + "]"));
            continue;
        }
        lengths.push_back(it->second.size());
        if (part.name == "FIS Directory") {
            std::vector<uint8_t> bytes = it->second;
            bytes.resize(before.windows.at(part.index).size, 0xFF);
            EXPECT_EQ(after.bytes.at(part.index), bytes);
        } else {
            EXPECT_EQ(updatertest::holds_new(before, after, part, it->second), "");
        }
        EXPECT_TRUE(korvtest::syslog_has("UPDTDoPatch: Finish updating [" + part.name + "]"));
        std::string device = "/dev/mtd" + std::to_string(part.index);
        EXPECT_TRUE(korvtest::syslog_has_pattern("updater.cpp:<L>(UPDTDoPatch) Try to Erase MTD Partition(" + device +
                                                 "), [0/3]..."));
        EXPECT_FALSE(korvtest::syslog_has_pattern("updater.cpp:<L>(UPDTDoPatch) Try to Erase MTD Partition(" +
                                                  device + "), [1/3]..."));
        // Sized, unlocked and erased once; never locked again.
        EXPECT_EQ(ctl::requests(device, "MTD_SET_PARTITION").size(), 1u);
        EXPECT_EQ(ctl::requests(device, "MEMUNLOCK").size(), 1u);
        EXPECT_EQ(ctl::requests(device, "MEMERASE").size(), 1u);
        EXPECT_FALSE(after.windows.at(part.index).locked);
    }
    if (c.directory_image) {
        EXPECT_EQ(after.directory.size(), newDirectory.size());
    }
    EXPECT_TRUE(ctl::requests("*", "MEMLOCK").empty());
    EXPECT_EQ(ctl::check_windows(), "");

    // The backup as the run made it: every partition whole, then removed.
    for (const auto &part : updatertest::layout_parts(c.junior))
        EXPECT_EQ(korvtest::read_file(std::string(updatertest::kKeptBackup) + "/mtd_" + part.name),
                  text(before.bytes.at(part.index)))
            << part.name;
    EXPECT_FALSE(korvtest::file_exists(std::string(kWork) + "/b@ckup"));

    auto want = before_write(static_cast<int>(before.directory.size()));
    auto write = updatertest::write_progress(lengths);
    want.insert(want.end(), write.begin(), write.end());
    want.insert(want.end(), kAfterWrite.begin(), kAfterWrite.end());
    EXPECT_EQ(r.progress_values, updatertest::written(want)) << updatertest::describe(r.progress_values);
    EXPECT_EQ(r.log, (std::vector<std::string>{"Start of the update...",
                                               "Upgrade from version 2.0.3.351 to version 2.1.0.400",
                                               "Congratulation!! The update has been completed!!"}));
    EXPECT_TRUE(korvtest::file_exists("/.NormalShutdown"));
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, WholeUpdate,
    testing::Values(UpdateCase{"EightPartitionsThreeImages", false,
                               {{"zImage", 0x1D0000}, {"rd.bin", 0x2B0000}, {"AllLib.tgz", 0x250000}}},
                    UpdateCase{"EightPartitionsAllWritten", false,
                               {{"RedBoot.msys", 0x3B000}, {"zImage", 0x1D0000}, {"rd.bin", 0x2B0000},
                                {"AllLib.tgz", 0x250000}, {"vendor", 0x10000}, {"korvcfg", 0x9000},
                                {"RedBoot Config", 0x10000}},
                               true},
                    UpdateCase{"JuniorKernelAndRamdisk", true, {{"zImage", 0xC6000}, {"rd.bin", 0xA0001}}}),
    [](const auto &info) { return info.param.name; });

// ---- the write's progress when an attempt starts again ----

TEST(WriteProgress, ARetryStartsItsPartitionAgain)
{
    UpdateTree tree;
    tree.package.images = {{"zImage", 1 << 20}, {"rd.bin", 1 << 20}};
    korvtest::build_update_tree(tree);
    ctl::corrupt_read("/dev/mtd2", 0x4005, 0x01, true);
    updatertest::RunSpec spec;
    spec.record_progress = true;
    auto r = updatertest::run_updater(spec);
    ASSERT_EQ(r.status, 0) << korvtest::syslog_dump();

    // Of 4 MiB, the kernel is done at 80; the ramdisk's first verify stops in its third chunk.
    auto want = before_write(8);
    auto first = updatertest::write_progress({1 << 20, 1 << 20});
    auto at80 = first.begin() + 1 + 64 + 128;
    ASSERT_EQ(*(at80 - 1), (ProgressValue{'P', 80}));
    want.insert(want.end(), first.begin(), at80);
    std::vector<ProgressValue> attempt = {{'P', 80}};
    for (int i = 1; i <= 64; ++i)
        attempt.push_back({'P', static_cast<int>(80 + uint64_t(i) * 16384 * 40 / (4 << 20))});
    for (int i = 1; i <= 2; ++i)
        attempt.push_back({'P', static_cast<int>(80 + (uint64_t(1 << 20) + i * 8192) * 40 / (4 << 20))});
    want.insert(want.end(), attempt.begin(), attempt.end());
    want.insert(want.end(), at80, first.end());
    want.insert(want.end(), kAfterWrite.begin(), kAfterWrite.end());
    EXPECT_EQ(r.progress_values, updatertest::written(want)) << updatertest::describe(r.progress_values);
    EXPECT_TRUE(korvtest::syslog_has_pattern("updater.cpp:<L>(UPDTVerifyFile) compare file [/volume1/upd@te/rd.bin] "
                                             "vs [/dev/mtd2] error at offset 0x4000"));
    EXPECT_TRUE(korvtest::syslog_has_pattern(
        "updater.cpp:<L>(UPDTDoPatch) Try to Erase MTD Partition(/dev/mtd2), [1/3]..."));
}

// Every marked image empty: nothing to count, so the write stays at 60 and fails.
TEST(WriteProgress, NothingToCountStaysAt60)
{
    UpdateTree tree;
    tree.package.images = {{"korvcfg", 0}};
    korvtest::build_update_tree(tree);
    FlashPicture before = updatertest::picture(false);
    updatertest::RunSpec spec;
    spec.record_progress = true;
    auto r = updatertest::run_updater(spec);
    EXPECT_EQ(r.status, 20) << korvtest::syslog_dump();
    auto want = before_write(8);
    want.insert(want.end(), {{'P', 60}, {'P', 60}, {'P', 60}, {'P', -20}});
    EXPECT_EQ(r.progress_values, updatertest::written(want)) << updatertest::describe(r.progress_values);
    EXPECT_TRUE(korvtest::syslog_has_pattern(
        "updater.cpp:<L>(UPDTDoPatch) Try to Update [/dev/mtd5] 3 counts failed ..."));
    EXPECT_EQ(updatertest::holds_old(before, updatertest::picture(false), updatertest::part_named(false, "korvcfg")),
              "");
}

// ---- a group update ----

TEST(GroupUpdate, WritesWithoutBackupOrRollback)
{
    UpdateTree tree;
    tree.package.buildnumber = "300";  // not looked at
    tree.package.images = {{"zImage", 0x30000}};
    korvtest::build_update_tree(tree);
    FlashPicture before = updatertest::picture(false);
    updatertest::RunSpec spec;
    spec.args = {"-g"};
    spec.record_progress = true;
    auto r = updatertest::run_updater(spec);
    ASSERT_EQ(r.status, 0) << korvtest::syslog_dump();
    auto want = before_write(8, true);
    auto write = updatertest::write_progress({0x30000});
    want.insert(want.end(), write.begin(), write.end());
    want.insert(want.end(), kAfterWrite.begin(), kAfterWrite.end());
    EXPECT_EQ(r.progress_values, updatertest::written(want)) << updatertest::describe(r.progress_values);
    EXPECT_EQ(updatertest::holds_new(before, updatertest::picture(false), updatertest::part_named(false, "zImage"),
                                     image("zImage", 0x30000)),
              "");
    EXPECT_FALSE(korvtest::syslog_contains("/bin/mkdir -p"));

    // A failed write in a group update is not rolled back.
    korvtest::build_update_tree(tree);
    ctl::fail_request("/dev/mtd1", "MEMERASE", EIO, false);
    korvtest::syslog_clear();
    r = updatertest::run_updater(spec);
    EXPECT_EQ(r.status, 20);
    EXPECT_EQ(r.progress, "P:-20:      ");
    EXPECT_FALSE(korvtest::syslog_contains("UPDTRollBack"));
    EXPECT_FALSE(korvtest::syslog_contains("Turn on the reinstall library flag"));
}

// ---- the end of the road ----

struct EndCase {
    std::string name;
    std::function<void(UpdateTree &)> tree;
    std::vector<std::string> mounts;  // the mount fixture's runs
    std::string mark;                 // the clean-shutdown mark made
    std::string not_mark;             // and the one not made
};

void PrintTo(const EndCase &c, std::ostream *os)
{
    *os << c.name;
}

class EndOfRoad : public testing::TestWithParam<EndCase> {};

TEST_P(EndOfRoad, MarksTheCleanShutdown)
{
    const EndCase &c = GetParam();
    UpdateTree tree;
    c.tree(tree);
    korvtest::build_update_tree(tree);
    korvtest::write_file(std::string(kWork) + "/hda1.tgz", "the data archive");
    auto r = updatertest::run_updater();
    ASSERT_EQ(r.status, 0) << korvtest::syslog_dump();
    EXPECT_EQ(korvtest::program_runs("mount"), c.mounts);
    EXPECT_TRUE(korvtest::file_exists(c.mark));
    EXPECT_FALSE(korvtest::file_exists(c.not_mark));
    EXPECT_EQ(korvtest::read_file("/volume1/KorvUpgrade.tar.gz"), "the data archive");
    EXPECT_FALSE(korvtest::file_exists(std::string(kWork) + "/hda1.tgz"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EndOfRoad,
    testing::Values(EndCase{"InstalledSystem", [](UpdateTree &) {}, {}, "/.NormalShutdown", "/tmpRoot/.NormalShutdown"},
                    EndCase{"InstallerMountsTheDisk", [](UpdateTree &t) { t.installer = true; },
                            {"mount /dev/hda1 /tmpRoot"}, "/tmpRoot/.NormalShutdown", "/.NormalShutdown"},
                    EndCase{"InstallerMountsTheArray",
                            [](UpdateTree &t) {
                                t.installer = true;
                                t.raid = korvtest::RaidArray{};
                            },
                            {"mount /dev/md0 /tmpRoot"}, "/tmpRoot/.NormalShutdown", "/.NormalShutdown"}),
    [](const auto &info) { return info.param.name; });

TEST(HandOver, AFailedMoveIsOnlyLogged)
{
    korvtest::build_update_tree();
    korvtest::write_file(std::string(kWork) + "/hda1.tgz", "archive");
    korvtest::install_program("/bin/mv", "#!/bin/sh\nexit 1\n");
    auto r = updatertest::run_updater();
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(korvtest::syslog_has_pattern("main(<L>): mv hda1.tgz to /volume1/KorvUpgrade.tar.gz fail."));
    EXPECT_EQ(korvtest::read_file(std::string(kWork) + "/hda1.tgz"), "archive");
}

// A "b@ckup" left by an earlier run (a failed rollback, a run killed in the write) may be the
// only copy of the old firmware: it stays, and nothing is changed, on both kinds of run.
TEST(EarlierBackup, IsKeptAndNothingChanges)
{
    const std::string backup = std::string(kWork) + "/b@ckup";
    for (bool group : {false, true}) {
        SCOPED_TRACE(group ? "group update" : "update");
        UpdateTree tree;
        tree.package.images = {{"zImage", 0x30000}};
        korvtest::build_update_tree(tree);
        korvtest::make_dirs(backup);
        korvtest::write_file(backup + "/mtd_zImage", "the old kernel");
        FlashPicture before = updatertest::picture(false);
        const std::string settings = korvtest::read_file("/etc/korvinfo.conf");
        korvtest::syslog_clear();
        updatertest::RunSpec spec;
        if (group)
            spec.args = {"-g"};
        auto r = updatertest::run_updater(spec);

        EXPECT_EQ(r.status, 15) << korvtest::syslog_dump();
        EXPECT_EQ(r.progress, updatertest::progress('A', -15));
        EXPECT_EQ(korvtest::read_file(backup + "/mtd_zImage"), "the old kernel");
        FlashPicture after = updatertest::picture(false);
        for (const auto &part : updatertest::layout_parts(false))
            EXPECT_EQ(updatertest::holds_old(before, after, part), "") << part.name;
        EXPECT_EQ(korvtest::read_file("/etc/korvinfo.conf"), settings);
        EXPECT_FALSE(korvtest::syslog_contains("/bin/rm -rf"));
        EXPECT_TRUE(korvtest::syslog_has_pattern(
            "main(<L>): a backup of the flash from an earlier run is in [" + backup +
            "]; it is kept and nothing is updated: when the flash holds one firmware whole, the old or the new, remove "
            "it, else write the old firmware back from it; then run the update again"))
            << korvtest::syslog_dump();
        EXPECT_NE(std::find(r.log.begin(), r.log.end(),
                            "A backup of the flash from an earlier run is in " + backup +
                                "; it is kept and nothing is updated"),
                  r.log.end());
        EXPECT_EQ(r.message, "extramsg=\"A copy of the old firmware from an earlier update is kept in " + backup +
                                 ". Remove it when the flash holds one firmware whole, the old or the new, "
                                 "else have the unit restored from it; then update again.\"\n");
    }
}

// Every block count of the plan is in erase blocks: a flash that reports an odd one is refused
// as unreadable, before anything is copied or changed.
TEST(EraseBlock, OddSizesAreRefusedWithCode18)
{
    // A flash laid out in blocks of that size, or one of 64 KiB blocks whose driver reports the
    // size (below 4 KiB, down to 1 byte and 0).
    struct Case {
        uint32_t erase;
        bool laidOut;
    };
    const Case cases[] = {{0x3000, true}, {0x1800, true}, {0x5000, true}, {0x800, false}, {1, false}, {0, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.erase);
        UpdateTree tree;
        if (c.laidOut)
            tree.redboot.erase_size = c.erase;
        korvtest::build_update_tree(tree);
        if (!c.laidOut) {
            ASSERT_TRUE(ctl::set_erase_size(c.erase));
        }
        FlashPicture before = updatertest::picture(false);
        korvtest::syslog_clear();
        ctl::clear_requests();
        auto r = updatertest::run_updater();
        EXPECT_EQ(r.status, 18) << korvtest::syslog_dump();
        EXPECT_EQ(r.progress, updatertest::progress('P', -18));
        char text[128];
        snprintf(text, sizeof text,
                 "main(<L>): the flash reports an erase block of 0x%08X bytes, not a power of two of 4 KiB or more",
                 c.erase);
        EXPECT_TRUE(korvtest::syslog_has_pattern(text)) << korvtest::syslog_dump();
        // Refused before the plan counts anything in such blocks: no partition measured, none
        // resized, unlocked or erased, no backup.
        EXPECT_FALSE(korvtest::syslog_contains("PATCHINFO"));
        for (const char *request : {"MEMERASE", "MEMUNLOCK", "MTD_SET_PARTITION", "MTD_SET_FIS_ENTRY"})
            EXPECT_TRUE(ctl::requests("", request).empty()) << request;
        EXPECT_FALSE(korvtest::file_exists(std::string(kWork) + "/b@ckup"));
        FlashPicture after = updatertest::picture(false);
        for (const auto &part : updatertest::layout_parts(false))
            EXPECT_EQ(updatertest::holds_old(before, after, part), "") << part.name;
    }
}

// A directory image is checked before anything is erased: garbage, or a directory that leaves
// out a partition of the plan, would leave the unit with a directory that lists nothing.
TEST(DirectoryImage, ThatDoesNotListThePlanIsRefusedFirst)
{
    struct Case {
        const char *name;
        std::function<std::string(const FlashPicture &)> bytes;
    };
    const Case cases[] = {
        {"Garbage", [](const FlashPicture &) { return text(image("FIS Directory", 0x600)); }},
        {"EndsInsideAnEntry",
         [](const FlashPicture &before) {
             std::string out;
             for (const auto &e : before.directory)
                 out += text(ctl::fis_pack(e));
             return out.substr(0, out.size() - 10);
         }},
        {"WithoutKorvcfg",
         [](const FlashPicture &before) {
             std::string out;
             for (const auto &e : before.directory)
                 if (e.name != "korvcfg")
                     out += text(ctl::fis_pack(e));
             return out;
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        UpdateTree tree;
        tree.package.images = {{"zImage", 0x30000}};
        korvtest::build_update_tree(tree);
        FlashPicture before = updatertest::picture(false);
        korvtest::write_file(std::string(kWork) + "/FIS Directory", c.bytes(before));
        korvtest::syslog_clear();
        auto r = updatertest::run_updater();
        EXPECT_EQ(r.status, 20) << korvtest::syslog_dump();
        EXPECT_TRUE(ctl::requests("*", "MEMERASE").empty());
        EXPECT_TRUE(korvtest::syslog_has_pattern("main(<L>): the flash was not changed: nothing to roll back"));
        FlashPicture after = updatertest::picture(false);
        for (const auto &part : updatertest::layout_parts(false))
            EXPECT_EQ(updatertest::holds_old(before, after, part), "") << part.name;
    }
}

// The rollback puts the directory back first: every other entry it restores goes into it.
TEST(DirectoryImage, RollbackRestoresTheDirectoryFirst)
{
    UpdateTree tree;
    tree.package.images = {{"zImage", 0x30000}};
    korvtest::build_update_tree(tree);
    FlashPicture before = updatertest::picture(false);
    std::string directory;
    for (const auto &e : before.directory)
        directory += text(ctl::fis_pack(e));
    korvtest::write_file(std::string(kWork) + "/FIS Directory", directory);
    ctl::corrupt_read("/dev/mtd7", 0x40, 0x01, false);  // the directory never reads back right
    auto r = updatertest::run_updater();
    EXPECT_EQ(r.status, 20) << korvtest::syslog_dump();
    std::vector<std::string> erased;
    for (const auto &line : korvtest::syslog_lines())
        if (line.message.find("(UPDTRollBack) KORVMTDErasePartition(") != std::string::npos)
            erased.push_back(line.message.substr(line.message.find('(', line.message.find("Erase"))));
    EXPECT_EQ(erased, (std::vector<std::string>{"(/dev/mtd7)...", "(/dev/mtd1)..."}));
    FlashPicture after = updatertest::picture(false);
    for (const auto &part : updatertest::layout_parts(false)) {
        if (part.name != "FIS Directory") {  // reads back wrong whatever it holds
            EXPECT_EQ(updatertest::holds_old(before, after, part), "") << part.name;
        }
    }
}

// ---- the size adjustment as a run makes it ----

struct ResizeCase {
    std::string name;
    std::map<std::string, size_t> images;
    int status;
    std::map<std::string, updatertest::Place> places;  // written partitions at their new place
    std::vector<std::string> syslog;                   // "<L>": a line number
    bool refused = false;                              // the plan is refused before the flash changes
};

void PrintTo(const ResizeCase &c, std::ostream *os)
{
    *os << c.name;
}

// The 8-partition tree: zImage 32 blocks (29 used), rd.gz 48 (44), AllLib.tgz 40 (37); 128 blocks
// from zImage to the directory's end, 118 of them in use.
std::vector<ResizeCase> ResizeCases()
{
    const uint32_t b = kBlock;
    return {
        {"KernelTakesABlockFromTheGreatestBalance",
         {{"zImage", 33 * b}, {"rd.bin", 43 * b}},
         0,
         {{"zImage", {0xFF800000, 33 * b}}, {"rd.gz", {0xFFA10000, 47 * b}}},
         {"UPDTDoPatch(<L>): NEED RESIZE THE PARTITION"}},
        {"TieGoesToTheEarlierThenTheGreater",
         {{"zImage", 34 * b}, {"rd.bin", 45 * b}, {"AllLib.tgz", 37 * b}},
         0,
         {{"zImage", {0xFF800000, 34 * b}}, {"rd.gz", {0xFFA20000, 47 * b}}, {"AllLib.tgz", {0xFFD10000, 39 * b}}},
         {}},
        {"FlashLimitExactlyMet",
         {{"zImage", 39 * b}, {"rd.bin", 44 * b}, {"AllLib.tgz", 37 * b}},
         0,
         {{"zImage", {0xFF800000, 39 * b}}, {"rd.gz", {0xFFA70000, 44 * b}}, {"AllLib.tgz", {0xFFD30000, 37 * b}}},
         {}},
        {"FlashLimitOneBlockOver",
         {{"zImage", 39 * b + 1}, {"rd.bin", 44 * b}, {"AllLib.tgz", 37 * b}},
         19,
         {},
         {"UPDTInitPatchInfo(<L>): the binary size exceeds flash size limit(total = 129)",
          "main(<L>): fail to initialize patch info "}},
        {"OnlyRedBootCouldGive",
         {{"RedBoot.msys", 2 * b}, {"zImage", 33 * b}, {"rd.bin", 48 * b}, {"AllLib.tgz", 40 * b}},
         20,
         {},
         {"ErrUPDTAdjustPartitionSize(<L>): negative balance", "UPDTDoPatch(<L>): fail to resize"},
         true},
        {"RedBootWouldGrowOverTheDirectory",
         {{"RedBoot.msys", 5 * b}},
         20,
         {},
         {"ErrUPDTCheckPatchPlan(<L>): partition [RedBoot] at 0xFFFB0000 of 0x00050000 bytes overlaps [FIS Directory]",
          "UPDTDoPatch(<L>): fail to resize"},
         true},
        {"FixedPartitionImageTooLarge",
         {{"vendor", b + 1}},
         20,
         {},
         {"ErrUPDTCheckPatchPlan(<L>): the fixed partition [vendor] cannot take 1 more erase blocks",
          "UPDTDoPatch(<L>): fail to resize"},
         true},
        // The donor moves, so it must be written, but the package has no image for it.
        {"MovedPartitionWithoutItsImage",
         {{"zImage", 33 * b}},
         20,
         {},
         {"updater.cpp:<L>(UPDTCopyFile) open [/volume1/upd@te/rd.bin] error: (2) No such file or directory.",
          "updater.cpp:<L>(UPDTDoPatch) Try to Update [/dev/mtd2] 3 counts failed ..."}},
    };
}

class Resize : public testing::TestWithParam<ResizeCase> {};

TEST_P(Resize, MovesThePartitionsOrRefusesThePlan)
{
    const ResizeCase &c = GetParam();
    UpdateTree tree;
    tree.package.images = c.images;
    korvtest::build_update_tree(tree);
    FlashPicture before = updatertest::picture(false);
    auto r = updatertest::run_updater();
    EXPECT_EQ(r.status, c.status) << korvtest::syslog_dump();
    for (const auto &text : c.syslog)
        EXPECT_TRUE(korvtest::syslog_has_pattern(text)) << text << "\n" << korvtest::syslog_dump();
    FlashPicture after = updatertest::picture(false);
    for (const auto &part : updatertest::layout_parts(false)) {
        auto img = c.images.find(part.file);
        auto place = c.places.find(part.name);
        if (c.status == 0 && img != c.images.end()) {
            EXPECT_EQ(updatertest::holds_new(before, after, part, image(part.file, img->second),
                                             place == c.places.end() ? nullptr : &place->second),
                      "");
        } else {
            EXPECT_EQ(updatertest::holds_old(before, after, part), "");
        }
    }
    EXPECT_EQ(ctl::check_windows(), "");
    EXPECT_FALSE(korvtest::file_exists(std::string(kWork) + "/b@ckup"));
    if (c.refused) {
        // Nothing reached the flash, and with nothing changed nothing was rolled back either.
        for (const auto &q : ctl::requests())
            for (const char *change : {"WRITE", "MEMERASE", "MEMUNLOCK", "MTD_SET_PARTITION", "MTD_SET_FIS_ENTRY"})
                EXPECT_NE(q.name, change) << q.line;
        EXPECT_TRUE(korvtest::syslog_has_pattern("main(<L>): the flash was not changed: nothing to roll back"));
        EXPECT_FALSE(korvtest::syslog_contains("command=[/bin/dd if=\"/volume1/upd@te/b@ckup/"));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Resize, testing::ValuesIn(ResizeCases()),
                         [](const auto &info) { return info.param.name; });

// ---- the signals while the flash changes ----

// A lost terminal, an interrupt, a stop request and a dead poller all arrive in the middle of
// the write; the run goes on to its end.
TEST(Signals, IgnoredOnceTheFlashChanges)
{
    UpdateTree tree;
    tree.package.images = {{"zImage", 0x100000}};
    korvtest::build_update_tree(tree);
    FlashPicture before = updatertest::picture(false);
    std::atomic<bool> sent{false};
    updatertest::RunSpec spec;
    spec.record_progress = true;
    spec.on_progress = [&sent](pid_t pid, const ProgressValue &v) {
        if (v.stage == 'P' && v.value > 65 && pid > 0 && !sent.exchange(true))
            for (int sig : {SIGHUP, SIGINT, SIGTERM, SIGPIPE})
                kill(pid, sig);
    };
    auto r = updatertest::run_updater(spec);
    EXPECT_TRUE(sent);
    EXPECT_EQ(r.status, 0) << korvtest::syslog_dump();
    EXPECT_EQ(updatertest::holds_new(before, updatertest::picture(false), updatertest::part_named(false, "zImage"),
                                     image("zImage", 0x100000)),
              "");
}

// Before the flash changes, a stop request still ends the run, with the flash as it was.
TEST(Signals, HonouredBeforeTheFlashChanges)
{
    UpdateTree tree;
    tree.package.images = {{"zImage", 0x100000}};
    korvtest::build_update_tree(tree);
    FlashPicture before = updatertest::picture(false);
    updatertest::RunSpec spec;
    spec.record_progress = true;
    spec.on_progress = [](pid_t pid, const ProgressValue &v) {
        if (v.stage == 'P' && v.value == 30 && pid > 0)
            kill(pid, SIGTERM);
    };
    auto r = updatertest::run_updater(spec);
    EXPECT_EQ(r.status, -1);  // ended by the signal
    EXPECT_EQ(updatertest::holds_old(before, updatertest::picture(false), updatertest::part_named(false, "zImage")),
              "");
}

// ---- the repair of the junior unit's flash directory ----

// The table the junior unit's boot loader writes, packed here on its own.
std::vector<uint8_t> built_in_directory()
{
    const std::vector<ctl::FisEntry> table = {
        {"RedBoot", 0xFFF00000, 0xFFF00000, 0x40000, 0, 0x3A448},
        {"zImage", 0xFFE00000, 0xFFE00000, 0xD0000, 0, 0xC5EDA},
        {"rd.gz", 0xFFF40000, 0xFFF40000, 0xB0000, 0, 0xAEE2C},
        {"vendor", 0xFFED0000, 0xFFED0000, 0x10000, 0, 0x10000},
        {"RedBoot Config", 0xFFEE0000, 0xFFEE0000, 0x10000, 0, 0x10000},
        {"FIS Directory", 0xFFFF0000, 0xFFFF0000, 0x10000, 0, 0x600},
    };
    std::vector<uint8_t> bytes;
    for (const auto &e : table) {
        auto packed = ctl::fis_pack(e);
        bytes.insert(bytes.end(), packed.begin(), packed.end());
    }
    return bytes;
}

// Build 284 of the 410v+ on the junior hardware: its directory lists wrong places.
UpdateTree broken_junior()
{
    UpdateTree tree;
    tree.junior_hw = true;
    tree.identity.buildnumber = "284";
    return tree;
}

void break_directory()
{
    auto fis = ctl::read_fis(5);
    for (auto &e : fis) {
        e.size = 0x1000;
        e.data_length = 0x12345;
    }
    fis.push_back({"stray", 0xFFEF0000, 0xFFEF0000, 0x10000, 0, 0x10});
    ASSERT_TRUE(ctl::write_fis(5, fis));
}

TEST(RecoverDirectory, RewritesItByteForByte)
{
    korvtest::build_update_tree(broken_junior());
    break_directory();
    updatertest::RunSpec spec;
    spec.record_progress = true;
    auto r = updatertest::run_updater(spec);
    ASSERT_EQ(r.status, 0) << korvtest::syslog_dump();
    auto want = built_in_directory();
    ASSERT_EQ(want.size(), 1536u);
    want.resize(0x10000, 0xFF);
    EXPECT_EQ(ctl::read_window(5), want);
    EXPECT_TRUE(ctl::window(5)->locked);
    EXPECT_TRUE(korvtest::syslog_has("number of partitions = [6]"));
    std::vector<std::string> steps;
    for (const auto &q : ctl::requests())
        if (q.device == "/dev/mtd5" && (q.name == "MEMUNLOCK" || q.name == "MEMERASE" || q.name == "WRITE" ||
                                        q.name == "MEMLOCK"))
            steps.push_back(q.name + " " + q.args + " -> " + std::to_string(q.result));
    EXPECT_EQ(steps, (std::vector<std::string>{"MEMUNLOCK start=0x00000000,length=0x00010000 -> 0",
                                               "MEMERASE start=0x00000000,length=0x00010000 -> 0",
                                               "WRITE offset=0x00000000,count=1536 -> 1536",
                                               "MEMLOCK start=0x00000000,length=0x00010000 -> 0"}));
    // In stage A, before the flash road's own values.
    ASSERT_GE(r.progress_values.size(), 4u);
    EXPECT_EQ(r.progress_values[3], (ProgressValue{'P', 0}));
}

struct RecoverFailCase {
    std::string name;
    std::function<void()> fault;
    std::string message;  // "<L>": a line number
};

void PrintTo(const RecoverFailCase &c, std::ostream *os)
{
    *os << c.name;
}

class RecoverDirectoryFails : public testing::TestWithParam<RecoverFailCase> {};

TEST_P(RecoverDirectoryFails, EndsWithCode20AndLocksIt)
{
    const RecoverFailCase &c = GetParam();
    korvtest::build_update_tree(broken_junior());
    const auto old = ctl::read_window(5);
    c.fault();
    auto r = updatertest::run_updater();
    EXPECT_EQ(r.status, 20) << korvtest::syslog_dump();
    EXPECT_EQ(r.progress, "A:-20:      ");
    EXPECT_TRUE(korvtest::syslog_has_pattern(c.message)) << korvtest::syslog_dump();
    EXPECT_TRUE(ctl::window(5)->locked);
    // A repair that could not be made leaves the directory it found, not a part of a new one.
    EXPECT_TRUE(ctl::read_window(5) == old);
    EXPECT_FALSE(korvtest::file_exists(std::string(kWork) + "/b@ckup"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RecoverDirectoryFails,
    testing::Values(
        RecoverFailCase{"UnlockFails", [] { ctl::fail_request("/dev/mtd5", "MEMUNLOCK", EIO); },
                        "updater.cpp:<L>(RecoverFISDirTable_410VPlus_V284) KORVMTDUnlockPartition(/dev/mtd5) fail"},
        RecoverFailCase{"EraseFails", [] { ctl::fail_request("/dev/mtd5", "MEMERASE", EIO); },
                        "updater.cpp:<L>(RecoverFISDirTable_410VPlus_V284) KORVMTDErasePartition(/dev/mtd5) fail"},
        RecoverFailCase{"OpenFails", [] { ctl::fail_request("/dev/mtd5", "OPEN", EIO, true, 3); },
                        "updater.cpp:<L>(RecoverFISDirTable_410VPlus_V284) open(/dev/mtd5) fail"},
        RecoverFailCase{"WriteFails", [] { ctl::short_write("/dev/mtd5", 1000, EIO); },
                        "updater.cpp:<L>(RecoverFISDirTable_410VPlus_V284) write(/dev/mtd5) fail"},
        RecoverFailCase{"WriteTakesNothing", [] { ctl::short_write("/dev/mtd5", 1000, 0); },
                        "updater.cpp:<L>(RecoverFISDirTable_410VPlus_V284) write(/dev/mtd5) fail"}),
    [](const auto &info) { return info.param.name; });

}  // namespace
