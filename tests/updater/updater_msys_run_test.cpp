// Whole updates of an MSys unit: the partition table, the plan, the backup, the write with and
// without re-partitioning, the rollback, the hand-over, and each fault of the write and of the
// rollback with what the flash and "b@ckup" hold afterwards.
#include <errno.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "device_tree.h"
#include "korv/simctl.h"
#include "korvtest.h"
#include "updater_run.h"

namespace ctl = korvsim::ctl;
using korvtest::UpdateTree;

namespace {

constexpr uint32_t kUnit = 16384;
const char *const kNames[] = {"RedBoot", "zImage", "rd.gz", "AllLib.tgz",
                              "vendor", "korvcfg", "RedBoot Config", "FIS Directory"};
const char kWork[] = "/volume1/upd@te";
const char kBackup[] = "/volume1/upd@te/b@ckup";
const char kStart[] = "Start of the update...";
const char kUpgrade[] = "Upgrade from version 2.0.3.351 to version 2.1.0.400";
const char kDone[] = "Congratulation!! The update has been completed!!";

std::string failed(int code)
{
    return "Failed to accomplish the update! (errno = " + std::to_string(code) + ")";
}

// A flash of 32 units, so that a whole update stays small. Spare units: RedBoot 1, zImage 3,
// rd.gz 2, AllLib.tgz 1, the fixed partitions none.
korvtest::MSysOptions SmallFlash()
{
    korvtest::MSysOptions o;
    o.units = {4, 8, 8, 8, 1, 1, 1, 1};
    o.data_lengths = {0x9000, 0x12345, 0x16000, 0x1A000, 0x4000, 0x2000, 0x4000, 0x800};
    return o;
}

// "/bin/dd" of the tree: records each run's arguments in /.korvsim/dd.log, and fails the runs
// listed in /.korvsim/dd.fail ("mtdN:K", the K-th copy onto /dev/mtdN) after copying their first
// block (one byte of a copy counted in bytes); a run listed in /.korvsim/dd.kill ("mtdN:K SIGNAL") sends the updater that signal first.
const char kDdScript[] = R"SH(#!/bin/sh
echo "$*" >> /.korvsim/dd.log
dev=
for a in "$@"; do case "$a" in of=/dev/mtd*) dev=${a#of=/dev/} ;; esac; done
[ -n "$dev" ] || exec /.korvsim/tools/dd "$@"
n=$(( $(cat /.korvsim/dd.$dev 2>/dev/null || echo 0) + 1 ))
echo $n > /.korvsim/dd.$dev
sig=$(sed -n "s/^$dev:$n //p" /.korvsim/dd.kill 2>/dev/null)
if [ -n "$sig" ]; then
  p=$PPID
  while [ "$(cat /proc/$p/comm)" != updater ]; do p=$(cut -d' ' -f4 /proc/$p/stat); done
  kill -$sig $p
fi
if grep -qx "$dev:$n" /.korvsim/dd.fail 2>/dev/null; then
  /.korvsim/tools/dd "$@" count=1 2>/dev/null
  exit 1
fi
exec /.korvsim/tools/dd "$@"
)SH";

// A progress text as a reader takes it: letter, colon, number (the blanks after it may hold
// what a longer value left).
std::string Shown(const std::string &text)
{
    size_t colon = text.find(':', 2);
    return colon == std::string::npos ? text : text.substr(0, colon);
}

std::string Value(char stage, int value)
{
    return std::string(1, stage) + ":" + std::to_string(value);
}

// The arguments of each dd run, in order.
std::vector<std::string> DdRuns()
{
    std::vector<std::string> runs;
    std::istringstream in(korvtest::read_file("/.korvsim/dd.log"));
    for (std::string line; std::getline(in, line);)
        runs.push_back(line);
    return runs;
}

// The arguments of the dd runs whose target is a flash device, in order.
std::vector<std::string> FlashWrites()
{
    std::vector<std::string> out;
    for (const auto &args : DdRuns())
        if (args.find(" of=/dev/mtd") != std::string::npos)
            out.push_back(args);
    return out;
}

std::string WriteFromImage(const std::string &file, int i)
{
    return std::string("if=") + kWork + "/" + file + " of=/dev/mtd" + std::to_string(i) + " bs=16384";
}

// The copy of a partition's bytes in use from its backup (`length` bytes, the old data length).
std::string WriteFromBackup(int i, uint32_t length)
{
    return std::string("if=") + kBackup + "/mtd_" + kNames[i] + " of=/dev/mtd" + std::to_string(i) +
           " bs=16384 count=" + std::to_string(length) + " iflag=count_bytes";
}

// The MSys requests on /dev/mtd0 with their arguments.
std::vector<std::string> MSysRequests()
{
    std::vector<std::string> out;
    for (const auto &r : ctl::requests("/dev/mtd0", ""))
        if (r.name.compare(0, 5, "MSYS_") == 0)
            out.push_back(r.name + (r.args.empty() || r.args == "-" ? "" : " " + r.args) + " -> " +
                          std::to_string(r.result));
    return out;
}

std::vector<uint8_t> Bytes(const std::string &text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

// The flash as a run found it: each partition's window and bytes.
struct FlashImage {
    std::vector<ctl::WindowInfo> windows;
    std::vector<std::vector<uint8_t>> bytes;
};

FlashImage ReadFlash()
{
    FlashImage f;
    for (int i = 0; i < 8; ++i) {
        auto w = ctl::window(i);
        f.windows.push_back(w ? *w : ctl::WindowInfo{});
        f.bytes.push_back(ctl::read_window(i));
    }
    return f;
}

// The flash a write gives: partitions of `units` (the old ones when empty), each holding its
// image (then 0xFF on a re-partitioned flash, else its old bytes) with the image's length as its
// data length, or else its old bytes and data length (on a re-partitioned flash the old bytes in
// use, then 0xFF).
FlashImage NewFlash(const FlashImage &old, const std::vector<uint32_t> &units, const std::map<int, std::string> &images)
{
    FlashImage f;
    bool repartitioned = !units.empty();
    uint32_t base = 0;
    for (int i = 0; i < 8; ++i) {
        ctl::WindowInfo w = old.windows[i];
        if (repartitioned) {
            w.base = base;
            w.size = units[i] * kUnit;
        }
        base += w.size;
        std::vector<uint8_t> bytes = repartitioned ? std::vector<uint8_t>(w.size, 0xFF) : old.bytes[i];
        if (images.count(i)) {
            auto image = Bytes(korvtest::read_file(images.at(i)));
            std::copy(image.begin(), image.end(), bytes.begin());
            w.data_length = static_cast<uint32_t>(image.size());
        } else if (repartitioned) {
            w.data_length = std::min(old.windows[i].data_length, w.size);
            std::copy(old.bytes[i].begin(), old.bytes[i].begin() + w.data_length, bytes.begin());
        }
        f.windows.push_back(w);
        f.bytes.push_back(bytes);
    }
    return f;
}

void ExpectFlash(const FlashImage &actual, const FlashImage &expected, const char *what)
{
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(actual.windows[i].base, expected.windows[i].base) << what << ": " << kNames[i];
        EXPECT_EQ(actual.windows[i].size, expected.windows[i].size) << what << ": " << kNames[i];
        EXPECT_EQ(actual.windows[i].data_length, expected.windows[i].data_length)
            << what << ": the data length of " << kNames[i];
        EXPECT_TRUE(actual.bytes[i] == expected.bytes[i]) << what << ": the bytes of " << kNames[i];
    }
    EXPECT_EQ(ctl::check_windows(), "");
}

// The backup files, each the whole old partition.
void ExpectBackup(const FlashImage &old)
{
    for (int i = 0; i < 8; ++i)
        EXPECT_TRUE(Bytes(korvtest::read_file(std::string(kBackup) + "/mtd_" + kNames[i])) == old.bytes[i])
            << "mtd_" << kNames[i];
}

class MSysRun : public testing::Test {
protected:
    // Builds the tree with a small MSys flash, the package's images and hda1.tgz, and the
    // recording dd.
    void Build(const std::map<std::string, size_t> &images, std::function<void(UpdateTree &)> change = {})
    {
        tree_.flash = UpdateTree::Flash::MSys;
        tree_.msys = SmallFlash();
        tree_.package.images = images;
        if (change)
            change(tree_);
        korvtest::build_update_tree(tree_);
        korvtest::write_file(tree_.package.dir + "/hda1.tgz", "the data archive");
        korvtest::install_program("/bin/dd", kDdScript);
        old_ = ReadFlash();
    }
    std::string Image(const std::string &file) const { return tree_.package.dir + "/" + file; }

    UpdateTree tree_;
    FlashImage old_;
    updatertest::RunSpec spec_;
};

TEST_F(MSysRun, PlainWriteOfOneImage)
{
    Build({{"zImage", 0x15000}});
    auto r = updatertest::run_updater(spec_);
    ASSERT_EQ(r.status, 0) << korvtest::syslog_dump();
    EXPECT_EQ(Shown(r.progress), Value('R', 0));
    EXPECT_EQ(r.log, (std::vector<std::string>{kStart, kUpgrade, kDone}));

    // The in-memory directory of the partition table: places summed from the sizes.
    EXPECT_TRUE(korvtest::syslog_has_pattern("number of partitions = [8]"));
    EXPECT_TRUE(korvtest::syslog_has_pattern("[RedBoot]  0x00000000  0x00010000  0x00009000\n"));
    EXPECT_TRUE(korvtest::syslog_has_pattern("[AllLib.tgz]  0x00050000  0x00020000  0x0001A000\n"));
    EXPECT_TRUE(korvtest::syslog_has_pattern("[FIS Directory]  0x0007C000  0x00004000  0x00000800\n"));

    EXPECT_EQ(FlashWrites(), (std::vector<std::string>{WriteFromImage("zImage", 1)}));
    EXPECT_EQ(MSysRequests(), (std::vector<std::string>{"MSYS_GET_TABLE -> 0"}));
    ExpectFlash(ReadFlash(), NewFlash(old_, {}, {{1, Image("zImage")}}), "after the write");
    EXPECT_EQ(ctl::window(1)->data_length, 0x15000u);
    EXPECT_TRUE(korvtest::syslog_has_pattern("szCmd=[/bin/dd if=\"/volume1/upd@te/zImage\" of=\"/dev/mtd1\" bs=16384]"));
    EXPECT_TRUE(korvtest::syslog_has_pattern("UPDTMSysDoPatch: Finish updating [zImage]"));
    for (int i : {0, 2, 3, 4, 5, 6, 7})
        EXPECT_TRUE(korvtest::syslog_has_pattern(std::string("UPDTMSysDoPatch: skip updating [") + kNames[i] + "]"));
    EXPECT_FALSE(korvtest::syslog_contains("NEED RE-PARTITION"));

    // Every partition was copied aside before the write, and the copy is gone after it.
    auto runs = DdRuns();
    ASSERT_EQ(runs.size(), 9u);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(runs[i], std::string("if=/dev/mtd") + std::to_string(i) + " of=" + kBackup + "/mtd_" +
                                    kNames[i] + " bs=16384");
    EXPECT_FALSE(korvtest::file_exists(kBackup));
    EXPECT_EQ(korvtest::read_file("/volume1/KorvUpgrade.tar.gz"), "the data archive");
    EXPECT_FALSE(korvtest::file_exists(std::string(kWork) + "/hda1.tgz"));
    EXPECT_FALSE(korvtest::file_exists("/.NormalShutdown"));
}

// The progress values up to the write, and after it.
const std::string kUpToTheWrite = "A:0 A:10 A:100 P:0 P:10 P:20 P:30 P:35 P:40 P:45 P:50 P:55 P:60 P:65 P:60";
const std::string kAfterTheWrite = "P:100 C:0 C:100 R:0";  // the end's R:0 repeats the last

TEST_F(MSysRun, ProgressOfAPlainWrite)
{
    Build({{"zImage", 0x15000}, {"AllLib.tgz", 0x1000}});
    spec_.record_progress = true;
    auto r = updatertest::run_updater(spec_);
    ASSERT_EQ(r.status, 0) << korvtest::syslog_dump();
    // One value per backup copy, then 65 + 5 per partition for the two written.
    EXPECT_EQ(updatertest::describe(r.progress_values), kUpToTheWrite + " P:70 P:80 " + kAfterTheWrite);
    EXPECT_EQ(r.progress, updatertest::progress('R', 0));
}

// zImage grows by one unit, which rd.gz (the most spare units) gives: 4, 9, 7, 8, 1, 1, 1, 1.
const std::vector<uint32_t> kGrown = {4, 9, 7, 8, 1, 1, 1, 1};
const std::map<std::string, size_t> kGrowingImage = {{"zImage", 0x22100}};

TEST_F(MSysRun, RepartitionWritesEveryPartition)
{
    Build(kGrowingImage);
    spec_.record_progress = true;
    auto r = updatertest::run_updater(spec_);
    ASSERT_EQ(r.status, 0) << korvtest::syslog_dump();
    EXPECT_EQ(Shown(r.progress), Value('R', 0));
    EXPECT_TRUE(korvtest::syslog_has_pattern("UPDTMSysDoPatch(<L>): NEED RE-PARTITION!!"));
    EXPECT_EQ(MSysRequests(), (std::vector<std::string>{"MSYS_GET_TABLE -> 0", "MSYS_FORMAT units=967 -> 0",
                                                        "MSYS_PARTITION units=4,9,7,8,1,1,1,1 -> 0"}));
    // The partitions without an image come back from their backup: the bytes they had in use,
    // so that each keeps its data length.
    const auto &lengths = SmallFlash().data_lengths;
    EXPECT_EQ(FlashWrites(), (std::vector<std::string>{WriteFromBackup(0, lengths[0]), WriteFromImage("zImage", 1),
                                                       WriteFromBackup(2, lengths[2]), WriteFromBackup(3, lengths[3]),
                                                       WriteFromBackup(4, lengths[4]), WriteFromBackup(5, lengths[5]),
                                                       WriteFromBackup(6, lengths[6]), WriteFromBackup(7, lengths[7])}));
    ExpectFlash(ReadFlash(), NewFlash(old_, kGrown, {{1, Image("zImage")}}), "after the re-partition");
    EXPECT_TRUE(korvtest::syslog_has_pattern("szCmd=[/bin/dd if=\"/volume1/upd@te/b@ckup/mtd_rd.gz\" of=\"/dev/mtd2\" "
                                             "bs=16384 count=90112 iflag=count_bytes]"));
    EXPECT_TRUE(korvtest::syslog_has_pattern("UPDTMSysDoPatch: Finish updating [FIS Directory]"));
    // The last partition's P:100 is the road's own P:100 that follows it.
    EXPECT_EQ(updatertest::describe(r.progress_values),
              kUpToTheWrite + " P:65 P:70 P:75 P:80 P:85 P:90 P:95 " + kAfterTheWrite);
    EXPECT_FALSE(korvtest::file_exists(kBackup));
}

// The mirrors that `dd` wrote live on mounts that end with the sandbox session; the chip must
// hold the whole new firmware without them, as the next session finds it.
TEST_F(MSysRun, TheWrittenFlashOutlivesTheSession)
{
    Build(kGrowingImage);
    auto r = updatertest::run_updater(spec_);
    ASSERT_EQ(r.status, 0) << korvtest::syslog_dump();
    for (int i = 0; i < 8; ++i)
        ASSERT_EQ(umount2(("/.korvsim/mtd/" + std::to_string(i)).c_str(), MNT_DETACH), 0) << i;
    ExpectFlash(ReadFlash(), NewFlash(old_, kGrown, {{1, Image("zImage")}}), "in the next session");
    EXPECT_EQ(ctl::window(1)->data_length, 0x22100u);
}

TEST_F(MSysRun, GroupUpdateNeedsEveryImageToRepartition)
{
    Build(kGrowingImage);
    spec_.args = {"-g"};
    auto r = updatertest::run_updater(spec_);
    EXPECT_EQ(r.status, 20) << korvtest::syslog_dump();
    EXPECT_EQ(Shown(r.progress), Value('P', -20));
    EXPECT_TRUE(korvtest::syslog_has_pattern("UPDTMSysDoPatch(<L>): failed to update. [RedBoot.msys] does not exist"));
    EXPECT_TRUE(FlashWrites().empty());
    EXPECT_EQ(MSysRequests(), (std::vector<std::string>{"MSYS_GET_TABLE -> 0"}));
    ExpectFlash(ReadFlash(), old_, "untouched");
    EXPECT_FALSE(korvtest::syslog_contains("UPDTMSysRollBack"));
    EXPECT_EQ(korvtest::read_file("/volume1/KorvUpgrade.tar.gz"), "the data archive");
}

TEST_F(MSysRun, GroupUpdateWithEveryImageRepartitionsWithoutBackup)
{
    std::map<std::string, size_t> all = {{"RedBoot.msys", 0x9000}, {"zImage", 0x22100}, {"rd.bin", 0x16000},
                                         {"AllLib.tgz", 0x1A000},  {"vendor", 0x4000},  {"korvcfg", 0x2000},
                                         {"RedBoot Config", 0x4000}, {"FIS Directory", 0x800}};
    Build(all);
    spec_.args = {"-g"};
    auto r = updatertest::run_updater(spec_);
    ASSERT_EQ(r.status, 0) << korvtest::syslog_dump();
    ASSERT_EQ(FlashWrites().size(), 8u);
    EXPECT_EQ(DdRuns().size(), 8u);  // no backup
    std::map<int, std::string> written = {{0, Image("RedBoot.msys")}, {1, Image("zImage")},  {2, Image("rd.bin")},
               {3, Image("AllLib.tgz")},   {4, Image("vendor")},  {5, Image("korvcfg")},
               {6, Image("RedBoot Config")}, {7, Image("FIS Directory")}};
    ExpectFlash(ReadFlash(), NewFlash(old_, kGrown, written), "after the group update");
}

TEST_F(MSysRun, UnitLimitOf968IsRefusedBeforeTheBackup)
{
    // 967 units of partitions, all in use, and a zImage one unit larger than its own.
    Build({{"zImage", 9 * kUnit}}, [](UpdateTree &t) {
        t.msys.units = {4, 8, 8, 935, 3, 3, 3, 3};
        t.msys.data_lengths.clear();
        for (uint32_t u : t.msys.units)
            t.msys.data_lengths.push_back(u * kUnit);
    });
    auto r = updatertest::run_updater(spec_);
    EXPECT_EQ(r.status, 19) << korvtest::syslog_dump();
    EXPECT_EQ(Shown(r.progress), Value('P', -19));
    EXPECT_TRUE(korvtest::syslog_has_pattern(
        "UPDTMSysInitPatchInfo(<L>): the binary size exceeds flash size limit(total = 968 blocks)"));
    EXPECT_TRUE(korvtest::syslog_has_pattern("UPDTMSysUpdate(<L>): fail to initialize patch info "));
    EXPECT_TRUE(DdRuns().empty());
    EXPECT_FALSE(korvtest::file_exists(kBackup));
    EXPECT_TRUE(korvtest::file_exists(std::string(kWork) + "/hda1.tgz"));  // nothing handed over
}

TEST_F(MSysRun, UnitLimitOf967Passes)
{
    Build({{"zImage", 8 * kUnit}}, [](UpdateTree &t) {
        t.msys.units = {4, 8, 8, 935, 3, 3, 3, 3};
        t.msys.data_lengths.clear();
        for (uint32_t u : t.msys.units)
            t.msys.data_lengths.push_back(u * kUnit);
    });
    auto r = updatertest::run_updater(spec_);
    EXPECT_EQ(r.status, 0) << korvtest::syslog_dump();
    EXPECT_EQ(FlashWrites(), (std::vector<std::string>{WriteFromImage("zImage", 1)}));
}

TEST_F(MSysRun, JuniorLayoutIsRefusedBeforeTheBackup)
{
    Build({{"zImage", 0x15000}}, [](UpdateTree &t) { t.junior_hw = true; });
    auto r = updatertest::run_updater(spec_);
    EXPECT_EQ(r.status, 19) << korvtest::syslog_dump();
    EXPECT_EQ(Shown(r.progress), Value('P', -19));
    EXPECT_TRUE(korvtest::syslog_has_pattern(
        "UPDTMSysInitPatchInfo(<L>): the MSys flash needs the layout of 8 partitions, not of 6"));
    EXPECT_TRUE(DdRuns().empty());
    ExpectFlash(ReadFlash(), old_, "untouched");
}

TEST_F(MSysRun, UnreadableTableIsCode18)
{
    Build({{"zImage", 0x15000}});
    ctl::fail_request("/dev/mtd0", "MSYS_GET_TABLE", EIO);
    auto r = updatertest::run_updater(spec_);
    EXPECT_EQ(r.status, 18) << korvtest::syslog_dump();
    EXPECT_EQ(Shown(r.progress), Value('P', -18));
    EXPECT_EQ(r.log, (std::vector<std::string>{kStart, kUpgrade, failed(18)}));
    EXPECT_TRUE(korvtest::syslog_has_pattern(
        "UPDTMSysGetPartitionInfo(<L>): fail to get partition information, errno = 5"));
    EXPECT_TRUE(DdRuns().empty());
}

TEST_F(MSysRun, BackupFailureIsCode15AndKeepsWhatWasCopied)
{
    Build({{"zImage", 0x15000}});
    // The copy of rd.gz into the backup fails: its source is the device, not its target.
    korvtest::install_program("/bin/dd", std::string("#!/bin/sh\ncase \"$*\" in *if=/dev/mtd2*) exit 1 ;; esac\n"
                                                     "exec /.korvsim/tools/dd \"$@\"\n"));
    auto r = updatertest::run_updater(spec_);
    EXPECT_EQ(r.status, 15) << korvtest::syslog_dump();
    EXPECT_EQ(Shown(r.progress), Value('P', -15));
    EXPECT_TRUE(korvtest::syslog_has_pattern("UPDTMSysUpdate(<L>): fail to backup old patch info "));
    EXPECT_TRUE(korvtest::file_exists(std::string(kBackup) + "/mtd_zImage"));
    ExpectFlash(ReadFlash(), old_, "untouched");
    EXPECT_TRUE(korvtest::file_exists(std::string(kWork) + "/hda1.tgz"));
}

// Names the shell would read stay data in every dd command: the image's, the backup's with its
// count and the rollback's.
TEST_F(MSysRun, WorkingDirectoryWithShellSyntax)
{
    const std::string dir = "/volume1/it's \"new\" $(touch /tmp/pwned) `touch /tmp/pwned2` \\z";
    Build(kGrowingImage, [&](UpdateTree &t) { t.package.dir = dir; });
    korvtest::write_file("/.korvsim/dd.fail", "mtd7:1\n");
    spec_.program = dir + "/updater";
    auto r = updatertest::run_updater(spec_);
    EXPECT_EQ(r.status, 20) << korvtest::syslog_dump();
    auto writes = FlashWrites();
    ASSERT_EQ(writes.size(), 16u);
    EXPECT_EQ(writes[1], "if=" + dir + "/zImage of=/dev/mtd1 bs=16384");
    EXPECT_EQ(writes[2], "if=" + dir + "/b@ckup/mtd_rd.gz of=/dev/mtd2 bs=16384 count=90112 iflag=count_bytes");
    EXPECT_EQ(writes[14], "if=" + dir + "/b@ckup/mtd_RedBoot Config of=/dev/mtd6 bs=16384 count=16384 iflag=count_bytes");
    ExpectFlash(ReadFlash(), old_, "the old firmware");
    EXPECT_FALSE(korvtest::file_exists(dir + "/b@ckup"));
    EXPECT_EQ(korvtest::read_file("/volume1/KorvUpgrade.tar.gz"), "the data archive");
    EXPECT_FALSE(korvtest::file_exists("/tmp/pwned"));
    EXPECT_FALSE(korvtest::file_exists("/tmp/pwned2"));
}

// From the first flash change on, a lost terminal or a dead poller cannot stop the write.
TEST_F(MSysRun, SignalsDuringTheWriteAreIgnored)
{
    Build(kGrowingImage);
    korvtest::write_file("/.korvsim/dd.kill", "mtd0:1 HUP\nmtd2:1 INT\nmtd4:1 TERM\nmtd6:1 PIPE\n");
    auto r = updatertest::run_updater(spec_);
    ASSERT_EQ(r.status, 0) << korvtest::syslog_dump();
    ExpectFlash(ReadFlash(), NewFlash(old_, kGrown, {{1, Image("zImage")}}), "after the write");
}

// One fault of the write or of the rollback: the dd runs that fail ("mtdN:K"), the simulator's
// faults, and what the run leaves.
enum class Left { Old, New, Unknown };

struct FaultCase {
    std::string name;
    std::map<std::string, size_t> images;
    std::function<void()> faults;
    int status;
    Left flash;
    bool backupKept;
    std::vector<std::string> msys;     // the MSys requests in order
    std::vector<std::string> syslog;   // "<L>": a line number
    bool rolledBack = true;            // false: refused before the first change, nothing to put back
};

void PrintTo(const FaultCase &c, std::ostream *os)
{
    *os << c.name;
}

auto dd_fails(std::string runs)
{
    return [runs] { korvtest::write_file("/.korvsim/dd.fail", runs); };
}

// The request fails after `skip` of its kind have passed.
auto request_fails(std::string request, uint64_t skip = 0)
{
    return [request, skip] { ctl::fail_request("/dev/mtd0", request, EIO, true, skip); };
}

// The write fails on its last partition, then the rollback's request fails.
auto rollback_request_fails(std::string request)
{
    return [request] {
        dd_fails("mtd7:1\n")();
        request_fails(request, 1)();
    };
}

const std::map<std::string, size_t> kPlain = {{"zImage", 0x15000}, {"AllLib.tgz", 0x1000}};
const std::string kTable = "MSYS_GET_TABLE -> 0";
const std::string kFormat = "MSYS_FORMAT units=967 -> 0";
const std::string kNew = "MSYS_PARTITION units=4,9,7,8,1,1,1,1 -> 0";
const std::string kOld = "MSYS_PARTITION units=4,8,8,8,1,1,1,1 -> 0";
const std::string kRollbackFailed = "UPDTMSysUpdate: UPDTRollBack() fail";

std::vector<FaultCase> FaultCases()
{
    return {
        {"NoFault", kGrowingImage, [] {}, 0, Left::New, false, {kTable, kFormat, kNew}, {}},
        // The write fails, the rollback puts the old firmware back.
        {"FormatFails", kGrowingImage, request_fails("MSYS_FORMAT"), 20, Left::Old, false,
         {kTable, "MSYS_FORMAT -> -1"},
         {"UPDTMSysFormat(<L>): failed to format, errno = 5", "UPDTMSysDoPatch(<L>): fail to resize"}},
        {"PartitionFails", kGrowingImage, request_fails("MSYS_PARTITION"), 20, Left::Old, false,
         {kTable, kFormat, "MSYS_PARTITION -> -1"},
         {"UPDTMSysFormat(<L>): failed to partition, errno = 5", "UPDTMSysDoPatch(<L>): fail to resize"}},
        {"WriteFailsOnTheFirst", kGrowingImage, dd_fails("mtd0:1\n"), 20, Left::Old, false,
         {kTable, kFormat, kNew, kFormat, kOld}, {}},
        {"WriteFailsOnTheMiddle", kGrowingImage, dd_fails("mtd3:1\n"), 20, Left::Old, false,
         {kTable, kFormat, kNew, kFormat, kOld},
         {"UPDTMSysUpdate(<L>): fail to patch new binaries!!",
          "UPDTMSysRollBack(<L>): command=[/bin/dd if=\"/volume1/upd@te/b@ckup/mtd_RedBoot Config\" "
          "of=\"/dev/mtd6\" bs=16384 count=16384 iflag=count_bytes]",
          "UPDTMSysRollBack: Finish updating [FIS Directory]", "UPDTMSysUpdate(<L>): Turn on the reinstall library flag...!!"}},
        {"WriteFailsOnTheLast", kGrowingImage, dd_fails("mtd7:1\n"), 20, Left::Old, false,
         {kTable, kFormat, kNew, kFormat, kOld}, {}},
        // A plan that cannot be made is refused before the flash is formatted.
        {"NoUnitsToSpare", {{"zImage", 15 * kUnit}}, [] {}, 20, Left::Old, false, {kTable},
         {"ErrUPDTAdjustPartitionSize(<L>): negative balance", "UPDTMSysDoPatch(<L>): fail to resize",
          "UPDTMSysUpdate(<L>): the flash was not changed: nothing to roll back"},
         false},
        {"ImageTooLargeForAFixedPartition", {{"vendor", 2 * kUnit}}, [] {}, 20, Left::Old, false, {kTable},
         {"ErrUPDTCheckPatchPlan(<L>): the fixed partition [vendor] cannot take 1 more erase blocks",
          "UPDTMSysDoPatch(<L>): fail to resize", "UPDTMSysUpdate(<L>): the flash was not changed: nothing to roll back"},
         false},
        {"PlainWriteFails", kPlain, dd_fails("mtd3:1\n"), 20, Left::Old, false, {kTable}, {}},
        // Images are looked at before anything changes: an empty one would "succeed" with nothing,
        // a FIFO would hold dd for ever.
        {"EmptyImage", {{"zImage", 0}, {"AllLib.tgz", 0x1000}}, [] {}, 20, Left::Old, false, {kTable},
         {"UPDTMSysDoPatch(<L>): the image [/volume1/upd@te/zImage] is not a regular file of 1 to 0x00020000 bytes",
          "UPDTMSysUpdate(<L>): the flash was not changed: nothing to roll back"},
         false},
        {"ImageIsAFifo", kPlain,
         [] {
             unlink("/volume1/upd@te/zImage");
             mkfifo("/volume1/upd@te/zImage", 0644);
         },
         20, Left::Old, false, {kTable},
         {"UPDTMSysDoPatch(<L>): the image [/volume1/upd@te/zImage] is not a regular file of 1 to 0x00020000 bytes"},
         false},
        // The rollback fails too: the backup stays for a later recovery.
        {"RollbackFormatFails", kGrowingImage, rollback_request_fails("MSYS_FORMAT"), 20,
         Left::Unknown, true, {kTable, kFormat, kNew, "MSYS_FORMAT -> -1"},
         {"UPDTMSysRollBack(<L>): fail to resize", kRollbackFailed}},
        {"RollbackPartitionFails", kGrowingImage, rollback_request_fails("MSYS_PARTITION"), 20,
         Left::Unknown, true, {kTable, kFormat, kNew, kFormat, "MSYS_PARTITION -> -1"},
         {"UPDTMSysRollBack(<L>): fail to resize", kRollbackFailed}},
        // ... and goes on with the partitions after the one it could not put back.
        {"RollbackFailsOnTheFirst", kGrowingImage, dd_fails("mtd7:1\nmtd0:2\n"), 20, Left::Unknown, true,
         {kTable, kFormat, kNew, kFormat, kOld}, {kRollbackFailed, "UPDTMSysRollBack: Finish updating [FIS Directory]"}},
        {"RollbackFailsOnTheMiddle", kGrowingImage, dd_fails("mtd7:1\nmtd3:2\n"), 20, Left::Unknown, true,
         {kTable, kFormat, kNew, kFormat, kOld}, {kRollbackFailed, "UPDTMSysRollBack: Finish updating [FIS Directory]"}},
        {"RollbackFailsOnTheLast", kGrowingImage, dd_fails("mtd7:1\nmtd7:2\n"), 20, Left::Unknown, true,
         {kTable, kFormat, kNew, kFormat, kOld}, {kRollbackFailed}},
        {"PlainRollbackFails", kPlain, dd_fails("mtd3:1\nmtd5:1\n"), 20, Left::Unknown, true, {kTable},
         {kRollbackFailed}},
    };
}

class MSysFault : public MSysRun, public testing::WithParamInterface<FaultCase> {};

TEST_P(MSysFault, LeavesOneWholeFirmware)
{
    const FaultCase &c = GetParam();
    Build(c.images);
    c.faults();
    spec_.record_progress = true;
    auto r = updatertest::run_updater(spec_);
    EXPECT_EQ(r.status, c.status) << korvtest::syslog_dump();
    EXPECT_EQ(r.progress, updatertest::progress(c.status ? 'P' : 'R', -c.status));
    // A rollback that ran through wrote every partition again, 65 + 5 for each.
    std::string values = updatertest::describe(r.progress_values);
    const std::string restored = " P:65 P:70 P:75 P:80 P:85 P:90 P:95 P:100 P:-20";
    if (c.status != 0) {
        bool ends = values.size() > restored.size() &&
                    values.compare(values.size() - restored.size(), restored.size(), restored) == 0;
        EXPECT_EQ(ends, !c.backupKept && c.rolledBack) << values;
    }
    EXPECT_EQ(MSysRequests(), c.msys);
    for (const auto &text : c.syslog)
        EXPECT_TRUE(korvtest::syslog_has_pattern(text)) << "no message \"" << text << "\" in:\n"
                                                         << korvtest::syslog_dump();
    bool repartition = c.images.count("zImage") && c.images.at("zImage") > 8 * kUnit;
    if (c.flash == Left::Old)
        ExpectFlash(ReadFlash(), old_, "the old firmware");
    else if (c.flash == Left::New)
        ExpectFlash(ReadFlash(), NewFlash(old_, repartition ? kGrown : std::vector<uint32_t>{}, {{1, Image("zImage")}}),
                    "the new firmware");
    EXPECT_EQ(ctl::check_windows(), "");
    EXPECT_EQ(korvtest::file_exists(kBackup), c.backupKept);
    if (c.backupKept) {
        ExpectBackup(old_);
        EXPECT_TRUE(korvtest::syslog_has_pattern(kRollbackFailed));
        EXPECT_TRUE(korvtest::syslog_has_pattern(
            "UPDTMSysUpdate(<L>): the flash could not be restored; its backup is kept in [/volume1/upd@te/b@ckup]"));
    } else {
        EXPECT_FALSE(korvtest::syslog_has_pattern(kRollbackFailed));
    }
    // The data archive goes to the new firmware whatever became of the write.
    EXPECT_EQ(korvtest::read_file("/volume1/KorvUpgrade.tar.gz"), "the data archive");
    std::vector<std::string> log = {kStart, kUpgrade};
    if (c.backupKept)
        log.push_back("The flash could not be restored; its backup is kept in /volume1/upd@te/b@ckup");
    log.push_back(c.status ? failed(c.status) : kDone);
    EXPECT_EQ(r.log, log);
}

INSTANTIATE_TEST_SUITE_P(Faults, MSysFault, testing::ValuesIn(FaultCases()),
                         [](const auto &info) { return info.param.name; });

}  // namespace

namespace {

// A configuration step that fails the stage ends the MSys road with code 17 and the old firmware,
// as on the RedBoot road.
TEST_F(MSysRun, FailedConfigurationStepRollsBack)
{
    Build({{"zImage", 0x15000}}, [](UpdateTree &t) { t.identity.buildnumber = "107"; });
    korvtest::make_dirs("/usr/korv/etc/rc.atalk");
    korvtest::write_file("/usr/korv/etc/rc.atalk/kept", "x");
    auto r = updatertest::run_updater(spec_);
    EXPECT_EQ(r.status, 17) << korvtest::syslog_dump();
    EXPECT_TRUE(korvtest::syslog_has_pattern(
        "updater:<L>(UPDTUpdateConfig) Failed to update [/usr/korv/etc/rc.atalk], errno=(21)[Is a directory]"));
    ExpectFlash(ReadFlash(), old_, "the old firmware");
}

}  // namespace

namespace {

// A partition put back from its backup reports the data length it had, not its whole size:
// lengths of no byte, one byte, an odd count and whole units, after a plain write and after a
// re-partition, each rolled back when the write fails on its last partition.
class MSysRestoredLengths : public MSysRun, public testing::WithParamInterface<const char *> {};

TEST_P(MSysRestoredLengths, AreTheOldOnes)
{
    bool repartition = std::string(GetParam()) == "Repartitioned";
    Build(repartition ? kGrowingImage : kPlain,
          [](UpdateTree &t) { t.msys.data_lengths = {0x9000, 0x12345, 0x16000, 0, 0x4000, 0x2000, 0x4000, 1}; });
    korvtest::write_file("/.korvsim/dd.fail", repartition ? "mtd7:1\n" : "mtd3:1\n");
    auto r = updatertest::run_updater(spec_);
    EXPECT_EQ(r.status, 20) << korvtest::syslog_dump();
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(ctl::window(i)->data_length, old_.windows[i].data_length) << kNames[i];
    ExpectFlash(ReadFlash(), old_, "the old firmware");
    EXPECT_FALSE(korvtest::file_exists(kBackup));
    EXPECT_TRUE(korvtest::syslog_has_pattern("UPDTMSysRollBack(<L>): command=[/bin/dd if=\"/volume1/upd@te/b@ckup/"
                                             "mtd_AllLib.tgz\" of=\"/dev/mtd3\" bs=16384 count=0 iflag=count_bytes]"));
}

INSTANTIATE_TEST_SUITE_P(Writes, MSysRestoredLengths, testing::Values("Plain", "Repartitioned"),
                         [](const auto &info) { return std::string(info.param); });

}  // namespace
