// The simulated MSys flash: the partition table, format and partition requests on /dev/mtd0,
// and `dd` writes through the mirrors.
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <string.h>

#include <gtest/gtest.h>

#include <vector>

#include "device_tree.h"
#include "korv/platform.h"
#include "korv/simctl.h"
#include "korvtest.h"

namespace ctl = korvsim::ctl;

namespace {

class SimMSys : public testing::Test {
protected:
    void SetUp() override
    {
        parts_ = korvtest::build_msys_flash();
        fd_ = korv_plat_open("/dev/mtd0", O_RDWR);
        ASSERT_GE(fd_, 0);
    }
    void TearDown() override { korv_plat_close(fd_); }

    std::vector<uint32_t> table()
    {
        uint32_t words[16];
        memset(words, 0xEE, sizeof words);
        EXPECT_EQ(korv_plat_ioctl(fd_, KORV_MSYS_GET_TABLE, words), 0);
        return std::vector<uint32_t>(words, words + 16);
    }

    int partition(std::vector<uint32_t> units) { return korv_plat_ioctl(fd_, KORV_MSYS_PARTITION, units.data()); }
    int format(uintptr_t value) { return korv_plat_ioctl(fd_, KORV_MSYS_FORMAT, reinterpret_cast<void *>(value)); }

    std::vector<korvtest::FlashPartition> parts_;
    int fd_ = -1;
};

TEST_F(SimMSys, TableListsSizesAndDataLengths)
{
    auto words = table();
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(words[2 * i], parts_[i].size) << i;
        EXPECT_EQ(words[2 * i + 1], parts_[i].data_length) << i;
    }
    uint8_t info[32];
    int fd = korv_plat_open("/dev/mtd3", O_RDONLY);
    ASSERT_EQ(korv_plat_ioctl(fd, KORV_MEMGETINFO, info), 0);
    uint32_t erase;
    memcpy(&erase, info + 12, 4);
    EXPECT_EQ(erase, 16384u);
    // Only /dev/mtd0 takes the MSys requests.
    uint32_t words2[16];
    errno = 0;
    EXPECT_EQ(korv_plat_ioctl(fd, KORV_MSYS_GET_TABLE, words2), -1);
    EXPECT_EQ(errno, ENOTTY);
    korv_plat_close(fd);
}

TEST_F(SimMSys, PartitionNeedsThePreparingFormat)
{
    std::vector<uint32_t> units = {16, 128, 256, 400, 4, 4, 4, 4};
    errno = 0;
    EXPECT_EQ(partition(units), -1);
    EXPECT_EQ(errno, EPERM);
    errno = 0;
    EXPECT_EQ(format(966), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_FALSE(ctl::chip()->msys_prepared);
    ASSERT_EQ(format(967), 0);
    EXPECT_TRUE(ctl::chip()->msys_prepared);
    EXPECT_EQ(partition(units), 0);
    // Preparing is good for one partitioning.
    errno = 0;
    EXPECT_EQ(partition(units), -1);
    EXPECT_EQ(errno, EPERM);
}

TEST_F(SimMSys, PartitionCreatesEightErasedPartitions)
{
    std::vector<uint32_t> units = {20, 100, 300, 527, 5, 5, 5, 5};  // 967 in all
    ASSERT_EQ(format(967), 0);
    ASSERT_EQ(partition(units), 0);
    auto words = table();
    uint32_t base = 0;
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(words[2 * i], units[i] * 16384u) << i;
        EXPECT_EQ(words[2 * i + 1], 0u) << i;
        auto w = ctl::window(i);
        ASSERT_TRUE(w);
        EXPECT_EQ(w->base, base);
        base += units[i] * 16384u;
        auto bytes = ctl::read_window(i);
        EXPECT_EQ(bytes, std::vector<uint8_t>(units[i] * 16384u, 0xFF)) << i;
        EXPECT_EQ(korvtest::read_file("/dev/mtd" + std::to_string(i)).size(), units[i] * 16384u);
    }
    EXPECT_EQ(ctl::check_windows(), "");
}

TEST_F(SimMSys, PartitionRefusesMoreThanTheFlash)
{
    ASSERT_EQ(format(967), 0);
    for (auto units : {std::vector<uint32_t>{20, 100, 300, 528, 5, 5, 5, 5},  // 968
                       std::vector<uint32_t>{20, 100, 300, 0, 5, 5, 5, 5}}) {  // an empty partition
        errno = 0;
        EXPECT_EQ(partition(units), -1);
        EXPECT_EQ(errno, EINVAL);
    }
    // Nothing changed.
    EXPECT_EQ(table()[2], parts_[1].size);
    EXPECT_EQ(ctl::read_window(1), [&] {
        auto b = korvtest::image_bytes("zImage", parts_[1].data_length);
        b.resize(parts_[1].size, 0xFF);
        return b;
    }());
}

TEST_F(SimMSys, DdWriteOverwritesAndSetsTheDataLength)
{
    ctl::fill_window(2, 0, 0x100, 0x00);
    korvtest::write_file("/rd.bin", std::string(40000, '\x7E'));
    ASSERT_EQ(korvtest::run_shell("/bin/dd if=\"/rd.bin\" of=\"/dev/mtd2\" bs=16384 2>/dev/null"), 0);
    auto words = table();
    EXPECT_EQ(words[5], 40000u);
    auto bytes = ctl::read_window(2);
    EXPECT_EQ(bytes[0], 0x7E);  // plain overwrite, not AND-ed with the old 0x00
    EXPECT_EQ(bytes[39999], 0x7E);
    EXPECT_EQ(bytes[40000], korvtest::image_bytes("rd.gz", 40001)[40000]);
}

TEST_F(SimMSys, DdOfAnOldBackupIntoASmallerPartitionFails)
{
    ASSERT_EQ(korvtest::run_shell("/bin/dd if=/dev/mtd3 of=/mtd_AllLib.tgz bs=16384 2>/dev/null"), 0);
    ASSERT_EQ(format(967), 0);
    ASSERT_EQ(partition({16, 129, 256, 399, 4, 4, 4, 4}), 0);  // AllLib.tgz gave one unit away
    EXPECT_NE(korvtest::run_shell("/bin/dd if=/mtd_AllLib.tgz of=/dev/mtd3 bs=16384 2>/dev/null"), 0);
    auto words = table();
    EXPECT_EQ(words[6], 399u * 16384);
    EXPECT_EQ(words[7], 399u * 16384);  // what fitted was written
    EXPECT_EQ(ctl::window(4)->data_length, 0u);  // and nothing ran over into the next partition
}

TEST_F(SimMSys, EraseCutsTheDataLengthAndRedBootRequestsAreRefused)
{
    int fd = korv_plat_open("/dev/mtd1", O_RDWR);
    ASSERT_GE(fd, 0);
    uint32_t range[2] = {0x10000, 0x4000};  // one unit inside the data
    ASSERT_EQ(korv_plat_ioctl(fd, KORV_MEMERASE, range), 0);
    EXPECT_EQ(table()[3], 0x10000u);
    EXPECT_EQ(ctl::read_window(1)[0x10000], 0xFF);
    EXPECT_NE(ctl::read_window(1)[0], 0xFF);

    // The RedBoot driver's requests belong to NOR flash.
    uint32_t size[2] = {0x4000, 0x8000};
    errno = 0;
    EXPECT_EQ(korv_plat_ioctl(fd, KORV_MTD_SET_PARTITION, size), -1);
    EXPECT_EQ(errno, ENOTTY);
    uint8_t mod[28] = {'z', 'I', 'm', 'a', 'g', 'e'};
    errno = 0;
    EXPECT_EQ(korv_plat_ioctl(fd, KORV_MTD_SET_FIS_ENTRY, mod), -1);
    EXPECT_EQ(errno, ENOTTY);
    korv_plat_close(fd);
    EXPECT_EQ(ctl::window(1)->size, parts_[1].size);
}

}  // namespace
