// The MSys engine's requests and plan in-process: the partition table as eight entries, the
// re-partitioning requests, and the plan in 16 KiB units with its limit of 967.
#include <errno.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "device_tree.h"
#include "korv/simctl.h"
#include "korvtest.h"
#include "run_state.h"
#include "updater.h"
#include "updater_msys.h"

namespace ctl = korvsim::ctl;

namespace {

constexpr uint32_t kUnit = 16384;

// The requests on a device: name, arguments and result.
std::vector<std::string> RequestLines(const std::string &device)
{
    std::vector<std::string> lines;
    for (const auto &r : ctl::requests(device, ""))
        lines.push_back(r.name + (r.args.empty() ? "" : " " + r.args) + " -> " + std::to_string(r.result));
    return lines;
}

// Every descriptor opened on the device was closed again.
void ExpectClosed(const std::string &device)
{
    size_t opened = 0;
    for (const auto &r : ctl::requests(device, "OPEN"))
        opened += r.result >= 0;
    EXPECT_EQ(opened, ctl::requests(device, "CLOSE").size()) << device;
}

TEST(MSysPartitionInfo, EntriesFollowTheTableInLayoutOrder)
{
    updatertest::reset_run_state();
    UPDTChooseLayout(0);
    korvtest::MSysOptions options;
    options.units = {4, 8, 16, 12, 1, 2, 1, 1};
    options.data_lengths = {0x100, 0x12345, 0x20000, 0x2FFFF, 0x4000, 0x10, 0x4000, 0x800};
    auto parts = korvtest::build_msys_flash(options);

    KORVMTDFISENTRY entries[UPDT_MSYS_PARTITIONS];
    memset(entries, 0xEE, sizeof entries);
    ASSERT_EQ(UPDTMSysGetPartitionInfo(entries), 8);
    uint32_t base = 0;
    for (int i = 0; i < 8; ++i) {
        EXPECT_STREQ(entries[i].name, gPatchInfo[i].name) << i;
        EXPECT_EQ(entries[i].flash_base, base) << i;
        EXPECT_EQ(entries[i].size, options.units[i] * kUnit) << i;
        EXPECT_EQ(entries[i].data_length, parts[i].data_length) << i;
        EXPECT_EQ(entries[i].mem_base, 0u) << i;
        EXPECT_EQ(entries[i].padding[211], 0) << i;
        base += entries[i].size;
    }
}

TEST(MSysPartitionInfo, FailuresAreMinusOneWithTheirMessage)
{
    updatertest::reset_run_state();
    UPDTChooseLayout(0);
    korvtest::build_msys_flash();
    KORVMTDFISENTRY entries[UPDT_MSYS_PARTITIONS];
    ctl::fail_request("/dev/mtd0", "OPEN", ENODEV);
    EXPECT_EQ(UPDTMSysGetPartitionInfo(entries), -1);
    EXPECT_TRUE(korvtest::syslog_has_pattern("UPDTMSysGetPartitionInfo(<L>): fail to open /dev/mtd0, errno = 19"));
    ctl::fail_request("/dev/mtd0", "MSYS_GET_TABLE", EIO);
    EXPECT_EQ(UPDTMSysGetPartitionInfo(entries), -1);
    EXPECT_TRUE(korvtest::syslog_has_pattern(
        "UPDTMSysGetPartitionInfo(<L>): fail to get partition information, errno = 5"));
    ExpectClosed("/dev/mtd0");
}

// The plan counts in whole units: a table of anything else is refused before it is used.
TEST(MSysPartitionInfo, TableOfOtherThanWholeUnitsIsRefused)
{
    struct Case {
        const char *name;
        int window;
        uint32_t size;
        uint32_t data_length;
    };
    for (const Case &c : {Case{"SizeOfPartUnits", 3, 8 * kUnit + 512, 0x100},
                          Case{"EmptyPartition", 5, 0, 0},
                          Case{"DataBeyondTheSize", 2, 8 * kUnit, 8 * kUnit + 1},
                          Case{"MoreThanTheFlash", 7, 960 * kUnit, 0x800}}) {
        SCOPED_TRACE(c.name);
        updatertest::reset_run_state();
        UPDTChooseLayout(0);
        korvtest::MSysOptions options;
        options.units = {4, 8, 8, 8, 1, 1, 1, 1};
        korvtest::build_msys_flash(options);
        // The window's place does not matter: the table gives sizes only (0 for a missing one).
        if (c.size)
            ASSERT_TRUE(ctl::define_window(c.window, 0, c.size, false, c.data_length));
        else
            ASSERT_TRUE(ctl::remove_window(c.window));
        korvtest::syslog_clear();
        KORVMTDFISENTRY entries[UPDT_MSYS_PARTITIONS];
        EXPECT_EQ(UPDTMSysGetPartitionInfo(entries), -1);
        EXPECT_TRUE(korvtest::syslog_contains("): partition " + std::to_string(c.window) + " of "))
            << korvtest::syslog_dump();
    }
}

class MSysFormat : public testing::Test {
protected:
    void SetUp() override
    {
        updatertest::reset_run_state();
        UPDTChooseLayout(0);
        korvtest::build_msys_flash();
        ctl::clear_requests();
    }
};

TEST_F(MSysFormat, FormatsThenPartitionsIntoTheCounts)
{
    const uint32_t counts[8] = {16, 129, 255, 400, 4, 4, 4, 4};
    ASSERT_EQ(UPDTMSysFormat(counts, 8), 0) << korvtest::syslog_dump();
    auto lines = RequestLines("/dev/mtd0");
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].substr(0, 14), "OPEN O_RDWR ->");
    EXPECT_EQ(lines[1], "MSYS_FORMAT units=967 -> 0");
    EXPECT_EQ(lines[2], "MSYS_PARTITION units=16,129,255,400,4,4,4,4 -> 0");
    EXPECT_EQ(lines[3], "CLOSE -> 0");
    uint32_t base = 0;
    for (int i = 0; i < 8; ++i) {
        auto w = ctl::window(i);
        ASSERT_TRUE(w) << i;
        EXPECT_EQ(w->base, base) << i;
        EXPECT_EQ(w->size, counts[i] * kUnit) << i;
        base += w->size;
    }
    EXPECT_EQ(ctl::check_windows(), "");
}

TEST_F(MSysFormat, RefusesWhatIsNotEightCounts)
{
    const uint32_t counts[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
    EXPECT_EQ(UPDTMSysFormat(nullptr, 8), -1);
    EXPECT_EQ(UPDTMSysFormat(counts, 7), -1);
    EXPECT_EQ(UPDTMSysFormat(counts, 9), -1);
    EXPECT_TRUE(korvtest::syslog_has_pattern("UPDTMSysFormat(<L>): parameter error"));
    EXPECT_TRUE(ctl::requests("/dev/mtd0", "").empty());
}

TEST_F(MSysFormat, EachFailingStepStopsWithItsMessage)
{
    const uint32_t counts[8] = {16, 128, 256, 400, 4, 4, 4, 4};
    struct Step {
        const char *request;
        const char *message;
        size_t partitionRequests;
    };
    for (const Step &s : {Step{"OPEN", "UPDTMSysFormat(<L>): failed to open /dev/mtd0, errno = 5", 0},
                          Step{"MSYS_FORMAT", "UPDTMSysFormat(<L>): failed to format, errno = 5", 0},
                          Step{"MSYS_PARTITION", "UPDTMSysFormat(<L>): failed to partition, errno = 5", 1}}) {
        SCOPED_TRACE(s.request);
        ctl::clear_requests();
        korvtest::syslog_clear();
        ctl::fail_request("/dev/mtd0", s.request, EIO);
        EXPECT_EQ(UPDTMSysFormat(counts, 8), -1);
        EXPECT_TRUE(korvtest::syslog_has_pattern(s.message)) << korvtest::syslog_dump();
        EXPECT_EQ(ctl::requests("/dev/mtd0", "MSYS_PARTITION").size(), s.partitionRequests);
        ExpectClosed("/dev/mtd0");
    }
    // The partitions the failures left are the old ones.
    EXPECT_EQ(ctl::window(3)->size, 400 * kUnit);
}

// One plan: the table's sizes (units) and data lengths, the package's images, and what the plan
// says of them.
struct PlanCase {
    const char *name;
    std::vector<uint32_t> units;
    std::vector<uint32_t> lengths;
    std::map<std::string, size_t> images;
    int result;
    std::vector<std::string> syslog;
    std::vector<int32_t> balance = {};  // per partition, when checked
};

const std::vector<uint32_t> kFull967 = {16, 128, 256, 551, 4, 4, 4, 4};

std::vector<uint32_t> Bytes(const std::vector<uint32_t> &units)
{
    std::vector<uint32_t> bytes;
    for (uint32_t u : units)
        bytes.push_back(u * kUnit);
    return bytes;
}

std::vector<PlanCase> PlanCases()
{
    std::vector<uint32_t> over = Bytes(kFull967);
    over[3] += 1;
    std::vector<uint32_t> small = {4 * kUnit, 0x12345, 3 * kUnit, 0x100, 0x4000, 0x4000, 0x4000, 0x800};
    return {
        {"DataOf967UnitsFits", kFull967, Bytes(kFull967), {}, 0,
         {"Available flash units = 967 blocks, eraseblock = 16384 bytes",
          "PATCHINFO: partition[AllLib.tgz], file[AllLib.tgz], start = [0x00640000], size[0x0089C000], "
          "datalen=[0x0089C000], nblock[551], balance[0], fneedupdate[0]"},
         {0, 0, 0, 0, 0, 0, 0, 0}},
        {"DataOf968UnitsIsRefused", kFull967, over, {}, -1,
         {"UPDTMSysInitPatchInfo(<L>): the binary size exceeds flash size limit(total = 968 blocks)"}},
        {"ImagesOf968UnitsAreRefused", kFull967, Bytes(kFull967), {{"zImage", 129 * kUnit}}, -1,
         {"UPDTMSysInitPatchInfo(<L>): the binary size exceeds flash size limit(total = 968 blocks)"}},
        {"ImagesOf967UnitsFit", kFull967, Bytes({16, 128, 256, 550, 4, 4, 4, 4}), {{"zImage", 129 * kUnit}}, 0,
         {"PATCHINFO: partition[zImage], file[zImage], start = [0x00040000], size[0x00200000], "
          "datalen=[0x00204000], nblock[129], balance[-1], fneedupdate[1]"},
         {0, -1, 0, 1, 0, 0, 0, 0}},
        {"ImageOfWholeUnitsAndOneByteMore", {4, 8, 8, 8, 1, 1, 1, 1}, small,
         {{"zImage", 2 * kUnit}, {"rd.bin", 2 * kUnit + 1}}, 0,
         {"PATCHINFO: partition[zImage], file[zImage], start = [0x00010000], size[0x00020000], "
          "datalen=[0x00008000], nblock[2], balance[6], fneedupdate[1]",
          "PATCHINFO: partition[rd.gz], file[rd.bin], start = [0x00030000], size[0x00020000], "
          "datalen=[0x00008001], nblock[3], balance[5], fneedupdate[1]"},
         {0, 6, 5, 7, 0, 0, 0, 0}},
        {"AbsentImagesKeepTheTablesLength", {4, 8, 8, 8, 1, 1, 1, 1}, small, {{"zImage", 100}}, 0,
         {"UPDTMSysInitPatchInfo(<L>): file [RedBoot.msys] not included in the patch package ",
          "UPDTMSysInitPatchInfo(<L>): file [rd.bin] not included in the patch package ",
          "UPDTMSysInitPatchInfo(<L>): file [FIS Directory] not included in the patch package ",
          "PATCHINFO: partition[rd.gz], file[rd.bin], start = [0x00030000], size[0x00020000], "
          "datalen=[0x0000C000], nblock[3], balance[5], fneedupdate[0]",
          "PATCHINFO: partition[RedBoot Config], file[RedBoot Config], start = [0x00078000], size[0x00004000], "
          "datalen=[0x00004000], nblock[1], balance[0], fneedupdate[0]"}},
    };
}

void PrintTo(const PlanCase &c, std::ostream *os)
{
    *os << c.name;
}

class MSysPlan : public testing::TestWithParam<PlanCase> {};

TEST_P(MSysPlan, CountsUnitsOfTheFlash)
{
    const PlanCase &c = GetParam();
    updatertest::reset_run_state();
    UPDTChooseLayout(0);
    korvtest::Package package;
    for (const auto &[file, size] : c.images)
        package.images[file] = size;
    korvtest::build_package(package);
    ASSERT_EQ(chdir(gszWorkDir), 0);

    KORVMTDFISENTRY entries[UPDT_MSYS_PARTITIONS] = {};
    uint32_t base = 0;
    for (int i = 0; i < 8; ++i) {
        strcpy(entries[i].name, gPatchInfo[i].name);
        entries[i].flash_base = base;
        entries[i].size = c.units[i] * kUnit;
        entries[i].data_length = c.lengths[i];
        base += entries[i].size;
    }
    EXPECT_EQ(UPDTMSysInitPatchInfo(entries, 8), c.result) << korvtest::syslog_dump();
    EXPECT_EQ(gEraseBlockSize, kUnit);
    for (const auto &text : c.syslog)
        EXPECT_TRUE(korvtest::syslog_has_pattern(text)) << "no message \"" << text << "\" in:\n"
                                                         << korvtest::syslog_dump();
    for (size_t i = 0; i < c.balance.size(); ++i) {
        const UPDTPATCHINFO &p = gPatchInfo[i];
        EXPECT_EQ(p.balance, c.balance[i]) << p.name;
        EXPECT_EQ(p.start, entries[i].flash_base) << p.name;
        EXPECT_EQ(p.size, entries[i].size) << p.name;
        EXPECT_EQ(p.adjust, 0) << p.name;
        bool image = c.images.count(p.file) != 0;
        EXPECT_EQ(p.fneedupdate, image ? 1 : 0) << p.name;
        EXPECT_EQ(p.datalen, image ? c.images.at(p.file) : entries[i].data_length) << p.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Plans, MSysPlan, testing::ValuesIn(PlanCases()),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(MSysPlanRefusal, OnlyTheEightPartitionLayoutFits)
{
    updatertest::reset_run_state();
    KORVMTDFISENTRY entries[UPDT_MSYS_PARTITIONS] = {};
    for (auto &e : entries)
        e.size = 4 * kUnit;
    UPDTChooseLayout(1);
    EXPECT_EQ(UPDTMSysInitPatchInfo(entries, 8), -1);
    EXPECT_TRUE(korvtest::syslog_has_pattern(
        "UPDTMSysInitPatchInfo(<L>): the MSys flash needs the layout of 8 partitions, not of 6"));
    UPDTChooseLayout(0);
    EXPECT_EQ(UPDTMSysInitPatchInfo(entries, 6), -1);
    EXPECT_EQ(UPDTMSysInitPatchInfo(nullptr, 8), -1);
    EXPECT_EQ(UPDTMSysInitPatchInfo(entries, 0), -1);
    EXPECT_TRUE(korvtest::syslog_has_pattern("UPDTMSysInitPatchInfo(<L>): parameter error "));
    EXPECT_FALSE(korvtest::syslog_contains("PATCHINFO: "));
}

TEST(MSysWriteRefusal, NeedsEntriesAndAFlag)
{
    updatertest::reset_run_state();
    UPDTChooseLayout(0);
    korvtest::build_msys_flash();
    ctl::clear_requests();
    KORVMTDFISENTRY entries[UPDT_MSYS_PARTITIONS] = {};
    int flag = 0;
    EXPECT_EQ(UPDTMSysDoPatch(nullptr, 8, &flag), -1);
    EXPECT_EQ(UPDTMSysDoPatch(entries, 0, &flag), -1);
    EXPECT_EQ(UPDTMSysDoPatch(entries, 8, nullptr), -1);
    EXPECT_TRUE(korvtest::syslog_has_pattern("UPDTMSysDoPatch(<L>): parameter error "));
    EXPECT_EQ(UPDTMSysRollBack(nullptr, 8, 1), -1);
    EXPECT_EQ(UPDTMSysRollBack(entries, -1, 1), -1);
    EXPECT_TRUE(korvtest::syslog_has_pattern("UPDTMSysRollBack(<L>): parameter error "));
    EXPECT_EQ(flag, 0);
    EXPECT_TRUE(ctl::requests("/dev/mtd0", "").empty());
}

}  // namespace
