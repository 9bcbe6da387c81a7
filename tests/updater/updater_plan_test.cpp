// The patch plan: the table filled from the flash directory and the package, the lookups by
// name, the adjustment of sizes (donors, then placement) and the check of the plan it makes.
#include <errno.h>
#include <string.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "device_tree.h"
#include "flash_tree.h"
#include "korv/simctl.h"
#include "korvtest.h"
#include "updater_patch.h"

namespace ctl = korvsim::ctl;

namespace {

constexpr uint32_t kBlock = 0x10000;

// ---- UPDTInitPatchInfo over a flash and a package ----

struct InitCase {
    std::string name;
    bool junior;
    std::map<std::string, size_t> images;            // file -> size
    std::function<void()> setup;                     // after the flash and the package are built
    int result;
    std::vector<std::string> syslog;                 // "<L>": a line number
    std::map<std::string, std::vector<int64_t>> rows = {};  // part -> {datalen, balance, fneedupdate}
};

void PrintTo(const InitCase &c, std::ostream *os)
{
    *os << c.name;
}

// The 8-partition layout without images needs 118 of the 128 blocks from zImage to the directory.
std::vector<InitCase> InitCases()
{
    auto none = [] {};
    return {
        {"ImageFillsItsPartition", true, {{"zImage", 0xC5EDA}}, none, 0,
         {"flashsize = 0x00200000, eraseblock = 0x00010000",
          "PATCHINFO: part[zImage], file[zImage], start = [0xFFE00000], size[0x000D0000], datalen=[0x000C5EDA], "
          "nblock[13], balance[0], fneedupdate[1]"},
         {{"zImage", {0xC5EDA, 0, 1}}}},
        {"ImageOneBlockTooLarge", true, {{"zImage", 0xC5EDA + kBlock}}, none, 0,
         {"PATCHINFO: part[zImage], file[zImage], start = [0xFFE00000], size[0x000D0000], datalen=[0x000D5EDA], "
          "nblock[14], balance[-1], fneedupdate[1]"},
         {{"zImage", {0xD5EDA, -1, 1}}}},
        {"TwoBlocksExactly", true, {{"rd.bin", 0x20000}}, none, 0,
         {"PATCHINFO: part[rd.gz], file[rd.bin], start = [0xFFF40000], size[0x000B0000], datalen=[0x00020000], "
          "nblock[2], balance[9], fneedupdate[1]"},
         {{"rd.gz", {0x20000, 9, 1}}}},
        {"OneByteMoreIsThreeBlocks", true, {{"rd.bin", 0x20001}}, none, 0,
         {"PATCHINFO: part[rd.gz], file[rd.bin], start = [0xFFF40000], size[0x000B0000], datalen=[0x00020001], "
          "nblock[3], balance[8], fneedupdate[1]"},
         {{"rd.gz", {0x20001, 8, 1}}}},
        {"MissingImageKeepsTheDirectorysLength", true, {}, none, 0,
         {"UPDTInitPatchInfo(<L>): file [zImage] not included in the patch package ",
          "PATCHINFO: part[zImage], file[zImage], start = [0xFFE00000], size[0x000D0000], datalen=[0x000C5EDA], "
          "nblock[13], balance[0], fneedupdate[0]"},
         {{"zImage", {0xC5EDA, 0, 0}}, {"RedBoot", {0x3A448, 0, 0}}}},
        {"EmptyImageIsStillWritten", false, {{"korvcfg", 0}}, none, 0,
         {"PATCHINFO: part[korvcfg], file[korvcfg], start = [0xFFF90000], size[0x00010000], datalen=[0x00000000], "
          "nblock[0], balance[1], fneedupdate[1]"},
         {{"korvcfg", {0, 1, 1}}}},
        {"FlashLimitExactlyMet", false, {{"zImage", 39 * kBlock}}, none, 0,
         {"flashsize = 0x00800000, eraseblock = 0x00010000"}, {{"zImage", {39 * kBlock, -7, 1}}}},
        {"FlashLimitOneBlockOver", false, {{"zImage", 39 * kBlock + 1}}, none, -1,
         {"UPDTInitPatchInfo(<L>): the binary size exceeds flash size limit(total = 129)"}},
        {"NoKernelEntry", false, {},
         [] {
             auto entries = ctl::read_fis(7);
             std::erase_if(entries, [](const auto &e) { return e.name == "zImage"; });
             ASSERT_TRUE(ctl::write_fis(7, entries));
         },
         -1,
         {"UPDTInitPatchInfo(<L>): ulAddrMtd7 = ffff0000, ulAddrMtd0 = 0, ulSizeMtd7 = 10000",
          "UPDTInitPatchInfo(<L>): flashsize == 0"}},
        {"DirectoryWithoutAPartitionOfTheLayout", false, {},
         [] {
             auto entries = ctl::read_fis(7);
             std::erase_if(entries, [](const auto &e) { return e.name == "korvcfg"; });
             ASSERT_TRUE(ctl::write_fis(7, entries));
         },
         -1,
         {"GetIdxByName(<L>): unknown partition name [korvcfg]",
          "UPDTInitPatchInfo(<L>): get idx of partition 5 [korvcfg] fail"}},
        {"NamesIgnoreCase", false, {},
         [] {
             auto entries = ctl::read_fis(7);
             for (auto &e : entries)
                 if (e.name == "zImage")
                     e.name = "ZIMAGE";
             ASSERT_TRUE(ctl::write_fis(7, entries));
         },
         0, {}, {{"zImage", {0x1C8A40, 3, 0}}}},
        {"DeviceInfoUnreadable", false, {}, [] { ctl::fail_request("/dev/mtd7", "MEMGETINFO", EIO); }, -1,
         {"KORVMTDGetDeviceInfo(<L>): fail to get mtd size, errno = 5", "UPDTInitPatchInfo(<L>): fail to get device info"}},
    };
}

class InitPatchInfo : public testing::TestWithParam<InitCase> {};

TEST_P(InitPatchInfo, FillsTheTable)
{
    const InitCase &c = GetParam();
    korvtest::RedBootOptions flash;
    flash.junior = c.junior;
    korvtest::build_redboot_flash(flash);
    korvtest::Package package;
    package.images = c.images;
    korvtest::build_package(package);
    c.setup();
    updatertest::enter_layout(c.junior);
    auto entries = updatertest::read_directory();
    korvtest::syslog_clear();

    EXPECT_EQ(UPDTInitPatchInfo(entries.data(), static_cast<int>(entries.size())), c.result);
    for (const auto &text : c.syslog)
        EXPECT_TRUE(korvtest::syslog_has_pattern(text)) << text << "\n" << korvtest::syslog_dump();
    if (c.result == 0) {
        EXPECT_EQ(gEraseBlockSize, kBlock);
    }
    for (const auto &[part, row] : c.rows) {
        const UPDTPATCHINFO *e = nullptr;
        for (int i = 0; i < gnPartition; ++i)
            if (part == gPatchInfo[i].name)
                e = &gPatchInfo[i];
        ASSERT_TRUE(e) << part;
        EXPECT_EQ(e->datalen, row[0]) << part;
        EXPECT_EQ(e->balance, row[1]) << part;
        EXPECT_EQ(e->fneedupdate, row[2]) << part;
        EXPECT_EQ(e->adjust, 0) << part;
        int idx = GetIdxByName(e->name, entries.data(), static_cast<int>(entries.size()));
        ASSERT_GE(idx, 0);
        EXPECT_EQ(e->start, entries[idx].flash_base) << part;
        EXPECT_EQ(e->size, entries[idx].size) << part;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, InitPatchInfo, testing::ValuesIn(InitCases()),
                         [](const auto &info) { return info.param.name; });

TEST(InitPatchInfoArguments, AreChecked)
{
    updatertest::enter_layout(false);
    KORVMTDFISENTRY one {};
    EXPECT_EQ(UPDTInitPatchInfo(nullptr, 8), -1);
    EXPECT_EQ(UPDTInitPatchInfo(&one, 0), -1);
    EXPECT_TRUE(korvtest::syslog_has_pattern("UPDTInitPatchInfo(<L>): parameter error "));
}

// ---- the lookups ----

KORVMTDFISENTRY Entry(const std::string &name, uint32_t base = 0, uint32_t size = 0)
{
    KORVMTDFISENTRY e {};
    memcpy(e.name, name.data(), std::min(name.size(), sizeof e.name));
    e.flash_base = base;
    e.size = size;
    return e;
}

TEST(Lookups, ByNameIgnoringCase)
{
    updatertest::enter_layout(false);
    // A name of 16 bytes has no NUL: it is read as its 16 bytes and no further.
    std::vector<KORVMTDFISENTRY> dir = {Entry("RedBoot"), Entry("zImageAndMore16b"), Entry("ZIMAGE"), Entry("zimage")};
    EXPECT_EQ(GetIdxByName("zImage", dir.data(), 4), 2);
    EXPECT_EQ(GetIdxByName("zimageandmore16B", dir.data(), 4), 1);
    EXPECT_EQ(GetIdxByName("zImageAndMore16by", dir.data(), 4), -1);
    EXPECT_TRUE(korvtest::syslog_has_pattern("GetIdxByName(<L>): unknown partition name [zImageAndMore16by]"));
    EXPECT_EQ(GetIdxByName("zImage", dir.data(), 2), -1);
    EXPECT_EQ(GetIdxByName(nullptr, dir.data(), 4), -1);
    EXPECT_EQ(GetIdxByName("zImage", nullptr, 4), -1);
    EXPECT_TRUE(korvtest::syslog_has_pattern("GetIdxByName(<L>): parameter error"));

    EXPECT_STREQ(SzUPDTGetDeviceByName("redboot config"), "/dev/mtd6");
    EXPECT_STREQ(SzUPDTGetDeviceByName("AllLib.tgz"), "/dev/mtd3");
    EXPECT_EQ(SzUPDTGetDeviceByName("AllLib"), nullptr);
    EXPECT_TRUE(korvtest::syslog_has_pattern("SzUPDTGetDeviceByName(<L>): unknown partition name [AllLib]"));
    EXPECT_EQ(SzUPDTGetDeviceByName(nullptr), nullptr);
    EXPECT_TRUE(korvtest::syslog_has_pattern("SzUPDTGetDeviceByName(<L>): parameter error"));

    updatertest::enter_layout(true);
    EXPECT_STREQ(SzUPDTGetDeviceByName("vendor"), "/dev/mtd3");
    EXPECT_EQ(SzUPDTGetDeviceByName("korvcfg"), nullptr);

    for (const char *fixed : {"korvcfg", "VENDOR", "RedBoot Config", "fis directory"})
        EXPECT_EQ(UPDTIsFixedPartition(fixed), 1) << fixed;
    for (const char *moving : {"RedBoot", "zImage", "rd.gz", "AllLib.tgz", "FIS Directory2", ""})
        EXPECT_EQ(UPDTIsFixedPartition(moving), 0) << moving;
    EXPECT_EQ(UPDTIsFixedPartition(nullptr), 0);
}

TEST(Lookups, NeedResizeWhenABalanceIsNegative)
{
    UPDTPATCHINFO t[3] = {{"a", "a", 0, 0, 0, 2, 0, 0}, {"b", "b", 0, 0, 0, 0, 0, 0}, {"c", "c", 0, 0, 0, -1, 0, 0}};
    EXPECT_EQ(UPDTIsNeedResize(t, 3), 1);
    EXPECT_EQ(UPDTIsNeedResize(t, 2), 0);
    EXPECT_EQ(UPDTIsNeedResize(t, 0), 0);
    EXPECT_EQ(UPDTIsNeedResize(t, -1), 0);
}

// ---- the adjustment ----

// One entry as the adjustment sees it: name, balance; start and size follow the 8-partition
// layout of the tree (blocks of 64 KiB from 0xFF800000, RedBoot near the top).
struct Row {
    const char *name;
    int32_t balance;
    int32_t fneedupdate = 0;
};

struct Expect {
    int32_t balance, adjust;
    uint32_t start, size;
    int32_t fneedupdate;
};

struct AdjustCase {
    std::string name;
    std::vector<Row> rows;
    int result;
    std::vector<Expect> after;  // per row; empty: not looked at
    std::string message = "";   // "<L>": a line number
};

void PrintTo(const AdjustCase &c, std::ostream *os)
{
    *os << c.name;
}

// Places of the 8-partition layout in table order.
const std::map<std::string, std::pair<uint32_t, uint32_t>> kPlaces = {
    {"RedBoot", {0xFFFB0000, 0x40000}},     {"zImage", {0xFF800000, 0x200000}},
    {"rd.gz", {0xFFA00000, 0x300000}},      {"AllLib.tgz", {0xFFD00000, 0x280000}},
    {"vendor", {0xFFF80000, 0x10000}},      {"korvcfg", {0xFFF90000, 0x10000}},
    {"RedBoot Config", {0xFFFA0000, 0x10000}}, {"FIS Directory", {0xFFFF0000, 0x10000}},
};

std::vector<UPDTPATCHINFO> Table(const std::vector<Row> &rows)
{
    std::vector<UPDTPATCHINFO> t;
    for (const Row &r : rows) {
        auto [start, size] = kPlaces.at(r.name);
        t.push_back({r.name, r.name, start, 0, size, r.balance, 0, r.fneedupdate});
    }
    t.push_back({});
    return t;
}

std::vector<AdjustCase> AdjustCases()
{
    const std::vector<Row> eight = {{"RedBoot", 0},      {"zImage", 0},  {"rd.gz", 0},          {"AllLib.tgz", 0},
                                    {"vendor", 0},       {"korvcfg", 0}, {"RedBoot Config", 0}, {"FIS Directory", 0}};
    auto with = [&](std::map<std::string, int32_t> balances) {
        std::vector<Row> rows = eight;
        for (Row &r : rows)
            if (balances.count(r.name))
                r.balance = balances[r.name];
        return rows;
    };
    constexpr uint32_t b = kBlock;
    return {
        {"BothBlocksFromTheGreatest", with({{"zImage", -2}, {"rd.gz", 1}, {"AllLib.tgz", 3}}), 0,
         {{0, 0, 0xFFFB0000, 0x40000, 0},
          {0, 2, 0xFF800000, 0x200000 + 2 * b, 1},
          {1, 0, 0xFFA00000 + 2 * b, 0x300000, 1},
          {1, -2, 0xFFD00000 + 2 * b, 0x280000 - 2 * b, 1},
          {0, 0, 0xFFF80000, 0x10000, 0}}},
        {"TieGoesToTheEarlierThenTheGreater", with({{"zImage", -2}, {"rd.gz", 3}, {"AllLib.tgz", 3}}), 0,
         {{0, 0, 0xFFFB0000, 0x40000, 0},
          {0, 2, 0xFF800000, 0x200000 + 2 * b, 1},
          {2, -1, 0xFFA00000 + 2 * b, 0x300000 - b, 1},
          {2, -1, 0xFFD00000 + b, 0x280000 - b, 1}}},
        {"RedBootNeverGives", with({{"RedBoot", 9}, {"rd.gz", 1}, {"zImage", -1}}), 0,
         {{9, 0, 0xFFFB0000, 0x40000, 0}, {0, 1, 0xFF800000, 0x200000 + b, 1}, {0, -1, 0xFFA00000 + b, 0x300000 - b, 1},
          {0, 0, 0xFFD00000, 0x280000, 0}}},
        {"OnlyRedBootAndFixedHaveSpare",
         with({{"RedBoot", 3}, {"vendor", 1}, {"korvcfg", 2}, {"RedBoot Config", 1}, {"FIS Directory", 4},
               {"zImage", -1}}),
         -1, {}, "ErrUPDTAdjustPartitionSize(<L>): negative balance"},
        {"DonorsRunOut", with({{"zImage", -3}, {"rd.gz", 1}, {"AllLib.tgz", 1}}), -1, {},
         "ErrUPDTAdjustPartitionSize(<L>): negative balance"},
        {"ZImageTakesOneFromAllLib", with({{"AllLib.tgz", 3}, {"zImage", -1}}), 0,
         {{0, 0, 0xFFFB0000, 0x40000, 0},
          {0, 1, 0xFF800000, 0x200000 + b, 1},
          {0, 0, 0xFFA00000 + b, 0x300000, 1},
          {2, -1, 0xFFD00000 + b, 0x280000 - b, 1},
          {0, 0, 0xFFF80000, 0x10000, 0},
          {0, 0, 0xFFF90000, 0x10000, 0},
          {0, 0, 0xFFFA0000, 0x10000, 0},
          {0, 0, 0xFFFF0000, 0x10000, 0}}},
        // The blocks are booked for the fixed partition, which stays where it is.
        {"FixedPartitionIsGivenButNotMoved", with({{"vendor", -1}, {"AllLib.tgz", 2}}), 0,
         {{0, 0, 0xFFFB0000, 0x40000, 0},
          {0, 0, 0xFF800000, 0x200000, 0},
          {0, 0, 0xFFA00000, 0x300000, 0},
          {1, -1, 0xFFD00000, 0x280000 - b, 1},
          {0, 1, 0xFFF80000, 0x10000, 0}}},
        {"NothingToDo", eight, 0,
         {{0, 0, 0xFFFB0000, 0x40000, 0}, {0, 0, 0xFF800000, 0x200000, 0}, {0, 0, 0xFFA00000, 0x300000, 0}}},
    };
}

class Adjust : public testing::TestWithParam<AdjustCase> {};

TEST_P(Adjust, MovesBlocksThenPlaces)
{
    const AdjustCase &c = GetParam();
    gEraseBlockSize = kBlock;
    auto t = Table(c.rows);
    EXPECT_EQ(ErrUPDTAdjustPartitionSize(t.data(), static_cast<int>(c.rows.size())), c.result);
    for (size_t i = 0; i < c.after.size(); ++i) {
        SCOPED_TRACE(t[i].name);
        EXPECT_EQ(t[i].balance, c.after[i].balance);
        EXPECT_EQ(t[i].adjust, c.after[i].adjust);
        EXPECT_EQ(t[i].start, c.after[i].start);
        EXPECT_EQ(t[i].size, c.after[i].size);
        EXPECT_EQ(t[i].fneedupdate, c.after[i].fneedupdate);
    }
    if (!c.message.empty()) {
        EXPECT_TRUE(korvtest::syslog_has_pattern(c.message)) << korvtest::syslog_dump();
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Adjust, testing::ValuesIn(AdjustCases()),
                         [](const auto &info) { return info.param.name; });

// The donations one block at a time, the donor chosen afresh for each: the rule the counted
// adjustment must follow exactly, block for block.
bool DonateBlockByBlock(std::vector<UPDTPATCHINFO> &t, int count)
{
    auto mayDonate = [](const UPDTPATCHINFO &e) {
        return !UPDTIsFixedPartition(e.name) && std::string(e.name) != "RedBoot";
    };
    for (int i = 0; i < count; ++i) {
        while (t[i].balance < 0) {
            int donor = -1;
            for (int j = 0; j < count; ++j)
                if (j != i && mayDonate(t[j]) && (donor < 0 || t[j].balance > t[donor].balance))
                    donor = j;
            if (donor < 0 || t[donor].balance <= 0)
                return false;
            --t[donor].balance, --t[donor].adjust, ++t[i].balance, ++t[i].adjust;
        }
    }
    return true;
}

TEST(AdjustCounted, GivesWhatBlockByBlockWould)
{
    const char *const names[] = {"RedBoot", "zImage", "rd.gz", "AllLib.tgz", "vendor", "korvcfg"};
    uint32_t seed = 7;
    auto next = [&seed](int range) {
        seed = seed * 1103515245u + 12345u;
        return static_cast<int32_t>((seed >> 16) % static_cast<uint32_t>(range));
    };
    for (int round = 0; round < 400; ++round) {
        std::vector<Row> rows;
        for (const char *name : names)
            rows.push_back({name, next(13) - 5});
        auto counted = Table(rows);
        auto reference = Table(rows);
        bool fits = DonateBlockByBlock(reference, 6);
        // Blocks of 0 bytes: the places stay, only the donations are compared.
        EXPECT_EQ(UPDTAdjustPlan("ErrUPDTAdjustPartitionSize", counted.data(), 6, 0), fits ? 0 : -1);
        for (size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(counted[i].balance, reference[i].balance) << "round " << round << ", " << rows[i].name;
            EXPECT_EQ(counted[i].adjust, reference[i].adjust) << "round " << round << ", " << rows[i].name;
        }
    }
}

// A 1-byte erase block counts partitions in the millions of blocks: the adjustment is counted,
// not walked block by block.
TEST(AdjustCounted, MillionsOfBlocksAtOnce)
{
    auto t = Table({{"RedBoot", 0}, {"zImage", -1500000000}, {"rd.gz", 1000000000}, {"AllLib.tgz", 800000000}});
    // The counted result only: places are not looked at, the blocks being bytes here.
    EXPECT_EQ(UPDTAdjustPlan("ErrUPDTAdjustPartitionSize", t.data(), 4, 0), 0) << korvtest::syslog_dump();
    EXPECT_EQ(t[1].balance, 0);
    EXPECT_EQ(t[1].adjust, 1500000000);
    // rd.gz gives down to AllLib.tgz's balance and one more (it comes first), then they take turns.
    EXPECT_EQ(t[2].balance, 150000000);
    EXPECT_EQ(t[2].adjust, -850000000);
    EXPECT_EQ(t[3].balance, 150000000);
    EXPECT_EQ(t[3].adjust, -650000000);
}

// ---- the check of the plan after the adjustment ----

struct PlanCase {
    std::string name;
    bool junior;
    std::map<std::string, int32_t> balances;  // the rest as the tree's layout has them
    int result;
    std::string message;  // "" for a plan that passes
};

void PrintTo(const PlanCase &c, std::ostream *os)
{
    *os << c.name;
}

std::vector<PlanCase> PlanCases()
{
    return {
        {"GrowingIntoTheNextOfTheSameRow", false, {{"zImage", -1}, {"AllLib.tgz", 3}}, 0, ""},
        {"RedBootGrowsOverTheDirectory", false, {{"RedBoot", -1}, {"AllLib.tgz", 3}}, -1,
         "ErrUPDTCheckPatchPlan(<L>): partition [RedBoot] at 0xFFFB0000 of 0x00050000 bytes overlaps [FIS Directory]"},
        {"JuniorKernelGrowsOverVendor", true, {{"zImage", -1}, {"rd.gz", 2}}, -1,
         "ErrUPDTCheckPatchPlan(<L>): partition [zImage] at 0xFFE00000 of 0x000E0000 bytes overlaps [vendor]"},
        {"JuniorRamdiskMovesOverRedBoot", true, {{"rd.gz", -1}, {"zImage", 2}}, -1,
         "ErrUPDTCheckPatchPlan(<L>): partition [rd.gz] at 0xFFF30000 of 0x000C0000 bytes overlaps [RedBoot]"},
        {"FixedPartitionGivenBlocks", false, {{"korvcfg", -1}, {"AllLib.tgz", 2}}, -1,
         "ErrUPDTCheckPatchPlan(<L>): the fixed partition [korvcfg] cannot take 1 more erase blocks"},
    };
}

class CheckPlan : public testing::TestWithParam<PlanCase> {};

TEST_P(CheckPlan, RefusesWhatTheFlashCannotHold)
{
    const PlanCase &c = GetParam();
    korvtest::RedBootOptions flash;
    flash.junior = c.junior;
    korvtest::build_redboot_flash(flash);
    korvtest::build_package({});
    updatertest::enter_layout(c.junior);
    auto entries = updatertest::read_directory();
    int n = static_cast<int>(entries.size());
    ASSERT_EQ(UPDTInitPatchInfo(entries.data(), n), 0);
    for (int i = 0; i < gnPartition; ++i)
        if (c.balances.count(gPatchInfo[i].name))
            gPatchInfo[i].balance = c.balances.at(gPatchInfo[i].name);
    ASSERT_EQ(ErrUPDTAdjustPartitionSize(gPatchInfo, gnPartition), 0);
    korvtest::syslog_clear();
    EXPECT_EQ(ErrUPDTCheckPatchPlan(gPatchInfo, gnPartition, entries.data(), n), c.result);
    if (c.message.empty()) {
        EXPECT_TRUE(korvtest::syslog_lines().empty()) << korvtest::syslog_dump();
    } else {
        EXPECT_TRUE(korvtest::syslog_has_pattern(c.message)) << korvtest::syslog_dump();
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, CheckPlan, testing::ValuesIn(PlanCases()),
                         [](const auto &info) { return info.param.name; });

// The flash is what the directory spans: nothing moves below its lowest or beyond its highest byte.
TEST(CheckPlanEdges, LeavingTheFlashAndEmptyPartitions)
{
    updatertest::enter_layout(false);
    std::vector<KORVMTDFISENTRY> dir = {Entry("RedBoot", 0xFFF00000, 0x40000), Entry("zImage", 0xFFF40000, 0xB0000),
                                        Entry("FIS Directory", 0xFFFF0000, 0x10000)};
    UPDTPATCHINFO grown[] = {{"zImage", "zImage", 0xFFF40000, 0, 0xC0000, 0, 1, 1}, {}};
    EXPECT_EQ(ErrUPDTCheckPatchPlan(grown, 1, dir.data(), 3), -1);
    EXPECT_TRUE(korvtest::syslog_has_pattern(
        "ErrUPDTCheckPatchPlan(<L>): partition [zImage] at 0xFFF40000 of 0x000C0000 bytes overlaps [FIS Directory]"));
    UPDTPATCHINFO beyond[] = {{"zImage", "zImage", 0xFFF40000, 0, 0xD0000, 0, 2, 1}, {}};
    EXPECT_EQ(ErrUPDTCheckPatchPlan(beyond, 1, dir.data(), 3), -1);
    EXPECT_TRUE(korvtest::syslog_has_pattern(
        "ErrUPDTCheckPatchPlan(<L>): partition [zImage] at 0xFFF40000 of 0x000D0000 bytes leaves the flash"));
    UPDTPATCHINFO below[] = {{"zImage", "zImage", 0xFFEF0000, 0, 0xB0000, 0, 0, 1}, {}};
    EXPECT_EQ(ErrUPDTCheckPatchPlan(below, 1, dir.data(), 3), -1);
    EXPECT_TRUE(korvtest::syslog_has_pattern(
        "ErrUPDTCheckPatchPlan(<L>): partition [zImage] at 0xFFEF0000 of 0x000B0000 bytes leaves the flash"));
    UPDTPATCHINFO empty[] = {{"zImage", "zImage", 0xFFF40000, 0, 0, 0, -11, 1}, {}};
    EXPECT_EQ(ErrUPDTCheckPatchPlan(empty, 1, dir.data(), 3), -1);
    EXPECT_TRUE(korvtest::syslog_has_pattern("ErrUPDTCheckPatchPlan(<L>): partition [zImage] would have no erase block"));
    UPDTPATCHINFO same[] = {{"zImage", "zImage", 0xFFF40000, 0, 0xB0000, 0, 0, 1}, {}};
    EXPECT_EQ(ErrUPDTCheckPatchPlan(same, 1, dir.data(), 3), 0);
}

}  // namespace
