// korv-flashcp, the owner's way to write a partition back from "b@ckup": on a sample unit's
// flash, a torn partition written back whole, and each way it refuses or fails.
#include <errno.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "device_tree.h"
#include "korv/simctl.h"
#include "korvtest.h"

namespace ctl = korvsim::ctl;
using korvtest::write_file;

namespace {

const std::string kFlashcp = korvtest::shell_quote(KORV_BINARY_DIR "/bin/korv-flashcp");
const char kBackup[] = "/volume1/mtd_zImage";

void write_bytes(const std::string &path, const std::vector<uint8_t> &bytes)
{
    write_file(path, std::string(bytes.begin(), bytes.end()));
}

// The sample unit with partition 1's old bytes kept aside, and the partition then torn as a
// killed write leaves it: erased, and new bytes over part of it.
std::vector<uint8_t> torn_zimage()
{
    korvtest::build_sample_tree();
    std::vector<uint8_t> old = ctl::read_window(1);
    write_bytes(kBackup, old);
    EXPECT_TRUE(ctl::fill_window(1, 0, static_cast<uint32_t>(old.size()), 0xFF));
    EXPECT_TRUE(ctl::fill_window(1, 0, korvtest::image_bytes("zImage", 100000, 7)));
    return old;
}

TEST(Flashcp, TornPartitionWrittenBackWhole)
{
    const std::vector<uint8_t> old = torn_zimage();
    // What a plain copy does on NOR flash: it only clears bits, so the partition is neither.
    std::string out;
    ASSERT_EQ(korvtest::run_shell(std::string("dd if=") + kBackup + " of=/dev/mtd1 bs=131072 2>/dev/null"), 0);
    EXPECT_NE(ctl::read_window(1), old);

    ASSERT_EQ(korvtest::run_shell(kFlashcp + " " + kBackup + " /dev/mtd1 2>&1", &out), 0) << out;
    EXPECT_NE(out.find("written to /dev/mtd1 (" + std::to_string(old.size()) + " bytes) and verified"),
              std::string::npos)
        << out;
    EXPECT_EQ(ctl::read_window(1), old);
    // A locked partition is unlocked first, as the rollback does.
    ASSERT_TRUE(ctl::set_locked(1, true));
    ASSERT_EQ(korvtest::run_shell(kFlashcp + " " + kBackup + " /dev/mtd1 2>&1", &out), 0) << out;
    EXPECT_EQ(ctl::read_window(1), old);
}

// A shorter file leaves erased flash after it, as the updater's write does.
TEST(Flashcp, ShorterFileThenErasedFlash)
{
    torn_zimage();
    const std::vector<uint8_t> image = korvtest::image_bytes("zImage", 5000, 3);
    write_bytes("/volume1/short", image);
    std::string out;
    ASSERT_EQ(korvtest::run_shell(kFlashcp + " /volume1/short /dev/mtd1 2>&1", &out), 0) << out;
    std::vector<uint8_t> now = ctl::read_window(1);
    ASSERT_GT(now.size(), image.size());
    EXPECT_EQ(std::vector<uint8_t>(now.begin(), now.begin() + static_cast<long>(image.size())), image);
    for (size_t i = image.size(); i < now.size(); ++i)
        ASSERT_EQ(now[i], 0xFF) << i;
}

struct FailCase {
    const char *name;
    std::function<std::string()> setUp;  // the command's arguments
    int status;
    const char *message;                 // part of what it prints
    bool untouched;                      // the torn partition is as it was
};

void PrintTo(const FailCase &c, std::ostream *os)
{
    *os << c.name;
}

const std::vector<FailCase> &FailCases()
{
    static const std::vector<FailCase> cases = {
        {"Usage", [] { return std::string(kBackup); }, 2, "usage: ", true},
        {"NoSuchDevice", [] { return std::string(kBackup) + " /dev/mtd9"; }, 1,
         "/dev/mtd9 is no flash partition (its MTD information cannot be read)", true},
        {"MissingFile", [] { return std::string("/volume1/nothing /dev/mtd1"); }, 1,
         "/volume1/nothing: No such file or directory", true},
        {"FileLargerThanThePartition",
         [] {
             write_bytes("/volume1/big", std::vector<uint8_t>(ctl::read_window(1).size() + 1, 0x11));
             return std::string("/volume1/big /dev/mtd1");
         },
         1, "is larger than /dev/mtd1", true},
        {"WriteFails",
         [] {
             ctl::fail_request("/dev/mtd1", "WRITE", EIO);
             return std::string(kBackup) + " /dev/mtd1";
         },
         1, "write of /dev/mtd1 bytes 0x0-0x3fff: 0x0 bytes done, then Input/output error", false},
        {"VerifyFails",
         [] {
             ctl::corrupt_read("/dev/mtd1", 70000);
             return std::string(kBackup) + " /dev/mtd1";
         },
         1, "/dev/mtd1 differs from /volume1/mtd_zImage at byte 0x11170: the write did not hold", false},
        {"EraseFails",
         [] {
             ctl::fail_request("/dev/mtd1", "MEMERASE", EIO);
             return std::string(kBackup) + " /dev/mtd1";
         },
         1, "cannot erase /dev/mtd1", true},
    };
    return cases;
}

class FlashcpFails : public testing::TestWithParam<FailCase> {};

TEST_P(FlashcpFails, SaysWhyAndExitsNonZero)
{
    const FailCase &c = GetParam();
    torn_zimage();
    const std::vector<uint8_t> torn = ctl::read_window(1);
    std::string out;
    EXPECT_EQ(korvtest::run_shell(kFlashcp + " " + c.setUp() + " 2>&1", &out), c.status) << out;
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
    if (c.untouched) {
        EXPECT_EQ(ctl::read_window(1), torn);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, FlashcpFails, testing::ValuesIn(FailCases()),
                         [](const testing::TestParamInfo<FailCase> &i) { return std::string(i.param.name); });

}  // namespace
