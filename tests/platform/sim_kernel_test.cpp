// The simulated kernel's system calls, clock and md requests, and the injected faults.
#include <errno.h>
#include <fcntl.h>
#include <string.h>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "korv/platform.h"
#include "korv/simctl.h"
#include "korvtest.h"

namespace ctl = korvsim::ctl;

namespace {

TEST(SimKernel, SystemCall401IsAbsentUntilSet)
{
    uint32_t word = 0xAAAA;
    errno = 0;
    EXPECT_EQ(korv_plat_flag_get(&word), -1);
    EXPECT_EQ(errno, ENOSYS);
    EXPECT_EQ(word, 0xAAAAu);

    ctl::set_flag_word(0x80000003u);
    ASSERT_EQ(korv_plat_flag_get(&word), 0);
    EXPECT_EQ(word, 0x80000003u);

    ctl::set_flag_word(std::nullopt);
    errno = 0;
    EXPECT_EQ(korv_plat_flag_get(&word), -1);
    EXPECT_EQ(errno, ENOSYS);
}

TEST(SimKernel, SystemCall405GivesTheSetResult)
{
    struct {
        int setting;
        int result;
        int err;
    } cases[] = {{0, 0, 0}, {ENOSYS, -1, ENOSYS}, {ENOMEM, -1, ENOMEM}, {EBUSY, -1, EBUSY}};
    for (const auto &c : cases) {
        ctl::set_syscall405(c.setting);
        errno = 0;
        EXPECT_EQ(korv_plat_driver_buffer(1), c.result) << c.setting;
        if (c.result < 0) {
            EXPECT_EQ(errno, c.err) << c.setting;
        }
    }
    ctl::set_syscall405(0);
    ASSERT_EQ(korv_plat_driver_buffer(1), 0);
    EXPECT_EQ(ctl::driver_buffer_state(), "allocated");
    ASSERT_EQ(korv_plat_driver_buffer(0), 0);
    EXPECT_EQ(ctl::driver_buffer_state(), "free");
    auto log = ctl::requests("kernel", "SYS405");
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log.back().args, "arg=0");
}

TEST(SimKernel, UptimeFollowsTheSetting)
{
    long up = -1;
    ASSERT_EQ(korv_plat_uptime(&up), 0);
    EXPECT_EQ(up, 100);  // a device booted shortly before
    for (long value : {0L, 300L, 301L, 86400L}) {
        ctl::set_uptime(value);
        ASSERT_EQ(korv_plat_uptime(&up), 0);
        EXPECT_EQ(up, value);
    }
}

TEST(SimKernel, MdRequestsReadTheArraySettings)
{
    std::vector<int32_t> words(18, 0);
    words[4] = 5;       // level
    words[5] = 976320;  // KiB
    words[7] = 4;       // raid_disks
    ctl::set_md_array(0, words);
    ctl::set_md_size(0, 999751680ull * 4);
    ctl::set_md_rebuild(0, 1, 250, 1000);
    int fd = korv_plat_open("/dev/md0", O_RDONLY);
    ASSERT_GE(fd, 0);
    int32_t info[18];
    memset(info, 0x55, sizeof info);
    ASSERT_EQ(korv_plat_ioctl(fd, KORV_MD_GET_ARRAY_INFO, info), 0);
    EXPECT_EQ(std::vector<int32_t>(info, info + 18), words);
    uint64_t size = 0;
    ASSERT_EQ(korv_plat_ioctl(fd, KORV_BLKGETSIZE64, &size), 0);
    EXPECT_EQ(size, 999751680ull * 4);
    uint32_t rebuild[3] = {};
    ASSERT_EQ(korv_plat_ioctl(fd, KORV_MD_REBUILD_STATUS, rebuild), 0);
    EXPECT_EQ(rebuild[0], 1u);
    EXPECT_EQ(rebuild[1], 250u);
    EXPECT_EQ(rebuild[2], 1000u);

    ctl::remove_md_array(0);  // the array stops
    errno = 0;
    EXPECT_EQ(korv_plat_ioctl(fd, KORV_MD_GET_ARRAY_INFO, info), -1);
    EXPECT_EQ(errno, ENODEV);
    EXPECT_EQ(korv_plat_ioctl(fd, KORV_MD_REBUILD_STATUS, rebuild), -1);
    EXPECT_EQ(errno, ENODEV);
    korv_plat_close(fd);
}

// Faults on a 2-block NOR chip with one window.
class SimFaults : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ctl::create_chip(ctl::Kind::Nor, 0x20000, 0x10000, 0xFFFE0000));
        ASSERT_TRUE(ctl::define_window(3, 0xFFFE0000, 0x20000));
        ctl::clear_requests();
    }
};

TEST_F(SimFaults, FailedRequestOnceThenAlways)
{
    ctl::fail_request("/dev/mtd3", "MEMERASE", EIO, true);
    int fd = korv_plat_open("/dev/mtd3", O_RDWR);
    ASSERT_GE(fd, 0);
    uint32_t range[2] = {0, 0x10000};
    errno = 0;
    EXPECT_EQ(korv_plat_ioctl(fd, KORV_MEMERASE, range), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(korv_plat_ioctl(fd, KORV_MEMERASE, range), 0);

    ctl::fail_request("*", "MEMGETINFO", EPERM, false);
    uint8_t info[32];
    for (int i = 0; i < 3; ++i) {
        errno = 0;
        EXPECT_EQ(korv_plat_ioctl(fd, KORV_MEMGETINFO, info), -1);
        EXPECT_EQ(errno, EPERM);
    }
    ctl::clear_faults();
    EXPECT_EQ(korv_plat_ioctl(fd, KORV_MEMGETINFO, info), 0);
    korv_plat_close(fd);

    ctl::fail_request("/dev/mtd3", "OPEN", ENXIO, true);
    errno = 0;
    EXPECT_EQ(korv_plat_open("/dev/mtd3", O_RDONLY), -1);
    EXPECT_EQ(errno, ENXIO);
    fd = korv_plat_open("/dev/mtd3", O_RDONLY);
    EXPECT_GE(fd, 0);
    korv_plat_close(fd);
}

// A fault with a skip count lets that many matching requests through first, then fires.
TEST_F(SimFaults, FailedRequestAfterSkippedOnes)
{
    ctl::fail_request("/dev/mtd3", "MEMERASE", EIO, true, 2);
    ctl::fail_request("/dev/mtd3", "MEMUNLOCK", EROFS, false, 1);
    int fd = korv_plat_open("/dev/mtd3", O_RDWR);
    ASSERT_GE(fd, 0);
    uint32_t range[2] = {0, 0x10000};
    std::vector<int> erase, unlock;
    for (int i = 0; i < 4; ++i) {
        errno = 0;
        erase.push_back(korv_plat_ioctl(fd, KORV_MEMERASE, range) == 0 ? 0 : errno);
        errno = 0;
        unlock.push_back(korv_plat_ioctl(fd, KORV_MEMUNLOCK, range) == 0 ? 0 : errno);
    }
    EXPECT_EQ(erase, (std::vector<int>{0, 0, EIO, 0}));
    EXPECT_EQ(unlock, (std::vector<int>{0, EROFS, EROFS, EROFS}));
    // Another device's requests do not count.
    ctl::clear_faults();
    ctl::fail_request("/dev/mtd4", "MEMERASE", EIO, true, 0);
    EXPECT_EQ(korv_plat_ioctl(fd, KORV_MEMERASE, range), 0);
    korv_plat_close(fd);
}

TEST_F(SimFaults, FailedSystemCalls)
{
    ctl::set_flag_word(1u);
    ctl::fail_request("kernel", "SYS401", EFAULT, true);
    ctl::fail_request("kernel", "SYS405", ENOMEM, true);
    ctl::fail_request("kernel", "UPTIME", EINVAL, true);
    uint32_t word = 0;
    long up = 0;
    errno = 0;
    EXPECT_EQ(korv_plat_flag_get(&word), -1);
    EXPECT_EQ(errno, EFAULT);
    EXPECT_EQ(korv_plat_driver_buffer(1), -1);
    EXPECT_EQ(errno, ENOMEM);
    EXPECT_EQ(korv_plat_uptime(&up), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(korv_plat_flag_get(&word), 0);
    EXPECT_EQ(word, 1u);
}

TEST_F(SimFaults, CorruptReadChangesOneByteOfTheReadOnly)
{
    ASSERT_TRUE(ctl::fill_window(3, 0, 0x8000, 0x5A));
    ctl::corrupt_read("/dev/mtd3", 0x4000, 0x01, false);
    for (int pass = 0; pass < 2; ++pass) {
        int fd = korv_plat_open("/dev/mtd3", O_RDONLY);
        ASSERT_GE(fd, 0);
        std::vector<uint8_t> got(0x8000);
        for (size_t at = 0; at < got.size(); at += 0x2000)  // 8 KiB reads, as a verify does
            ASSERT_EQ(korv_plat_read(fd, &got[at], 0x2000), 0x2000);
        korv_plat_close(fd);
        for (size_t i = 0; i < got.size(); ++i)
            ASSERT_EQ(got[i], i == 0x4000 ? 0x5B : 0x5A) << "pass " << pass << " offset " << i;
    }
    // The chip and the mirror keep the true byte.
    EXPECT_EQ(ctl::read_window(3)[0x4000], 0x5A);
    EXPECT_EQ(static_cast<uint8_t>(korvtest::read_file("/dev/mtd3")[0x4000]), 0x5A);

    ctl::clear_faults();
    ctl::corrupt_read("/dev/mtd3", 0x10, 0xFF, true);
    uint8_t b[32];
    int fd = korv_plat_open("/dev/mtd3", O_RDONLY);
    ASSERT_EQ(korv_plat_read(fd, b, sizeof b), 32);
    EXPECT_EQ(b[0x10], 0xA5);
    ASSERT_EQ(korv_plat_lseek(fd, 0, SEEK_SET), 0);
    ASSERT_EQ(korv_plat_read(fd, b, sizeof b), 32);
    EXPECT_EQ(b[0x10], 0x5A);
    korv_plat_close(fd);
}

TEST_F(SimFaults, ShortWriteThenError)
{
    ctl::short_write("/dev/mtd3", 20000, EIO, true);
    int fd = korv_plat_open("/dev/mtd3", O_WRONLY);
    ASSERT_GE(fd, 0);
    std::vector<uint8_t> chunk(16384, 0x00);
    EXPECT_EQ(korv_plat_write(fd, chunk.data(), chunk.size()), 16384);
    EXPECT_EQ(korv_plat_write(fd, chunk.data(), chunk.size()), 20000 - 16384);
    errno = 0;
    EXPECT_EQ(korv_plat_write(fd, chunk.data(), chunk.size()), -1);
    EXPECT_EQ(errno, EIO);
    // Once: the device writes again afterwards, from where it stopped.
    EXPECT_EQ(korv_plat_write(fd, chunk.data(), 100), 100);
    korv_plat_close(fd);
    auto bytes = ctl::read_window(3);
    EXPECT_EQ(bytes[20000 + 99], 0x00);
    EXPECT_EQ(bytes[20000 + 100], 0xFF);
    auto log = ctl::requests("/dev/mtd3", "WRITE");
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[2].result, -1);
    EXPECT_EQ(log[2].err, EIO);
    EXPECT_EQ(log[1].args, "offset=0x00004000,count=16384");
}

TEST_F(SimFaults, ShortWriteWithoutErrorTakesNothing)
{
    ctl::short_write("/dev/mtd3", 10, 0, true);
    int fd = korv_plat_open("/dev/mtd3", O_WRONLY);
    ASSERT_GE(fd, 0);
    std::vector<uint8_t> chunk(64, 0x00);
    EXPECT_EQ(korv_plat_write(fd, chunk.data(), chunk.size()), 10);
    errno = 0;
    EXPECT_EQ(korv_plat_write(fd, chunk.data(), chunk.size()), 0);
    EXPECT_EQ(errno, 0);
    EXPECT_EQ(korv_plat_write(fd, chunk.data(), chunk.size()), 64);  // once: the device takes bytes again
    korv_plat_close(fd);
    auto bytes = ctl::read_window(3);
    EXPECT_EQ(bytes[10 + 63], 0x00);
    EXPECT_EQ(bytes[10 + 64], 0xFF);

    ctl::short_write("/dev/mtd3", 0, 0, false);
    fd = korv_plat_open("/dev/mtd3", O_WRONLY);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(korv_plat_write(fd, chunk.data(), chunk.size()), 0);
    korv_plat_close(fd);
}

TEST_F(SimFaults, SuccessfulCallsLeaveErrnoAlone)
{
    ctl::set_flag_word(1u);
    // Each call below succeeds; callers may clear errno before a call and test it after.
    int fd = -1;
    uint32_t range[2] = {0, 0x10000};
    uint8_t info[32], byte = 0x00;
    uint32_t word = 0;
    long up = 0;
    struct {
        const char *call;
        std::function<long long()> run;
    } cases[] = {
        {"open", [&] { return fd = korv_plat_open("/dev/mtd3", O_RDWR); }},
        {"MEMGETINFO", [&] { return korv_plat_ioctl(fd, KORV_MEMGETINFO, info); }},
        {"MEMERASE", [&] { return korv_plat_ioctl(fd, KORV_MEMERASE, range); }},
        {"write", [&] { return korv_plat_write(fd, &byte, 1); }},
        {"lseek", [&] { return korv_plat_lseek(fd, 0, SEEK_SET); }},
        {"read", [&] { return korv_plat_read(fd, &byte, 1); }},
        {"close", [&] { return korv_plat_close(fd); }},
        {"401", [&] { return korv_plat_flag_get(&word); }},
        {"405", [&] { return korv_plat_driver_buffer(1); }},
        {"uptime", [&] { return korv_plat_uptime(&up); }},
    };
    for (auto &c : cases) {
        errno = EDOM;
        EXPECT_GE(c.run(), 0) << c.call;
        EXPECT_EQ(errno, EDOM) << c.call;
    }
    EXPECT_EQ(ctl::requests("/dev/mtd3", "WRITE").at(0).result, 1);
}

TEST_F(SimFaults, RequestLogRecordsEveryRequest)
{
    int fd = korv_plat_open("/dev/mtd3", O_RDWR);
    uint32_t range[2] = {0, 0x20000};
    korv_plat_ioctl(fd, KORV_MEMLOCK, range);
    uint8_t b = 0;
    korv_plat_write(fd, &b, 1);
    korv_plat_close(fd);
    auto log = ctl::requests();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].line, "/dev/mtd3 OPEN O_RDWR -> " + std::to_string(fd));
    EXPECT_EQ(log[1].line, "/dev/mtd3 MEMLOCK start=0x00000000,length=0x00020000 -> 0");
    EXPECT_EQ(log[2].line, "/dev/mtd3 WRITE offset=0x00000000,count=1 -> -1 EROFS");
    EXPECT_EQ(log[3].line, "/dev/mtd3 CLOSE - -> 0");
    ctl::clear_requests();
    EXPECT_TRUE(ctl::requests().empty());
}

}  // namespace
