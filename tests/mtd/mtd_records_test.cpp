// The flash-record codec against the stored bytes and the simulated driver's own encoder, and the
// whole reads and writes through the platform layer over devices that end or fail.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <vector>

#include "device_tree.h"
#include "korv/mtd.h"
#include "korv/simctl.h"
#include "korv_flash_records.h"
#include "korv_io.h"

namespace ctl = korvsim::ctl;
namespace flash = korv::flash;

namespace {

uint32_t le32At(const uint8_t *raw, size_t at)
{
    return uint32_t(raw[at]) | uint32_t(raw[at + 1]) << 8 | uint32_t(raw[at + 2]) << 16 | uint32_t(raw[at + 3]) << 24;
}

KORVMTDFISENTRY sampleEntry()
{
    KORVMTDFISENTRY e;
    memset(&e, 0, sizeof e);
    strcpy(e.name, "zImage");
    e.flash_base = 0x50060000;
    e.mem_base = 0x00208000;
    e.size = 0x00200000;
    e.entry_point = 0x00208001;
    e.data_length = 0x0012ABCD;
    for (size_t i = 0; i < sizeof e.padding; ++i)
        e.padding[i] = static_cast<uint8_t>(i * 7 + 1);
    e.desc_cksum = 0xDEADBEEF;
    e.file_cksum = 0x01020304;
    return e;
}

TEST(FlashRecords, EntryWordsSitAtTheirOffsetsLittleEndian)
{
    KORVMTDFISENTRY e = sampleEntry();
    uint8_t raw[flash::kFisEntrySize];
    memset(raw, 0xAA, sizeof raw);
    flash::PackFisEntry(e, raw);
    struct {
        const char *field;
        size_t at;
        uint32_t value;
    } const words[] = {
        {"flash_base", 16, e.flash_base}, {"mem_base", 20, e.mem_base},     {"size", 24, e.size},
        {"entry_point", 28, e.entry_point}, {"data_length", 32, e.data_length}, {"desc_cksum", 248, e.desc_cksum},
        {"file_cksum", 252, e.file_cksum},
    };
    for (const auto &w : words)
        EXPECT_EQ(le32At(raw, w.at), w.value) << w.field;
    EXPECT_EQ(memcmp(raw, "zImage\0\0\0\0\0\0\0\0\0\0", 16), 0);
    EXPECT_EQ(memcmp(raw + 36, e.padding, sizeof e.padding), 0);  // every byte written, padding carried

    KORVMTDFISENTRY back = flash::UnpackFisEntry(raw);
    EXPECT_EQ(memcmp(&back, &e, sizeof e), 0);
}

TEST(FlashRecords, EntryAgreesWithTheControlTool)
{
    ctl::FisEntry want{"RedBoot Config", 0xFFFC0000, 0x1000, 0x1000, 0x2000, 0x0FFF, 0x11, 0x22};
    auto bytes = ctl::fis_pack(want);
    ASSERT_EQ(bytes.size(), flash::kFisEntrySize);
    KORVMTDFISENTRY e = flash::UnpackFisEntry(bytes.data());
    EXPECT_STREQ(e.name, "RedBoot Config");
    EXPECT_EQ(e.flash_base, want.flash_base);
    EXPECT_EQ(e.entry_point, want.entry_point);
    EXPECT_EQ(e.file_cksum, want.file_cksum);
    EXPECT_FALSE(flash::FisEntryFree(bytes.data()));
    bytes[0] = 0xFF;
    EXPECT_TRUE(flash::FisEntryFree(bytes.data()));
}

// The driver fills MEMGETINFO with its own encoder; the codec reads what it wrote.
TEST(FlashRecords, InfoReadsWhatTheDriverFills)
{
    auto parts = korvtest::build_redboot_flash();
    auto chip = ctl::chip();
    ASSERT_TRUE(chip);
    for (const auto &p : parts) {
        uint8_t raw[flash::kMtdInfoSize];
        ASSERT_EQ(KORVMTDGetDeviceInfo(p.device.c_str(), raw, sizeof raw), 0) << p.device;
        flash::MtdInfo info = flash::UnpackMtdInfo(raw);
        EXPECT_EQ(info.size, p.size) << p.device;
        EXPECT_EQ(info.erase_size, chip->erase_size) << p.device;
        uint8_t again[flash::kMtdInfoSize];
        flash::PackMtdInfo(info, again);
        EXPECT_EQ(memcmp(again, raw, sizeof raw), 0) << p.device;
    }
}

// An erased chip of two blocks: a data partition and a directory device of 300 bytes.
class ShortIo : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ctl::create_chip(ctl::Kind::Nor, 0x20000, 0x10000, 0xFFFE0000));
        ASSERT_TRUE(ctl::define_window(3, 0xFFFE0000, 0x10000));
        ASSERT_TRUE(ctl::define_window(7, 0xFFFF0000, 300));
    }
};

TEST_F(ShortIo, PlatReadFullStopsAtTheDevicesEnd)
{
    int fd = korv_plat_open("/dev/mtd7", O_RDONLY);
    ASSERT_GE(fd, 0);
    uint8_t buf[256];
    ASSERT_TRUE(korv::PlatReadFull(fd, buf, sizeof buf, {"/dev/mtd7", 0}).ok());
    korv::IoResult r = korv::PlatReadFull(fd, buf, sizeof buf, {"/dev/mtd7", 256});
    korv_plat_close(fd);
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.done, 44u);
    EXPECT_EQ(r.err, 0);
    EXPECT_EQ(r.Describe(), "read of /dev/mtd7 bytes 0x100-0x1ff: 0x2c bytes done, then end of device (errno 0)");
}

// A write cut short is written on; the failure after it names the device and the bytes.
TEST_F(ShortIo, PlatWriteAllReportsWhereTheDeviceStopped)
{
    struct Case {
        const char *name;
        int err;
        const char *message;
    } const cases[] = {
        {"Fails", EIO,
         "write of /dev/mtd3 bytes 0x0-0x3f: 0xa bytes done, then Input/output error (errno 5)"},
        {"TakesNothing", 0, "write of /dev/mtd3 bytes 0x0-0x3f: 0xa bytes done, then device took nothing (errno 0)"},
    };
    std::vector<uint8_t> chunk(64, 0x00);
    for (const auto &c : cases) {
        ctl::short_write("/dev/mtd3", 10, c.err, true);
        int fd = korv_plat_open("/dev/mtd3", O_WRONLY);
        ASSERT_GE(fd, 0);
        korv::IoResult r = korv::PlatWriteAll(fd, chunk.data(), chunk.size(), {"/dev/mtd3", 0});
        EXPECT_FALSE(r.ok()) << c.name;
        EXPECT_EQ(r.done, 10u) << c.name;
        EXPECT_EQ(errno, c.err) << c.name;
        EXPECT_EQ(r.Describe(), c.message) << c.name;
        // The fault was once: the rest goes on where the device stopped.
        korv::IoResult rest = korv::PlatWriteAll(fd, chunk.data(), chunk.size() - 10, {"/dev/mtd3", 10});
        EXPECT_TRUE(rest.ok()) << c.name << ": " << rest.Describe();
        korv_plat_close(fd);
        ctl::clear_faults();
        ASSERT_TRUE(ctl::fill_window(3, 0, 0x100, 0xFF));
    }
}

}  // namespace
