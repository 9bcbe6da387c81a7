// The simulated NOR flash through the kernel interface: geometry, erase, lock, programming
// rules, the driver's partition and directory requests, and the mirrors that shell programs use.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "korv/platform.h"
#include "korv/simctl.h"
#include "korvtest.h"

namespace ctl = korvsim::ctl;
using korvtest::read_file;
using korvtest::run_shell;
using korvtest::write_file;

namespace {

constexpr uint32_t kChipBase = 0xFFF00000;
constexpr uint32_t kBlock = 0x10000;

// A 1 MiB chip at the top of the address space: /dev/mtd0 and /dev/mtd1 of 4 blocks each,
// /dev/mtd2 the last block holding a two-entry flash directory.
class SimFlash : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ctl::create_chip(ctl::Kind::Nor, 0x100000, kBlock, kChipBase));
        ASSERT_TRUE(ctl::define_window(0, kChipBase, 4 * kBlock));
        ASSERT_TRUE(ctl::define_window(1, kChipBase + 4 * kBlock, 4 * kBlock));
        ASSERT_TRUE(ctl::define_window(2, 0xFFFF0000, kBlock));
        ctl::FisEntry a{"zImage", kChipBase, kChipBase, 4 * kBlock, 0, 0x1234};
        ctl::FisEntry b{"RedBoot Config", kChipBase + 4 * kBlock, 0, 4 * kBlock, 0, 0x10};
        ASSERT_TRUE(ctl::write_fis(2, {a, b}));
        ctl::clear_requests();
    }

    static int open_dev(const char *path, int flags = O_RDWR)
    {
        int fd = korv_plat_open(path, flags);
        EXPECT_GE(fd, 0) << path << ": " << strerror(errno);
        return fd;
    }

    static int request(int fd, unsigned long req, uint32_t a, uint32_t b)
    {
        uint32_t rec[2] = {a, b};
        return korv_plat_ioctl(fd, req, rec);
    }

    static std::vector<uint8_t> read_at(const char *path, uint32_t offset, size_t count)
    {
        int fd = open_dev(path, O_RDONLY);
        std::vector<uint8_t> out(count);
        EXPECT_EQ(korv_plat_lseek(fd, offset, SEEK_SET), static_cast<off_t>(offset));
        EXPECT_EQ(korv_plat_read(fd, out.data(), count), static_cast<ssize_t>(count));
        korv_plat_close(fd);
        return out;
    }
};

TEST_F(SimFlash, GetInfoReportsWindowGeometry)
{
    int fd = open_dev("/dev/mtd1", O_RDONLY);
    uint8_t info[32];
    memset(info, 0xAA, sizeof info);
    ASSERT_EQ(korv_plat_ioctl(fd, KORV_MEMGETINFO, info), 0);
    uint32_t size, erase;
    memcpy(&size, info + 8, 4);
    memcpy(&erase, info + 12, 4);
    EXPECT_EQ(info[0], 3);  // NOR
    EXPECT_EQ(size, 4 * kBlock);
    EXPECT_EQ(erase, kBlock);
    korv_plat_close(fd);
}

TEST_F(SimFlash, ProgrammingClearsBitsOnlyUntilErased)
{
    int fd = open_dev("/dev/mtd0");
    ASSERT_EQ(request(fd, KORV_MEMERASE, 0, 4 * kBlock), 0);
    uint8_t first[4] = {0xF0, 0xF0, 0x12, 0xFF};
    uint8_t second[4] = {0x0F, 0xFF, 0x34, 0x00};
    ASSERT_EQ(korv_plat_write(fd, first, 4), 4);
    ASSERT_EQ(korv_plat_lseek(fd, 0, SEEK_SET), 0);
    ASSERT_EQ(korv_plat_write(fd, second, 4), 4);
    korv_plat_close(fd);
    EXPECT_EQ(read_at("/dev/mtd0", 0, 4), (std::vector<uint8_t>{0x00, 0xF0, 0x10, 0x00}));

    fd = open_dev("/dev/mtd0");
    ASSERT_EQ(request(fd, KORV_MEMERASE, 0, kBlock), 0);
    ASSERT_EQ(korv_plat_write(fd, second, 4), 4);
    korv_plat_close(fd);
    EXPECT_EQ(read_at("/dev/mtd0", 0, 4), (std::vector<uint8_t>{0x0F, 0xFF, 0x34, 0x00}));
    // The neighbour's bytes are untouched by either erase.
    EXPECT_EQ(ctl::read_window(1), std::vector<uint8_t>(4 * kBlock, 0xFF));
}

TEST_F(SimFlash, EraseCoversOnlyItsRangeAndNeedsWholeBlocks)
{
    ASSERT_TRUE(ctl::fill_window(0, 0, 4 * kBlock, 0x00));
    int fd = open_dev("/dev/mtd0");
    EXPECT_EQ(request(fd, KORV_MEMERASE, kBlock, kBlock), 0);
    errno = 0;
    EXPECT_EQ(request(fd, KORV_MEMERASE, 0x100, kBlock), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(request(fd, KORV_MEMERASE, 3 * kBlock, 2 * kBlock), -1);
    EXPECT_EQ(errno, EINVAL);
    korv_plat_close(fd);
    auto bytes = ctl::read_window(0);
    EXPECT_EQ(bytes[kBlock - 1], 0x00);
    EXPECT_EQ(bytes[kBlock], 0xFF);
    EXPECT_EQ(bytes[2 * kBlock - 1], 0xFF);
    EXPECT_EQ(bytes[2 * kBlock], 0x00);
}

TEST_F(SimFlash, LockedWindowRefusesEraseAndWriteUntilUnlocked)
{
    ASSERT_TRUE(ctl::fill_window(1, 0, 16, 0x11));
    int fd = open_dev("/dev/mtd1");
    ASSERT_EQ(request(fd, KORV_MEMLOCK, 0, 4 * kBlock), 0);
    EXPECT_TRUE(ctl::window(1)->locked);
    errno = 0;
    EXPECT_EQ(request(fd, KORV_MEMERASE, 0, 4 * kBlock), -1);
    EXPECT_EQ(errno, EROFS);
    uint8_t zero[16] = {};
    errno = 0;
    EXPECT_EQ(korv_plat_write(fd, zero, sizeof zero), -1);
    EXPECT_EQ(errno, EROFS);
    EXPECT_EQ(ctl::read_window(1)[0], 0x11);

    ASSERT_EQ(request(fd, KORV_MEMUNLOCK, 0, 4 * kBlock), 0);
    EXPECT_EQ(request(fd, KORV_MEMERASE, 0, 4 * kBlock), 0);
    EXPECT_EQ(korv_plat_write(fd, zero, sizeof zero), 16);
    korv_plat_close(fd);
    EXPECT_EQ(ctl::read_window(1)[0], 0x00);
    EXPECT_EQ(ctl::read_window(1)[16], 0xFF);
    auto log = ctl::requests("/dev/mtd1", "MEMERASE");
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].result, -1);
    EXPECT_EQ(log[0].err, EROFS);
    EXPECT_EQ(log[0].args, "start=0x00000000,length=0x00040000");
    EXPECT_EQ(log[1].result, 0);
}

TEST_F(SimFlash, WindowEndCutsWritesAndEndsReads)
{
    int fd = open_dev("/dev/mtd2");
    ASSERT_EQ(request(fd, KORV_MEMERASE, 0, kBlock), 0);
    EXPECT_EQ(korv_plat_lseek(fd, -10, SEEK_END), static_cast<off_t>(kBlock - 10));
    uint8_t buf[64] = {};
    EXPECT_EQ(korv_plat_write(fd, buf, sizeof buf), 10);
    errno = 0;
    EXPECT_EQ(korv_plat_write(fd, buf, sizeof buf), -1);
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(korv_plat_read(fd, buf, sizeof buf), 0);
    EXPECT_EQ(korv_plat_lseek(fd, -4, SEEK_END), static_cast<off_t>(kBlock - 4));
    EXPECT_EQ(korv_plat_read(fd, buf, sizeof buf), 4);
    korv_plat_close(fd);
}

TEST_F(SimFlash, DescriptorModesAreEnforced)
{
    ASSERT_TRUE(ctl::fill_window(0, 0, 16, 0x00));
    int fd = open_dev("/dev/mtd0", O_RDONLY);
    uint8_t b = 0;
    errno = 0;
    EXPECT_EQ(korv_plat_write(fd, &b, 1), -1);
    EXPECT_EQ(errno, EBADF);
    // An erase needs write access; the lock requests and MEMGETINFO do not.
    errno = 0;
    EXPECT_EQ(request(fd, KORV_MEMERASE, 0, 4 * kBlock), -1);
    EXPECT_EQ(errno, EPERM);
    EXPECT_EQ(ctl::read_window(0)[0], 0x00);
    EXPECT_EQ(request(fd, KORV_MEMLOCK, 0, 4 * kBlock), 0);
    EXPECT_EQ(request(fd, KORV_MEMUNLOCK, 0, 4 * kBlock), 0);
    korv_plat_close(fd);
    fd = open_dev("/dev/mtd0", O_WRONLY);
    errno = 0;
    EXPECT_EQ(korv_plat_read(fd, &b, 1), -1);
    EXPECT_EQ(errno, EBADF);
    korv_plat_close(fd);
}

TEST_F(SimFlash, PartitionSizeRequestMovesAndResizesTheWindow)
{
    ASSERT_TRUE(ctl::fill_window(1, 0, 4 * kBlock, 0x22));
    int fd = open_dev("/dev/mtd0");
    // mtd0 grows over its neighbour's first block: the check sees the overlap.
    ASSERT_EQ(request(fd, KORV_MTD_SET_PARTITION, kChipBase, 5 * kBlock), 0);
    EXPECT_EQ(ctl::window(0)->size, 5 * kBlock);
    EXPECT_EQ(ctl::check_windows(), "/dev/mtd0 overlaps /dev/mtd1");
    EXPECT_EQ(read_file("/dev/mtd0").size(), 5u * kBlock);
    EXPECT_EQ(read_at("/dev/mtd0", 4 * kBlock, 1)[0], 0x22);

    ASSERT_EQ(request(fd, KORV_MTD_SET_PARTITION, kChipBase, 3 * kBlock), 0);
    EXPECT_EQ(ctl::check_windows(), "");
    uint8_t info[32];
    ASSERT_EQ(korv_plat_ioctl(fd, KORV_MEMGETINFO, info), 0);
    uint32_t size;
    memcpy(&size, info + 8, 4);
    EXPECT_EQ(size, 3 * kBlock);

    struct {
        uint32_t base, size;
        int err;
    } bad[] = {
        {kChipBase - kBlock, kBlock, EINVAL},           // below the chip
        {0xFFFF0000, 2 * kBlock, EINVAL},               // past the chip's end
        {kChipBase + 0x100, kBlock, EINVAL},            // not on a block
        {kChipBase, 0, EINVAL},
    };
    for (const auto &c : bad) {
        errno = 0;
        EXPECT_EQ(request(fd, KORV_MTD_SET_PARTITION, c.base, c.size), -1) << std::hex << c.base;
        EXPECT_EQ(errno, c.err);
    }
    EXPECT_EQ(ctl::window(0)->size, 3 * kBlock);
    korv_plat_close(fd);
}

TEST_F(SimFlash, OverlappingWindowsShareTheChip)
{
    int fd = open_dev("/dev/mtd0");
    ASSERT_EQ(request(fd, KORV_MTD_SET_PARTITION, kChipBase, 5 * kBlock), 0);
    ASSERT_EQ(korv_plat_lseek(fd, 4 * kBlock, SEEK_SET), static_cast<off_t>(4 * kBlock));
    ASSERT_EQ(korv_plat_write(fd, "\x01\x02", 2), 2);
    korv_plat_close(fd);
    EXPECT_EQ(ctl::read_window(1)[0], 0x01);
    // Shell programs see it through both devices.
    EXPECT_EQ(read_file("/dev/mtd1").substr(0, 2), "\x01\x02");
    EXPECT_EQ(read_file("/dev/mtd0").substr(4 * kBlock, 2), "\x01\x02");
}

TEST_F(SimFlash, CheckWindowsReportsWindowsOutsideTheChip)
{
    ASSERT_TRUE(ctl::define_window(5, kChipBase + 8 * kBlock, kBlock));
    EXPECT_EQ(ctl::check_windows(), "");
    EXPECT_FALSE(ctl::define_window(6, 0xFFFF8000, kBlock));  // would end past the chip
    ASSERT_TRUE(ctl::define_window(6, kChipBase + 8 * kBlock, kBlock));
    EXPECT_EQ(ctl::check_windows(), "/dev/mtd5 overlaps /dev/mtd6");
}

TEST_F(SimFlash, DirectoryEntryRequestRewritesTheNamedEntry)
{
    int fd = open_dev("/dev/mtd2");
    struct {
        char name[16];
        uint32_t base, size, length;
    } mod = {"RedBoot Config", 0xFFF80000, 0x20000, 0x1000};
    ASSERT_EQ(korv_plat_ioctl(fd, KORV_MTD_SET_FIS_ENTRY, &mod), 0);
    auto entries = ctl::read_fis(2);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].data_length, 0x1234u);  // the other entry is left alone
    EXPECT_EQ(entries[1].name, "RedBoot Config");
    EXPECT_EQ(entries[1].flash_base, 0xFFF80000u);
    EXPECT_EQ(entries[1].size, 0x20000u);
    EXPECT_EQ(entries[1].data_length, 0x1000u);
    EXPECT_EQ(entries[1].mem_base, 0u);
    // Words are stored little-endian on the flash.
    auto raw = ctl::read_window(2);
    EXPECT_EQ(raw[256 + 16], 0x00);
    EXPECT_EQ(raw[256 + 18], 0xF8);
    EXPECT_EQ(raw[256 + 19], 0xFF);

    // A prefix of a name is another name; so is a name past the free entry.
    const char *missing[] = {"RedBoot", "zImag", "zImage2"};
    for (const char *name : missing) {
        memset(&mod, 0, sizeof mod);
        strcpy(mod.name, name);
        errno = 0;
        EXPECT_EQ(korv_plat_ioctl(fd, KORV_MTD_SET_FIS_ENTRY, &mod), -1) << name;
        EXPECT_EQ(errno, ENOENT) << name;
    }
    // The driver rewrites its directory block itself: a locked directory still takes the update.
    ASSERT_TRUE(ctl::set_locked(2, true));
    memset(&mod, 0, sizeof mod);
    strcpy(mod.name, "zImage");
    mod.base = kChipBase;
    mod.size = 3 * kBlock;
    mod.length = 0x20;
    ASSERT_EQ(korv_plat_ioctl(fd, KORV_MTD_SET_FIS_ENTRY, &mod), 0);
    EXPECT_EQ(ctl::read_fis(2)[0].size, 3 * kBlock);
    EXPECT_EQ(ctl::read_fis(2)[0].data_length, 0x20u);

    memset(mod.name, 'x', sizeof mod.name);  // no terminating NUL
    errno = 0;
    EXPECT_EQ(korv_plat_ioctl(fd, KORV_MTD_SET_FIS_ENTRY, &mod), -1);
    EXPECT_EQ(errno, EINVAL);
    korv_plat_close(fd);
}

TEST_F(SimFlash, MirrorsShowTheChipToShellPrograms)
{
    int fd = open_dev("/dev/mtd0");
    ASSERT_EQ(request(fd, KORV_MEMERASE, 0, 4 * kBlock), 0);
    ASSERT_EQ(korv_plat_write(fd, "kernel", 6), 6);
    korv_plat_close(fd);
    ASSERT_EQ(run_shell("dd if=/dev/mtd0 of=/backup bs=16384 2>/dev/null"), 0);
    std::string backup = read_file("/backup");
    ASSERT_EQ(backup.size(), 4u * kBlock);
    EXPECT_EQ(backup.substr(0, 6), "kernel");
    EXPECT_EQ(static_cast<uint8_t>(backup[6]), 0xFF);
}

TEST_F(SimFlash, ShellWriteIsImportedWithNorRules)
{
    std::string image(100, '\x0F');
    write_file("/image", image);
    ASSERT_TRUE(ctl::fill_window(1, 0, 50, 0xF3));  // first half not erased
    ASSERT_EQ(run_shell("dd if=/image of=/dev/mtd1 bs=131072 2>/dev/null"), 0);
    // The next open imports the mirror into the chip and re-exports it whole.
    auto bytes = read_at("/dev/mtd1", 0, 101);
    EXPECT_EQ(bytes[0], 0x03);
    EXPECT_EQ(bytes[49], 0x03);
    EXPECT_EQ(bytes[50], 0x0F);
    EXPECT_EQ(bytes[99], 0x0F);
    EXPECT_EQ(bytes[100], 0xFF);
    EXPECT_EQ(read_file("/dev/mtd1").size(), 4u * kBlock);
    auto log = ctl::requests("/dev/mtd1", "IMPORT");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].args, "bytes=100");
    EXPECT_EQ(log[0].result, 100);

    // A second write of the same size right away is seen too.
    write_file("/image", std::string(100, '\x01'));
    ASSERT_EQ(run_shell("dd if=/image of=/dev/mtd1 bs=131072 2>/dev/null"), 0);
    EXPECT_EQ(read_at("/dev/mtd1", 0, 100), std::vector<uint8_t>(100, 0x01));
}

TEST_F(SimFlash, ShellWriteToLockedWindowIsRefused)
{
    ASSERT_TRUE(ctl::set_locked(0, true));
    write_file("/image", std::string(64, '\0'));
    ASSERT_EQ(run_shell("dd if=/image of=/dev/mtd0 conv=notrunc 2>/dev/null"), 0);
    EXPECT_EQ(read_at("/dev/mtd0", 0, 64), std::vector<uint8_t>(64, 0xFF));
    auto log = ctl::requests("/dev/mtd0", "IMPORT");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].result, -1);
    EXPECT_EQ(log[0].err, EROFS);
    // The mirror is put back as the chip holds it.
    EXPECT_EQ(read_file("/dev/mtd0"), std::string(4 * kBlock, '\xFF'));
}

TEST_F(SimFlash, ShellWriteLongerThanWindowFailsAtItsEnd)
{
    write_file("/image", std::string(kBlock + 10, '\0'));
    std::string out;
    // As on the device, the program itself sees the device end: dd fails with ENOSPC.
    EXPECT_NE(run_shell("dd if=/image of=/dev/mtd2 bs=4096 2>&1", &out), 0);
    EXPECT_NE(out.find("No space left on device"), std::string::npos) << out;
    auto bytes = ctl::read_window(2);
    EXPECT_EQ(bytes.size(), kBlock);
    EXPECT_EQ(bytes[kBlock - 1], 0x00);
    EXPECT_EQ(read_file("/dev/mtd2").size(), kBlock);
    EXPECT_EQ(ctl::read_window(0)[0], 0xFF);  // nothing spilled anywhere else
    auto log = ctl::requests("/dev/mtd2", "IMPORT");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].result, static_cast<long long>(kBlock));
}

TEST_F(SimFlash, ShellWriteFollowsTheWindowSize)
{
    write_file("/image", std::string(4 * kBlock, '\0'));
    int fd = open_dev("/dev/mtd0");
    ASSERT_EQ(request(fd, KORV_MTD_SET_PARTITION, kChipBase, 3 * kBlock), 0);
    EXPECT_NE(run_shell("dd if=/image of=/dev/mtd0 bs=16384 2>/dev/null"), 0);  // now one block short
    ASSERT_EQ(request(fd, KORV_MTD_SET_PARTITION, kChipBase, 5 * kBlock), 0);
    ASSERT_EQ(request(fd, KORV_MEMERASE, 0, 5 * kBlock), 0);
    korv_plat_close(fd);
    EXPECT_EQ(run_shell("dd if=/image of=/dev/mtd0 bs=16384 2>/dev/null"), 0);
    auto bytes = ctl::read_window(0);
    ASSERT_EQ(bytes.size(), 5u * kBlock);
    EXPECT_EQ(bytes[4 * kBlock - 1], 0x00);
    EXPECT_EQ(bytes[4 * kBlock], 0xFF);
    EXPECT_EQ(ctl::read_window(1)[0], 0xFF);  // the shared block, erased through mtd0
}

TEST_F(SimFlash, RemovedMirrorIsRestored)
{
    ASSERT_EQ(run_shell("rm /dev/mtd1"), 0);
    int fd = open_dev("/dev/mtd0");
    korv_plat_close(fd);
    EXPECT_EQ(read_file("/dev/mtd1").size(), 4u * kBlock);
}

TEST_F(SimFlash, OtherPathsAreOrdinaryFiles)
{
    write_file("/etc/plain", "abc");
    int fd = korv_plat_open("/etc/plain", O_RDWR);
    ASSERT_GE(fd, 0);
    char buf[8] = {};
    EXPECT_EQ(korv_plat_read(fd, buf, sizeof buf), 3);
    EXPECT_STREQ(buf, "abc");
    uint8_t info[32];
    errno = 0;
    EXPECT_EQ(korv_plat_ioctl(fd, KORV_MEMGETINFO, info), -1);
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_EQ(korv_plat_close(fd), 0);
    // A flash device without a window is no device of the chip.
    errno = 0;
    EXPECT_EQ(korv_plat_open("/dev/mtd9", O_RDONLY), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_TRUE(ctl::requests("/etc/plain", "").empty());
}

TEST_F(SimFlash, DescriptorNumberReusedAfterBareCloseIsAnOrdinaryFile)
{
    int fd = open_dev("/dev/mtd0");
    close(fd);  // not through the kernel interface
    write_file("/etc/plain", "xyz");
    int plain = open("/etc/plain", O_RDONLY);
    ASSERT_GE(plain, 0);
    int again = dup2(plain, fd);  // the flash descriptor's number, now another file
    close(plain);
    ASSERT_EQ(again, fd);
    char buf[4] = {};
    EXPECT_EQ(korv_plat_read(again, buf, 3), 3);
    EXPECT_STREQ(buf, "xyz");
    EXPECT_EQ(korv_plat_close(again), 0);
}

TEST_F(SimFlash, UnknownRequestOnFlashIsNotATty)
{
    int fd = open_dev("/dev/mtd0");
    uint8_t arg[8] = {};
    errno = 0;
    EXPECT_EQ(korv_plat_ioctl(fd, KORV_MSYS_GET_TABLE, arg), -1);  // not an MSys chip
    EXPECT_EQ(errno, ENOTTY);
    errno = 0;
    EXPECT_EQ(korv_plat_ioctl(fd, 0x12345678, arg), -1);
    EXPECT_EQ(errno, ENOTTY);
    korv_plat_close(fd);
}

// A content that gives byte (offset * 7 + salt) and records where it was asked for.
struct Asked {
    std::vector<std::pair<uint32_t, size_t>> calls;
    std::function<void(uint32_t, uint8_t *, size_t)> content(uint8_t salt)
    {
        return [this, salt](uint32_t offset, uint8_t *bytes, size_t count) {
            calls.push_back({offset, count});
            for (size_t i = 0; i < count; ++i)
                bytes[i] = static_cast<uint8_t>((offset + i) * 7 + salt);
        };
    }
};

std::string pattern(uint32_t length, uint32_t size, uint8_t salt)
{
    std::string out(size, '\xFF');
    for (uint32_t i = 0; i < length; ++i)
        out[i] = static_cast<char>(static_cast<uint8_t>(i * 7 + salt));
    return out;
}

TEST_F(SimFlash, LaidOutChipHoldsEveryWindowWithItsMirror)
{
    // A 3 MiB chip, so that the content of /dev/mtd4 spans the simulator's 1 MiB chunks.
    constexpr uint32_t kBase = 0xFFD00000;
    Asked a, b;
    std::vector<ctl::WindowLayout> layout(3);
    layout[0] = {4, kBase + kBlock, 0x180000, false, 0, 0x150001, a.content(3)};
    layout[1] = {1, kBase + 0x200000, 2 * kBlock, true, 0x40, 0x40, b.content(9)};
    layout[2] = {3, kBase + 0x2F0000, kBlock, false, 0, 0, {}};
    ASSERT_TRUE(ctl::lay_out_chip(ctl::Kind::Nor, 0x300000, kBlock, kBase, layout));

    auto chip = ctl::chip();
    ASSERT_TRUE(chip.has_value());
    EXPECT_EQ(chip->base, kBase);
    EXPECT_EQ(chip->size, 0x300000u);
    EXPECT_EQ(chip->erase_size, kBlock);
    auto windows = ctl::windows();
    ASSERT_EQ(windows.size(), 3u);  // the old chip's windows are gone
    EXPECT_FALSE(korvtest::file_exists("/dev/mtd0"));
    EXPECT_FALSE(korvtest::file_exists("/dev/mtd2"));
    const uint8_t salts[] = {3, 9, 0};  // of layout's windows, in its order
    for (size_t i = 0; i < windows.size(); ++i) {
        size_t at = static_cast<size_t>(std::find_if(layout.begin(), layout.end(),
                                                     [&](const auto &l) { return l.index == windows[i].index; }) -
                                        layout.begin());
        ASSERT_LT(at, layout.size());
        const auto &want = layout[at];
        SCOPED_TRACE(want.index);
        EXPECT_EQ(windows[i].base, want.base);
        EXPECT_EQ(windows[i].size, want.size);
        EXPECT_EQ(windows[i].locked, want.locked);
        EXPECT_EQ(windows[i].data_length, want.data_length);
        std::string bytes = pattern(want.length, want.size, salts[at]);
        auto chipBytes = ctl::read_window(want.index);
        EXPECT_TRUE(std::string(chipBytes.begin(), chipBytes.end()) == bytes);
        EXPECT_TRUE(read_file("/dev/mtd" + std::to_string(want.index)) == bytes);
    }
    EXPECT_EQ(ctl::check_windows(), "");
    // Each content was asked for its bytes once, in order, and never past its length.
    for (const Asked *asked : {&a, &b}) {
        uint32_t next = 0;
        for (const auto &[offset, count] : asked->calls) {
            EXPECT_EQ(offset, next);
            next = offset + static_cast<uint32_t>(count);
        }
        EXPECT_EQ(next, asked == &a ? 0x150001u : 0x40u);
    }
    // The bytes outside every window are the fill; the chip's rules hold on the new windows.
    int fd = open_dev("/dev/mtd1");
    EXPECT_EQ(korv_plat_write(fd, "x", 1), -1);
    EXPECT_EQ(errno, EROFS);
    korv_plat_close(fd);
    ASSERT_TRUE(ctl::define_window(7, kBase, kBlock));
    auto gap = ctl::read_window(7);
    EXPECT_EQ(std::count(gap.begin(), gap.end(), 0xFF), static_cast<long>(kBlock));
}

TEST_F(SimFlash, LaidOutMSysChipKeepsItsDataLengths)
{
    Asked a;
    std::vector<ctl::WindowLayout> layout(2);
    layout[0] = {0, 0, 4 * 16384, false, 1000, 1000, a.content(1)};
    layout[1] = {1, 4 * 16384, 8 * 16384, false, 0, 0, {}};
    ASSERT_TRUE(ctl::lay_out_chip(ctl::Kind::MSys, 0, 0, 0, layout));
    auto chip = ctl::chip();
    ASSERT_TRUE(chip.has_value());
    EXPECT_EQ(chip->kind, ctl::Kind::MSys);
    EXPECT_EQ(chip->size, 967u * 16384);
    EXPECT_EQ(chip->erase_size, 16384u);
    ASSERT_TRUE(ctl::window(0).has_value());
    EXPECT_EQ(ctl::window(0)->data_length, 1000u);
    auto bytes = ctl::read_window(0);
    EXPECT_TRUE(std::string(bytes.begin(), bytes.end()) == pattern(1000, 4 * 16384, 1));
}

ctl::WindowLayout win(int index, uint32_t base, uint32_t size, uint32_t length = 0)
{
    ctl::WindowLayout w;
    w.index = index;
    w.base = base;
    w.size = size;
    w.length = length;
    return w;
}

// A layout that cannot be: refused, and the tree's flash stays as the fixture made it.
struct BadLayout {
    const char *what;
    uint64_t chip_size;
    std::vector<ctl::WindowLayout> windows;
};

class SimFlashBadLayout : public SimFlash, public testing::WithParamInterface<BadLayout> {};

TEST_P(SimFlashBadLayout, IsRefusedAndTheFlashStays)
{
    const BadLayout &c = GetParam();
    std::vector<ctl::WindowLayout> windows = c.windows;
    for (auto &w : windows)
        if (w.length > 0 && !w.content && std::string(c.what) != "content missing")
            w.content = [](uint32_t, uint8_t *bytes, size_t count) { memset(bytes, 0, count); };
    auto before = ctl::windows();
    auto bytes = ctl::read_window(2);
    EXPECT_FALSE(ctl::lay_out_chip(ctl::Kind::Nor, c.chip_size, kBlock, kChipBase, windows));
    auto after = ctl::windows();
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < after.size(); ++i) {
        EXPECT_EQ(after[i].base, before[i].base);
        EXPECT_EQ(after[i].size, before[i].size);
    }
    EXPECT_EQ(ctl::read_window(2), bytes);
    EXPECT_EQ(ctl::read_fis(2).size(), 2u);
    EXPECT_TRUE(read_file("/dev/mtd2") == std::string(bytes.begin(), bytes.end()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimFlashBadLayout,
    testing::Values(
        BadLayout{"overlap", 0x100000, {win(0, kChipBase, 2 * kBlock), win(1, kChipBase + kBlock, kBlock)}},
        BadLayout{"past the end", 0x100000, {win(0, 0xFFFF0000, 2 * kBlock)}},
        BadLayout{"below the chip", 0x100000, {win(0, kChipBase - kBlock, 2 * kBlock)}},
        BadLayout{"size 0", 0x100000, {win(0, kChipBase, 0)}},
        BadLayout{"index twice", 0x100000, {win(0, kChipBase, kBlock), win(0, kChipBase + kBlock, kBlock)}},
        BadLayout{"negative index", 0x100000, {win(-1, kChipBase, kBlock)}},
        BadLayout{"length past the window", 0x100000, {win(0, kChipBase, kBlock, kBlock + 1)}},
        BadLayout{"content missing", 0x100000, {win(0, kChipBase, kBlock, 16)}},
        BadLayout{"chip not whole blocks", 0x100000 - 0x100, {win(0, kChipBase, kBlock)}},
        BadLayout{"chip past 4 GiB", 0x200000, {win(0, kChipBase, kBlock)}}),
    [](const testing::TestParamInfo<BadLayout> &info) {
        std::string name;
        for (const char *p = info.param.what; *p; ++p)
            if (isalnum(static_cast<unsigned char>(*p)))
                name += *p;
        return name;
    });

}  // namespace
