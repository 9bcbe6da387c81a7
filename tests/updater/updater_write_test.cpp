// The pieces of the RedBoot write on their own: the copy and the verify with their checks, the
// repair of the junior directory and its error codes, and the locking of every partition.
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "device_tree.h"
#include "flash_tree.h"
#include "korv/error.h"
#include "korv/simctl.h"
#include "korvtest.h"
#include "updater_patch.h"
#include "updater_redboot.h"

namespace ctl = korvsim::ctl;

namespace {

const std::string kImage = "/volume1/upd@te/zImage";

class Write : public testing::Test {
protected:
    void SetUp() override
    {
        korvtest::build_redboot_flash();
        korvtest::Package package;
        package.images = {{"zImage", kSize}};
        korvtest::build_package(package);
        updatertest::enter_layout(false);
        korvtest::syslog_clear();
    }
    static constexpr size_t kSize = 0x9123;
};

TEST_F(Write, CopyThenVerify)
{
    ASSERT_EQ(KORVMTDErasePartition("/dev/mtd1"), 0);
    EXPECT_EQ(UPDTCopyFile(kImage.c_str(), "/dev/mtd1", kSize, 16384), 0) << korvtest::syslog_dump();
    EXPECT_EQ(UPDTVerifyFile(kImage.c_str(), "/dev/mtd1", kSize, 8192), 0) << korvtest::syslog_dump();
    auto bytes = ctl::read_window(1);
    auto want = korvtest::image_bytes("zImage", kSize, korvtest::Package{}.seed);
    EXPECT_TRUE(std::equal(want.begin(), want.end(), bytes.begin()));
    EXPECT_EQ(bytes[kSize], 0xFF);
    // Chunks as asked: three of 16 KiB written (the last short), five of 8 KiB read.
    EXPECT_EQ(ctl::requests("/dev/mtd1", "WRITE").size(), 3u);
    EXPECT_EQ(ctl::requests("/dev/mtd1", "READ").size(), 5u);
}

TEST_F(Write, ArgumentsWithoutMessage)
{
    EXPECT_EQ(UPDTCopyFile(nullptr, "/dev/mtd1", kSize, 16384), -1);
    EXPECT_EQ(UPDTCopyFile(kImage.c_str(), nullptr, kSize, 16384), -1);
    EXPECT_EQ(UPDTCopyFile(kImage.c_str(), "/dev/mtd1", 0, 16384), -1);
    EXPECT_EQ(UPDTCopyFile(kImage.c_str(), "/dev/mtd1", kSize, 0), -1);
    EXPECT_EQ(UPDTVerifyFile(kImage.c_str(), "/dev/mtd1", 0, 8192), -1);
    EXPECT_EQ(UPDTVerifyFile(kImage.c_str(), "/dev/mtd1", kSize, 0), -1);
    EXPECT_TRUE(korvtest::syslog_lines().empty()) << korvtest::syslog_dump();
    EXPECT_TRUE(ctl::requests("/dev/mtd1", "OPEN").empty());
}

// Descriptor 0 is a descriptor like any other.
TEST_F(Write, ImageOnDescriptorZero)
{
    ASSERT_EQ(KORVMTDErasePartition("/dev/mtd1"), 0);
    close(0);
    EXPECT_EQ(UPDTCopyFile(kImage.c_str(), "/dev/mtd1", kSize, 16384), 0) << korvtest::syslog_dump();
    close(0);
    EXPECT_EQ(UPDTVerifyFile(kImage.c_str(), "/dev/mtd1", kSize, 8192), 0) << korvtest::syslog_dump();
}

struct FailCase {
    std::string name;
    std::function<void()> setup;
    std::function<int()> call;
    std::string message;  // "<L>": a line number
};

void PrintTo(const FailCase &c, std::ostream *os)
{
    *os << c.name;
}

int Copy(int64_t length)
{
    return UPDTCopyFile(kImage.c_str(), "/dev/mtd1", length, 16384);
}

int Verify(int64_t length)
{
    return UPDTVerifyFile(kImage.c_str(), "/dev/mtd1", length, 8192);
}

// The image written as it is, so that the verify has something to compare with.
void Written()
{
    ASSERT_EQ(KORVMTDErasePartition("/dev/mtd1"), 0);
    ASSERT_EQ(Copy(0x9123), 0);
}

std::vector<FailCase> FailCases()
{
    auto none = [] {};
    return {
        {"ImageShrankSinceThePlan", none, [] { return Copy(0x9124); },
         "updater.cpp:<L>(UPDTCopyFile) read file [/volume1/upd@te/zImage] only 37155 bytes, 37156 bytes needed: (0) "
         "Success."},
        {"ImageGrewSinceThePlan", none, [] { return Copy(0x9122); },
         "updater.cpp:<L>(UPDTCopyFile) read file [/volume1/upd@te/zImage] only 37155 bytes, 37154 bytes needed: (0) "
         "Success."},
        {"ImageMissing", none, [] { return UPDTCopyFile("/volume1/upd@te/none", "/dev/mtd1", 10, 16384); },
         "updater.cpp:<L>(UPDTCopyFile) open [/volume1/upd@te/none] error: (2) No such file or directory."},
        {"DeviceMissing", none, [] { return UPDTCopyFile(kImage.c_str(), "/dev/mtd9", 0x9123, 16384); },
         "updater.cpp:<L>(UPDTCopyFile) open [/dev/mtd9] error: (2) No such file or directory."},
        {"DeviceRefusesTheWrite", [] { ctl::fail_request("/dev/mtd1", "WRITE", EROFS); }, [] { return Copy(0x9123); },
         "updater.cpp:<L>(UPDTCopyFile) write file [/dev/mtd1] error: (30) Read-only file system."},
        {"DeviceTakesLess", [] { ctl::short_write("/dev/mtd1", 100, EIO); }, [] { return Copy(0x9123); },
         "updater.cpp:<L>(UPDTCopyFile) write file [/dev/mtd1] error: (5) Input/output error."},
        {"ImageEmptiedSinceThePlan", [] { ASSERT_EQ(truncate(kImage.c_str(), 0), 0); }, [] { return Copy(0x9123); },
         "updater.cpp:<L>(UPDTCopyFile) read file [/volume1/upd@te/zImage] only 0 bytes, 37155 bytes needed: (0) "
         "Success."},
        {"ByteDifferentInTheThirdChunk",
         [] {
             Written();
             ctl::corrupt_read("/dev/mtd1", 0x4000 + 77, 0x80, true);
         },
         [] { return Verify(0x9123); },
         "updater.cpp:<L>(UPDTVerifyFile) compare file [/volume1/upd@te/zImage] vs [/dev/mtd1] error at offset "
         "0x4000"},
        {"DeviceUnreadable",
         [] {
             Written();
             ctl::fail_request("/dev/mtd1", "READ", EIO);
         },
         [] { return Verify(0x9123); },
         "updater.cpp:<L>(UPDTVerifyFile) read file [/dev/mtd1] error: (5) Input/output error."},
        {"VerifyOfADifferentLength", [] { Written(); }, [] { return Verify(0x9000); },
         "updater.cpp:<L>(UPDTVerifyFile) read file [/volume1/upd@te/zImage] only 37155 bytes, 36864 bytes needed: "
         "(0) Success."},
    };
}

class WriteFails : public testing::TestWithParam<FailCase> {};

TEST_P(WriteFails, WithItsMessage)
{
    const FailCase &c = GetParam();
    korvtest::build_redboot_flash();
    korvtest::Package package;
    package.images = {{"zImage", 0x9123}};
    korvtest::build_package(package);
    updatertest::enter_layout(false);
    c.setup();
    korvtest::syslog_clear();
    EXPECT_EQ(c.call(), -1);
    EXPECT_TRUE(korvtest::syslog_has_pattern(c.message)) << korvtest::syslog_dump();
}

INSTANTIATE_TEST_SUITE_P(Cases, WriteFails, testing::ValuesIn(FailCases()),
                         [](const auto &info) { return info.param.name; });

// A plan whose image does not fit its partition, however it came about, is refused before that
// partition is erased; the ones before it are written.
TEST(DoPatch, ImageLargerThanItsPartitionIsRefusedFirst)
{
    korvtest::build_redboot_flash();
    korvtest::Package package;
    package.images = {{"zImage", 0x8000}, {"korvcfg", 0x8000}};
    korvtest::build_package(package);
    updatertest::enter_layout(false);
    auto entries = updatertest::read_directory();
    int n = static_cast<int>(entries.size());
    ASSERT_EQ(UPDTInitPatchInfo(entries.data(), n), 0);
    gPatchInfo[5].size = 0x4000;  // korvcfg, as no directory would have it
    ctl::clear_requests();
    korvtest::syslog_clear();
    EXPECT_EQ(UPDTDoPatch(entries.data(), n), -1);
    EXPECT_TRUE(korvtest::syslog_has_pattern("UPDTDoPatch(<L>): the image [korvcfg] of 0x00008000 bytes does not fit "
                                             "the partition [korvcfg] of 0x00004000 bytes"))
        << korvtest::syslog_dump();
    EXPECT_EQ(ctl::requests("/dev/mtd1", "MEMERASE").size(), 1u);
    EXPECT_TRUE(ctl::requests("/dev/mtd5", "MEMERASE").empty());
    EXPECT_TRUE(ctl::requests("/dev/mtd5", "MTD_SET_PARTITION").empty());
    EXPECT_EQ(UPDTDoPatch(nullptr, n), -1);
    EXPECT_TRUE(korvtest::syslog_has_pattern("UPDTDoPatch(<L>): parameter error "));
    EXPECT_EQ(UPDTRollBack(entries.data(), 0), -1);
    EXPECT_TRUE(korvtest::syslog_has_pattern("UPDTRollBack(<L>): parameter error "));
}

// The repair's failures record the library's codes of an open and of a write that fails.
TEST(RecoverDirectoryCodes, OpenAndWrite)
{
    korvtest::RedBootOptions flash;
    flash.junior = true;
    korvtest::build_redboot_flash(flash);
    updatertest::enter_layout(true);
    const auto old = ctl::read_window(5);
    // The old directory is read first, then the unlock and the erase open the device.
    ctl::fail_request("/dev/mtd5", "OPEN", EACCES, true, 3);
    EXPECT_EQ(RecoverFISDirTable_410VPlus_V284(), -1);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_OPEN);
    EXPECT_TRUE(ctl::window(5)->locked);
    EXPECT_TRUE(ctl::read_window(5) == old);

    ctl::clear_faults();
    ctl::short_write("/dev/mtd5", 256, 0);
    EXPECT_EQ(RecoverFISDirTable_410VPlus_V284(), -1);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_READ);
    // 256 bytes, then nothing: not again (the old directory then goes back from offset 0).
    int afterTheShortWrite = 0;
    for (const auto &q : ctl::requests("/dev/mtd5", "WRITE"))
        afterTheShortWrite += q.args.rfind("offset=0x00000100,", 0) == 0 ? 1 : 0;
    EXPECT_EQ(afterTheShortWrite, 1);
    EXPECT_TRUE(ctl::window(5)->locked);
    EXPECT_TRUE(ctl::read_window(5) == old);

    ctl::clear_faults();
    EXPECT_EQ(RecoverFISDirTable_410VPlus_V284(), 0);
    EXPECT_EQ(ctl::read_fis(5).size(), 6u);
}

// Like every step before the flash, the repair made a second time leaves what the first left.
TEST(RecoverDirectoryTwice, SecondLeavesWhatTheFirstLeft)
{
    korvtest::RedBootOptions flash;
    flash.junior = true;
    korvtest::build_redboot_flash(flash);
    updatertest::enter_layout(true);
    ASSERT_EQ(RecoverFISDirTable_410VPlus_V284(), 0);
    const auto once = ctl::read_window(5);
    EXPECT_EQ(RecoverFISDirTable_410VPlus_V284(), 0);
    EXPECT_TRUE(ctl::read_window(5) == once);
    EXPECT_TRUE(ctl::window(5)->locked);
    EXPECT_EQ(ctl::read_fis(5).size(), 6u);
}

TEST(LockAll, EveryPartitionButTheTwoDirectories)
{
    korvtest::build_redboot_flash();
    updatertest::enter_layout(false);
    EXPECT_EQ(UPDTLockAllPartitions(), 0);
    for (const auto &w : ctl::windows())
        EXPECT_EQ(w.locked, w.index != 6 && w.index != 7) << w.index;
    EXPECT_EQ(UPDTUnlockAllPartitions(), 0);
    for (const auto &w : ctl::windows())
        EXPECT_FALSE(w.locked) << w.index;
    EXPECT_EQ(UPDTLockAll(2), 0);  // any other value unlocks

    ctl::fail_request("/dev/mtd2", "MEMLOCK", EIO);
    EXPECT_EQ(UPDTLockAll(1), -1);
    EXPECT_TRUE(korvtest::syslog_has("UPDTLockAll: KORVMTDLockPartition(/dev/mtd2) fail"));
    EXPECT_TRUE(ctl::window(1)->locked);
    EXPECT_FALSE(ctl::window(3)->locked);  // the walk stops at the first failure
    ctl::fail_request("/dev/mtd0", "MEMUNLOCK", EIO);
    EXPECT_EQ(UPDTLockAll(0), -1);
    EXPECT_TRUE(korvtest::syslog_has("UPDTLockAll: KORVMTDUnlockPartition(/dev/mtd0) fail"));
}

}  // namespace
