// The flash functions of the library over the simulated flash: the directory read, geometry,
// erase, lock, the driver's two requests, the flash-mode flag, and their exact messages.
#include <errno.h>
#include <string.h>
#include <syslog.h>

#include <gtest/gtest.h>

#include <vector>

#include "device_tree.h"
#include "korv/error.h"
#include "korv/mtd.h"
#include "korv/simctl.h"
#include "korvtest.h"

namespace ctl = korvsim::ctl;
using korvtest::syslog_dump;

namespace {

// True when a message equal to `expected` was logged at LOG_ERR, "<L>" standing for the source
// line that the function printed. Exact to the byte: a trailing "\n" is part of the message.
testing::AssertionResult logged(const std::string &expected)
{
    if (korvtest::syslog_has_pattern(expected, LOG_ERR))
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "no message \"" << expected << "\" in:\n" << syslog_dump();
}

// The 8-partition RedBoot flash of the device-tree builder.
class Mtd : public testing::Test {
protected:
    void SetUp() override
    {
        parts_ = korvtest::build_redboot_flash();
        KORLErrSet(0x4200);  // any earlier failure; the flash functions never replace it
        korvtest::syslog_clear();
    }
    void TearDown() override { EXPECT_EQ(KORLErrGet(), 0x4200); }

    const korvtest::FlashPartition &part(int index)
    {
        for (const auto &p : parts_)
            if (p.index == index)
                return p;
        throw std::runtime_error("no partition");
    }

    std::vector<korvtest::FlashPartition> parts_;
};

TEST_F(Mtd, DirectoryCountThenCopyReadsTheSameEntries)
{
    int freeOffset = -1;
    ASSERT_EQ(KORVMTDGetPartitionInfo("/dev/mtd7", nullptr, 0, &freeOffset), 8);
    EXPECT_EQ(freeOffset, 8 * 256);
    std::vector<KORVMTDFISENTRY> entries(8);
    int again = -1;
    ASSERT_EQ(KORVMTDGetPartitionInfo("/dev/mtd7", entries.data(), freeOffset, &again), 8);
    EXPECT_EQ(again, freeOffset);
    for (int i = 0; i < 8; ++i) {
        const auto &p = part(i);
        EXPECT_STREQ(entries[i].name, p.name.c_str());
        EXPECT_EQ(entries[i].flash_base, p.flash_base) << p.name;
        EXPECT_EQ(entries[i].mem_base, p.flash_base) << p.name;
        EXPECT_EQ(entries[i].size, p.size) << p.name;
        EXPECT_EQ(entries[i].data_length, p.data_length) << p.name;
    }
    // The copy is the stored entry, field for field.
    auto raw = ctl::read_window(7);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(ctl::fis_pack(*ctl::fis_unpack(&raw[256 * i], 256)),
                  std::vector<uint8_t>(raw.begin() + 256 * i, raw.begin() + 256 * (i + 1)));
}

TEST_F(Mtd, DirectoryWhoseFirstEntryIsFree)
{
    ASSERT_TRUE(ctl::fill_window(7, 0, 0x10000, 0xFF));
    int freeOffset = -1;
    EXPECT_EQ(KORVMTDGetPartitionInfo("/dev/mtd7", nullptr, 0, &freeOffset), 0);
    EXPECT_EQ(freeOffset, 0);
    KORVMTDFISENTRY one;
    memset(&one, 0xA5, sizeof one);
    freeOffset = -1;
    EXPECT_EQ(KORVMTDGetPartitionInfo("/dev/mtd7", &one, sizeof one, &freeOffset), 0);
    EXPECT_EQ(freeOffset, 0);
    EXPECT_EQ(static_cast<uint8_t>(one.name[0]), 0xA5);  // the free entry is never copied
}

TEST_F(Mtd, DirectoryBufferExactOrOneByteShort)
{
    std::vector<uint8_t> buf(8 * 256 + 256, 0xCC);
    int freeOffset = -1;
    EXPECT_EQ(KORVMTDGetPartitionInfo("/dev/mtd7", buf.data(), 8 * 256, &freeOffset), 8);
    EXPECT_EQ(freeOffset, 8 * 256);
    EXPECT_EQ(buf[8 * 256], 0xCC);  // nothing past the buffer

    std::fill(buf.begin(), buf.end(), 0xCC);
    freeOffset = -1;
    EXPECT_EQ(KORVMTDGetPartitionInfo("/dev/mtd7", buf.data(), 8 * 256 - 1, &freeOffset), -1);
    EXPECT_EQ(freeOffset, -1);
    EXPECT_TRUE(logged("KORVMTDGetPartitionInfo(<L>): not enough memory"));
    // The seven entries that fit were copied; the eighth place was not written.
    KORVMTDFISENTRY seventh;
    memcpy(&seventh, &buf[6 * 256], sizeof seventh);
    EXPECT_STREQ(seventh.name, "RedBoot Config");
    EXPECT_EQ(buf[7 * 256], 0xCC);
}

TEST_F(Mtd, DirectoryEndingBeforeAFreeEntry)
{
    // A directory device of 300 bytes holding one entry and 44 more bytes of another.
    ctl::FisEntry e{"RedBoot", 0xFFFB0000, 0, 0x40000, 0, 0x100};
    auto bytes = ctl::fis_pack(e);
    bytes.resize(300, 0x00);
    ASSERT_TRUE(ctl::define_window(7, 0xFFFF0000, 300));
    ASSERT_TRUE(ctl::fill_window(7, 0, bytes));
    int freeOffset = -1;
    EXPECT_EQ(KORVMTDGetPartitionInfo("/dev/mtd7", nullptr, 0, &freeOffset), -1);
    EXPECT_EQ(freeOffset, -1);
    EXPECT_TRUE(logged("KORVMTDGetPartitionInfo(<L>): failed to read from /dev/mtd7(errno = 0)"));

    // A device that fails the read itself reports its errno.
    ASSERT_TRUE(ctl::define_window(7, 0xFFFF0000, 0x10000));
    ctl::fail_request("/dev/mtd7", "READ", EIO, true);
    EXPECT_EQ(KORVMTDGetPartitionInfo("/dev/mtd7", nullptr, 0, &freeOffset), -1);
    EXPECT_TRUE(logged("KORVMTDGetPartitionInfo(<L>): failed to read from /dev/mtd7(errno = 5)"));
}

TEST_F(Mtd, ParameterErrors)
{
    KORVMTDFISENTRY entry;
    KORVMTDFISMOD mod = {};
    uint8_t info[64];
    int off = 0;
    struct {
        const char *function;
        int result;
    } cases[] = {
        {"KORVMTDErasePartition", KORVMTDErasePartition(nullptr)},
        {"KORVMTDGetDeviceInfo", KORVMTDGetDeviceInfo(nullptr, info, 32)},
        {"KORVMTDGetDeviceInfo", KORVMTDGetDeviceInfo("/dev/mtd7", nullptr, 32)},
        {"KORVMTDGetDeviceInfo", KORVMTDGetDeviceInfo("/dev/mtd7", info, 31)},
        {"KORVMTDGetPartitionInfo", KORVMTDGetPartitionInfo(nullptr, nullptr, 0, &off)},
        {"KORVMTDGetPartitionInfo", KORVMTDGetPartitionInfo("/dev/mtd7", nullptr, 0, nullptr)},
        {"KORVMTDGetPartitionInfo", KORVMTDGetPartitionInfo("/dev/mtd7", &entry, 0, &off)},
        {"KORVMTDGetPartitionInfo", KORVMTDGetPartitionInfo("/dev/mtd7", &entry, -256, &off)},
        {"KORVMTDGetPartitionInfo", KORVMTDGetPartitionInfo("/dev/mtd7", nullptr, 256, &off)},
        {"KORVMTDILock", KORVMTDLockPartition(nullptr)},
        {"KORVMTDILock", KORVMTDUnlockPartition(nullptr)},
        {"KORVMTDModifyPartitionSize", KORVMTDModifyPartitionSize(nullptr, 0, 0x10000)},
        {"KORVMTDModifyFISEntry", KORVMTDModifyFISEntry(nullptr, &mod)},
        {"KORVMTDModifyFISEntry", KORVMTDModifyFISEntry("/dev/mtd7", nullptr)},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.result, -1) << c.function;
        EXPECT_TRUE(logged(std::string(c.function) + "(<L>): parameter error"));
    }
    EXPECT_EQ(korvtest::syslog_lines().size(), std::size(cases));
    EXPECT_TRUE(ctl::requests("", "OPEN").empty());  // refused before any device was opened
}

TEST_F(Mtd, DeviceInfoZeroesTheGivenSizeAndFillsThe32Bytes)
{
    uint8_t info[40];
    memset(info, 0x77, sizeof info);
    ASSERT_EQ(KORVMTDGetDeviceInfo("/dev/mtd1", info, sizeof info), 0);
    uint32_t size, erase;
    memcpy(&size, info + 8, 4);
    memcpy(&erase, info + 12, 4);
    EXPECT_EQ(size, part(1).size);
    EXPECT_EQ(erase, 0x10000u);
    for (size_t i = 32; i < sizeof info; ++i)
        EXPECT_EQ(info[i], 0) << i;

    memset(info, 0x77, sizeof info);
    EXPECT_EQ(KORVMTDGetDeviceInfo("/dev/mtd9", info, sizeof info), -1);
    EXPECT_EQ(info[0], 0);  // zeroed before the open
    EXPECT_TRUE(logged("KORVMTDGetDeviceInfo(<L>): fail to open mtd device, errno = 2"));

    ctl::fail_request("/dev/mtd1", "MEMGETINFO", EIO, true);
    EXPECT_EQ(KORVMTDGetDeviceInfo("/dev/mtd1", info, 32), -1);
    EXPECT_TRUE(logged("KORVMTDGetDeviceInfo(<L>): fail to get mtd size, errno = 5"));

    int off;
    EXPECT_EQ(KORVMTDGetPartitionInfo("/dev/mtd9", nullptr, 0, &off), -1);
    EXPECT_TRUE(logged("KORVMTDGetPartitionInfo(<L>): fail to open mtd device, errno = 2"));
}

TEST_F(Mtd, EraseClearsTheWholePartitionInOneRequest)
{
    ASSERT_EQ(KORVMTDErasePartition("/dev/mtd2"), 0);
    EXPECT_EQ(ctl::read_window(2), std::vector<uint8_t>(part(2).size, 0xFF));
    auto erases = ctl::requests("/dev/mtd2", "MEMERASE");
    ASSERT_EQ(erases.size(), 1u);
    EXPECT_EQ(erases[0].args, "start=0x00000000,length=0x00300000");
    // The neighbours keep their images.
    EXPECT_NE(ctl::read_window(1)[0], 0xFF);
    EXPECT_NE(ctl::read_window(3)[0], 0xFF);
}

TEST_F(Mtd, LockedPartitionRefusesEraseAndWrite)
{
    ASSERT_EQ(KORVMTDLockPartition("/dev/mtd1"), 0);
    EXPECT_TRUE(ctl::window(1)->locked);
    auto before = ctl::read_window(1);
    EXPECT_EQ(KORVMTDErasePartition("/dev/mtd1"), -1);
    EXPECT_TRUE(logged("Could not erase MTD device: /dev/mtd1, errno = 30\n"));
    EXPECT_EQ(ctl::read_window(1), before);

    ASSERT_EQ(KORVMTDUnlockPartition("/dev/mtd1"), 0);
    ASSERT_EQ(KORVMTDErasePartition("/dev/mtd1"), 0);
    EXPECT_EQ(ctl::read_window(1)[0], 0xFF);
    auto locks = ctl::requests("/dev/mtd1", "");
    std::vector<std::string> names;
    for (const auto &r : locks)
        if (r.name.rfind("MEM", 0) == 0)
            names.push_back(r.name + (r.result ? " fails" : ""));
    EXPECT_EQ(names, (std::vector<std::string>{"MEMGETINFO", "MEMLOCK", "MEMGETINFO", "MEMERASE fails",
                                               "MEMGETINFO", "MEMUNLOCK", "MEMGETINFO", "MEMERASE"}));
}

TEST_F(Mtd, LockModes)
{
    struct {
        int mode;
        bool locked;
    } cases[] = {{1, true}, {2, false}, {1, true}, {0, false}, {1, true}, {-1, false}};
    for (const auto &c : cases) {
        ASSERT_EQ(KORVMTDILock("/dev/mtd4", c.mode), 0) << c.mode;
        EXPECT_EQ(ctl::window(4)->locked, c.locked) << c.mode;
    }
    auto unlocks = ctl::requests("/dev/mtd4", "MEMUNLOCK");
    ASSERT_EQ(unlocks.size(), 3u);
    EXPECT_EQ(unlocks[0].args, "start=0x00000000,length=0x00010000");
}

// Calls of each device function that succeed on "/dev/mtd3" (AllLib.tgz) of the built flash.
int modify_size(const char *device)
{
    return KORVMTDModifyPartitionSize(device, 0xFF800000 + 80 * 0x10000, 40 * 0x10000);
}

int modify_entry(const char *device)
{
    KORVMTDFISMOD mod = {};
    strcpy(mod.name, "AllLib.tgz");
    mod.flash_base = 0xFF800000 + 80 * 0x10000;
    mod.size = 40 * 0x10000;
    mod.data_length = 0x100;
    return KORVMTDModifyFISEntry(device, &mod);
}

int device_info(const char *device)
{
    uint8_t info[32];
    return KORVMTDGetDeviceInfo(device, info, sizeof info);
}

int directory_count(const char *device)
{
    int freeOffset = 0;
    return KORVMTDGetPartitionInfo(device, nullptr, 0, &freeOffset) < 0 ? -1 : 0;
}

TEST_F(Mtd, DeviceFailuresAreReportedWithTheDevice)
{
    struct {
        const char *request;
        int err;
        int (*call)(const char *);
        const char *message;
    } cases[] = {
        {"OPEN", ENXIO, KORVMTDLockPartition, "KORVMTDILock(<L>): fail to open mtd device /dev/mtd3, errno = 6"},
        {"MEMGETINFO", EIO, KORVMTDUnlockPartition,
         "KORVMTDILock(<L>): Could not get MTD device info for /dev/mtd3, errno = 5"},
        {"MEMLOCK", EPERM, KORVMTDLockPartition, "Could not lock/unlock MTD device: /dev/mtd3, errno = 1\n"},
        {"MEMUNLOCK", EIO, KORVMTDUnlockPartition, "Could not lock/unlock MTD device: /dev/mtd3, errno = 5\n"},
        {"OPEN", EACCES, KORVMTDErasePartition,
         "KORVMTDErasePartition(<L>): fail to open mtd device /dev/mtd3, errno = 13"},
        {"MEMGETINFO", EIO, KORVMTDErasePartition,
         "KORVMTDErasePartition(<L>): Could not get MTD device info for /dev/mtd3, errno = 5"},
        {"MEMERASE", EIO, KORVMTDErasePartition, "Could not erase MTD device: /dev/mtd3, errno = 5\n"},
        {"OPEN", EBUSY, modify_size,
         "KORVMTDModifyPartitionSize(<L>): fail to open mtd device /dev/mtd3, errno = 16"},
        {"MTD_SET_PARTITION", EIO, modify_size, "Failed to set the mtd info of /dev/mtd3 by ioctl, errno = 5\n"},
        {"OPEN", EBUSY, modify_entry, "KORVMTDModifyFISEntry(<L>): fail to open mtd device /dev/mtd3, errno = 16"},
        {"MTD_SET_FIS_ENTRY", EPERM, modify_entry,
         "KORVMTDModifyFISEntry: Failed to set the mtd info of /dev/mtd3 by ioctl, errno = 1\n"},
        {"OPEN", EBUSY, device_info, "KORVMTDGetDeviceInfo(<L>): fail to open mtd device, errno = 16"},
        {"OPEN", EBUSY, directory_count, "KORVMTDGetPartitionInfo(<L>): fail to open mtd device, errno = 16"},
    };
    size_t openFailures = 0;
    for (const auto &c : cases) {
        korvtest::syslog_clear();
        ctl::fail_request("/dev/mtd3", c.request, c.err, true);
        EXPECT_EQ(c.call("/dev/mtd3"), -1) << c.message;
        EXPECT_TRUE(logged(c.message));
        EXPECT_EQ(korvtest::syslog_lines().size(), 1u) << syslog_dump();
        openFailures += strcmp(c.request, "OPEN") == 0;
    }
    // Every descriptor opened was closed again.
    EXPECT_EQ(ctl::requests("/dev/mtd3", "OPEN").size() - openFailures, ctl::requests("/dev/mtd3", "CLOSE").size());
}

TEST_F(Mtd, EachCallOpensItsDeviceOnceInItsModeAndClosesIt)
{
    struct {
        const char *function;
        int (*call)(const char *);
        const char *mode;
    } cases[] = {
        {"KORVMTDLockPartition", KORVMTDLockPartition, "O_RDWR"},
        {"KORVMTDUnlockPartition", KORVMTDUnlockPartition, "O_RDWR"},
        {"KORVMTDModifyPartitionSize", modify_size, "O_RDWR"},
        {"KORVMTDModifyFISEntry", modify_entry, "O_RDWR"},
        {"KORVMTDGetDeviceInfo", device_info, "O_RDONLY"},
        {"KORVMTDGetPartitionInfo", directory_count, "O_RDONLY"},
        {"KORVMTDErasePartition", KORVMTDErasePartition, "O_RDWR"},
    };
    // /dev/mtd3 is AllLib.tgz; give it a directory of its own so that every call succeeds there.
    ASSERT_EQ(part(3).flash_base, 0xFF800000 + 80 * 0x10000);
    ASSERT_EQ(part(3).size, 40u * 0x10000);
    ASSERT_TRUE(ctl::write_fis(3, {{"AllLib.tgz", 0xFF800000 + 80 * 0x10000, 0, 40 * 0x10000, 0, 0x1000}}));
    for (const auto &c : cases) {
        ctl::clear_requests();
        ASSERT_EQ(c.call("/dev/mtd3"), 0) << c.function << "\n" << syslog_dump();
        auto opens = ctl::requests("/dev/mtd3", "OPEN");
        ASSERT_EQ(opens.size(), 1u) << c.function;
        EXPECT_EQ(opens[0].args, c.mode) << c.function;
        auto all = ctl::requests();
        ASSERT_FALSE(all.empty());
        EXPECT_EQ(all.back().name, "CLOSE") << c.function;
        EXPECT_EQ(ctl::requests("/dev/mtd3", "CLOSE").size(), 1u) << c.function;
    }
    EXPECT_TRUE(korvtest::syslog_lines().empty()) << syslog_dump();
}

TEST_F(Mtd, ModifyPartitionSizeMovesTheDevice)
{
    const auto &rd = part(2);
    ASSERT_EQ(KORVMTDModifyPartitionSize("/dev/mtd2", rd.flash_base + 0x10000, rd.size - 0x10000), 0);
    auto w = ctl::window(2);
    EXPECT_EQ(w->base, rd.flash_base + 0x10000);
    EXPECT_EQ(w->size, rd.size - 0x10000);
    uint8_t info[32];
    ASSERT_EQ(KORVMTDGetDeviceInfo("/dev/mtd2", info, 32), 0);
    uint32_t size;
    memcpy(&size, info + 8, 4);
    EXPECT_EQ(size, rd.size - 0x10000);

    EXPECT_EQ(KORVMTDModifyPartitionSize("/dev/mtd2", rd.flash_base + 1, rd.size), -1);
    EXPECT_TRUE(logged("Failed to set the mtd info of /dev/mtd2 by ioctl, errno = 22\n"));
    EXPECT_EQ(KORVMTDModifyPartitionSize("/dev/mtd9", rd.flash_base, rd.size), -1);
    EXPECT_TRUE(logged("KORVMTDModifyPartitionSize(<L>): fail to open mtd device /dev/mtd9, errno = 2"));
}

TEST_F(Mtd, ModifyFisEntryRewritesTheNamedEntry)
{
    KORVMTDFISMOD mod = {};
    strcpy(mod.name, "zImage");
    mod.flash_base = 0xFF800000;
    mod.size = 0x210000;
    mod.data_length = 0x1F0000;
    ASSERT_EQ(KORVMTDModifyFISEntry("/dev/mtd7", &mod), 0);
    auto entries = ctl::read_fis(7);
    ASSERT_EQ(entries.size(), 8u);
    EXPECT_EQ(entries[1].name, "zImage");
    EXPECT_EQ(entries[1].size, 0x210000u);
    EXPECT_EQ(entries[1].data_length, 0x1F0000u);
    EXPECT_EQ(entries[2].flash_base, part(2).flash_base);
    auto sent = ctl::requests("/dev/mtd7", "MTD_SET_FIS_ENTRY");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].args, "name=zImage,base=0xff800000,size=0x00210000,data_length=0x001f0000");

    strcpy(mod.name, "kernel");
    EXPECT_EQ(KORVMTDModifyFISEntry("/dev/mtd7", &mod), -1);
    EXPECT_TRUE(logged("KORVMTDModifyFISEntry: Failed to set the mtd info of /dev/mtd7 by ioctl, errno = 2\n"));
    EXPECT_EQ(KORVMTDModifyFISEntry("/dev/mtd8", &mod), -1);
    EXPECT_TRUE(logged("KORVMTDModifyFISEntry(<L>): fail to open mtd device /dev/mtd8, errno = 2"));
}

TEST_F(Mtd, DirectoryRestoredByShellNeedsTheErase)
{
    ASSERT_EQ(korvtest::run_shell("dd if=/dev/mtd7 of=/mtd_fis bs=16384 2>/dev/null"), 0);
    KORVMTDFISMOD mod = {};
    strcpy(mod.name, "rd.gz");
    mod.flash_base = 0xFFA00000;
    mod.size = 0x2F0000;  // clears bits that the backup has set
    mod.data_length = 0x10;
    ASSERT_EQ(KORVMTDModifyFISEntry("/dev/mtd7", &mod), 0);

    // Written back over the unerased directory, the words come out AND-ed.
    ASSERT_EQ(korvtest::run_shell("dd if=/mtd_fis of=/dev/mtd7 bs=131072 2>/dev/null"), 0);
    std::vector<KORVMTDFISENTRY> entries(8);
    int freeOffset = 0;
    ASSERT_EQ(KORVMTDGetPartitionInfo("/dev/mtd7", entries.data(), 8 * 256, &freeOffset), 8);
    EXPECT_EQ(entries[2].size, 0x2F0000u & part(2).size);
    EXPECT_EQ(entries[2].data_length, 0x10u & part(2).data_length);

    ASSERT_EQ(KORVMTDUnlockPartition("/dev/mtd7"), 0);
    ASSERT_EQ(KORVMTDErasePartition("/dev/mtd7"), 0);
    ASSERT_EQ(korvtest::run_shell("dd if=/mtd_fis of=/dev/mtd7 bs=131072 2>/dev/null"), 0);
    ASSERT_EQ(KORVMTDGetPartitionInfo("/dev/mtd7", entries.data(), 8 * 256, &freeOffset), 8);
    EXPECT_EQ(entries[2].size, part(2).size);
    EXPECT_EQ(entries[2].data_length, part(2).data_length);
}

TEST_F(Mtd, JuniorLayoutDirectoryOnMtd5)
{
    korvtest::RedBootOptions options;
    options.junior = true;
    auto parts = korvtest::build_redboot_flash(options);
    int freeOffset = 0;
    ASSERT_EQ(KORVMTDGetPartitionInfo("/dev/mtd5", nullptr, 0, &freeOffset), 6);
    std::vector<KORVMTDFISENTRY> entries(6);
    ASSERT_EQ(KORVMTDGetPartitionInfo("/dev/mtd5", entries.data(), freeOffset, &freeOffset), 6);
    // The boot loader's own table for this layout.
    struct {
        const char *name;
        uint32_t base, size, length;
    } expected[] = {
        {"RedBoot", 0xFFF00000, 0x40000, 0x3A448},     {"zImage", 0xFFE00000, 0xD0000, 0xC5EDA},
        {"rd.gz", 0xFFF40000, 0xB0000, 0xAEE2C},       {"vendor", 0xFFED0000, 0x10000, 0x10000},
        {"RedBoot Config", 0xFFEE0000, 0x10000, 0x10000}, {"FIS Directory", 0xFFFF0000, 0x10000, 0x600},
    };
    for (int i = 0; i < 6; ++i) {
        EXPECT_STREQ(entries[i].name, expected[i].name);
        EXPECT_EQ(entries[i].flash_base, expected[i].base) << expected[i].name;
        EXPECT_EQ(entries[i].size, expected[i].size) << expected[i].name;
        EXPECT_EQ(entries[i].data_length, expected[i].length) << expected[i].name;
    }
    EXPECT_EQ(ctl::check_windows(), "");
}

TEST(MtdFlag, SyscallFlagReadsBitZero)
{
    EXPECT_EQ(KORVSyscallFlagGet(), 0);  // a kernel without system call 401
    struct {
        uint32_t word;
        int flag;
    } cases[] = {{0, 0}, {1, 1}, {2, 0}, {3, 1}, {0xFFFFFFFE, 0}, {0x80000001, 1}};
    for (const auto &c : cases) {
        ctl::set_flag_word(c.word);
        EXPECT_EQ(KORVSyscallFlagGet(), c.flag) << c.word;
    }
    ctl::fail_request("kernel", "SYS401", EPERM, true);
    EXPECT_EQ(KORVSyscallFlagGet(), 0);
    EXPECT_EQ(KORVSyscallFlagGet(), 1);
    EXPECT_TRUE(korvtest::syslog_lines().empty());
}

}  // namespace
