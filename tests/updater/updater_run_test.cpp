// The updater run as a whole in device trees: a table of situations, each stated as what differs
// from a passing tree, with its exit code, final progress, message file, update log, syslog and
// the driver-buffer requests. A passing run updates the flash (its package brings no images:
// every partition is skipped); the flash itself is tested in updater_flash_test.cpp.
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "device_tree.h"
#include "korv/simctl.h"
#include "korvtest.h"
#include "updater_run.h"

namespace ctl = korvsim::ctl;
using korvtest::UpdateTree;
using updatertest::progress;

namespace {

const char kStart[] = "Start of the update...";
const char kUpgrade[] = "Upgrade from version 2.0.3.351 to version 2.1.0.400";
const char kCompleted[] = "Congratulation!! The update has been completed!!";
// R:0 over P:100: the two blanks beyond the shorter text stay from before.
const char kDone[] = "R:0:        ";
const char kSpaceMsg[] = "extramsg=\"System volume is insufficient to extract upgrade patch, please backup all files "
                         "and restore to factory default.\"\n";
const char kRebootMsg[] = "extramsg=\"To perform upgrade task, you have to REBOOT your Vaultmere first.\"\n";
const char kBufferMsg[] = "extramsg=\"Please reboot the system and upgrade immediately.\"\n";
// The driver buffer asked for and given back; only given back (a run that ended before the
// guards); neither (an installed build of 350 and below).
const std::vector<std::string> kBuffer = {"SYS405 arg=1 -> 0", "SYS405 arg=0 -> 0"};
const std::vector<std::string> kFreeOnly = {"SYS405 arg=0 -> 0"};
const std::vector<std::string> kNoBuffer = {};

std::string failed(int code)
{
    return "Failed to accomplish the update! (errno = " + std::to_string(code) + ")";
}

// The update log of a run refused with code.
std::vector<std::string> refused(int code)
{
    return {kStart, failed(code)};
}

// The update log of a run that passed the analysis and updated the flash.
std::vector<std::string> updated(const std::string &from = "2.0.3.351")
{
    return {kStart, "Upgrade from version " + from + " to version 2.1.0.400", kCompleted};
}

std::string analysis(const std::string &text)
{
    return "ErrUPDTIAnalyze_WholeSystem(<L>): " + text;
}

struct RunCase {
    std::string name;
    std::function<void(UpdateTree &)> tree;   // what differs from the passing tree
    std::function<void(updatertest::RunSpec &)> setup;  // after the tree is built
    int status;
    std::string progress;
    std::string message;                      // "/tmp/update.message", whole
    std::vector<std::string> log;
    std::vector<std::string> syslog;          // messages that must be there ("<L>": a line number)
    std::vector<std::string> sys405 = kBuffer;
    std::vector<std::string> absent = {};     // messages that must not be there
    std::vector<std::pair<std::string, std::string>> files = {};  // files of the tree, whole
    std::string out = "";                     // what the program printed
};

void PrintTo(const RunCase &c, std::ostream *os)
{
    *os << c.name;
}

// The package's VERSION without one of its keys.
auto without_package_key(std::string key)
{
    return [key](updatertest::RunSpec &) {
        std::string text = korvtest::read_file("/volume1/upd@te/VERSION");
        size_t at = text.find(key + "=");
        ASSERT_NE(at, std::string::npos);
        text.erase(at, text.find('\n', at) + 1 - at);
        korvtest::write_file("/volume1/upd@te/VERSION", text);
    };
}

auto installed(std::function<void(korvtest::Identity &)> change)
{
    return [change](UpdateTree &t) { change(t.identity); };
}

// The old layout's folders of configurations and logs, which the configuration stage saves to
// the volume; empty files take no room of a disk measured to the byte.
void writeable_layout(bool empty = false)
{
    korvtest::write_file("/writeable/configs/korvinfo.conf", empty ? "" : "hostname=\"unit\"\n");
    korvtest::write_file("/writeable/logs/messages", empty ? "" : "boot\n");
}

// Puts dir's files on a small disk of their own that is then filled up, so that nothing more
// can be written there.
void fill_disk_under(const std::string &dir)
{
    std::vector<std::pair<std::string, std::string>> files;
    for (const char *name : {"korvinfo.conf", "passwd", "group", "shadow", "nsswitch.conf", "crontab"})
        if (korvtest::file_exists(dir + "/" + name))
            files.emplace_back(dir + "/" + name, korvtest::read_file(dir + "/" + name));
    ASSERT_TRUE(korvtest::mount_small_disk(dir, 64 * 1024));
    for (const auto &[path, text] : files)
        korvtest::write_file(path, text);
    FILE *filler = fopen((dir + "/.filler").c_str(), "w");
    ASSERT_TRUE(filler);
    std::string block(4096, 'f');
    while (fwrite(block.data(), 1, block.size(), filler) == block.size() && fflush(filler) == 0) {
    }
    fclose(filler);
}

auto nothing()
{
    return [](updatertest::RunSpec &) {};
}

// A unit of installed build 350 and below: no driver buffer, a fresh boot required.
auto old_build(long uptime)
{
    return [uptime](UpdateTree &t) {
        t.identity.buildnumber = "350";
        t.kernel.uptime = uptime;
    };
}

const std::string kLongVolume = "/" + std::string(31, 'v');  // 32 characters
const std::string kVolume31 = "/" + std::string(30, 'v');

std::vector<RunCase> Cases()
{
    std::vector<RunCase> c;
    c.push_back({"PassingTreeUpdates", [](UpdateTree &) {}, nothing(), 0, kDone, "", updated(),
                 {"main(<L>): Start of the updater...", "This is not junior, gszDevMtdPartition=[/dev/mtd7]",
                  "number of partitions = [8]", "[zImage]  0xFF800000  0x00200000  0x001C8A40\n",
                  "[FIS Directory]  0xFFFF0000  0x00010000  0x00000800\n", "UPDTDoPatch: skip updating [zImage]",
                  "main(<L>): Turn on the reinstall library flag...!!", kCompleted}, kBuffer, {failed(0)}});

    // Options.
    const std::string usage = "updater: the firmware updater of the Vaultmere unit\n"
                              "updater [-h][-g][-v vol]\n -g: for group update\n"
                              " -v: specify an avaible volume for upgrade task.\n";
    c.push_back({"Help", [](UpdateTree &) {}, [](auto &s) { s.args = {"-h", "-x"}; }, 0, progress('A', 0), "",
                 {kStart}, {"main(<L>): Start of the updater..."}, {},
                 {"This is not junior, gszDevMtdPartition=[/dev/mtd7]", "updater: invalid option [?]\n"}, {}, usage});
    c.push_back({"BadOption", [](UpdateTree &) {}, [](auto &s) { s.args = {"-x"}; }, 255, progress('A', 0), "",
                 {kStart}, {"updater: invalid option [?]\n"}, {}, {failed(255)}});
    c.push_back({"VolumeWithoutValue", [](UpdateTree &) {}, [](auto &s) { s.args = {"-v"}; }, 255, progress('A', 0),
                 "", {kStart}, {"updater: invalid option [?]\n"}, {}});
    c.push_back({"VolumeOf32CharactersIsRefused", [](UpdateTree &) {},
                 [](auto &s) { s.args = {"-v", kLongVolume}; }, 255, progress('A', 0), "", {kStart},
                 {"updater: invalid option [v]\n",
                  "updater: the volume [" + kLongVolume + "] must have 1 to 31 characters\n"},
                 {}});
    c.push_back({"EmptyVolumeIsRefused", [](UpdateTree &) {}, [](auto &s) { s.args = {"-v", ""}; }, 255,
                 progress('A', 0), "", {kStart}, {"updater: invalid option [v]\n"}, {}});
    c.push_back({"VolumeOf31CharactersWithBareName",
                 [](UpdateTree &t) { t.package.dir = kVolume31 + "/upd@te"; },
                 [](auto &s) {
                     s.program = kVolume31 + "/upd@te/updater";
                     s.argv0 = "updater";
                     s.args = {"-v", kVolume31};
                 },
                 0, kDone, "", updated(), {kCompleted}});
    c.push_back({"BareNameWorksInTheVolumesUpdate", [](UpdateTree &) {},
                 [](auto &s) {
                     s.argv0 = "updater";
                     s.cwd = "/tmp";
                 },
                 0, kDone, "", updated(), {kCompleted}});
    c.push_back({"SecondVolumeReplacesTheFirst", [](UpdateTree &t) { t.package.dir = "/volume2/upd@te"; },
                 [](auto &s) {
                     s.program = "/volume2/upd@te/updater";
                     s.argv0 = "updater";
                     s.args = {"-v", "/volume3", "-v", "/volume2"};
                 },
                 0, kDone, "", updated(), {kCompleted}});
    c.push_back({"RelativeStart", [](UpdateTree &) {},
                 [](auto &s) {
                     s.cwd = "/volume1";
                     s.argv0 = "upd@te/updater";
                 },
                 0, kDone, "", updated(), {kCompleted}});
    c.push_back({"DotSlashStart", [](UpdateTree &) {},
                 [](auto &s) {
                     s.cwd = "/volume1/upd@te";
                     s.argv0 = "./updater";
                 },
                 0, kDone, "", updated(), {kCompleted}});
    c.push_back({"PathWithABlank", [](UpdateTree &t) { t.package.dir = "/volume1/upd ate"; },
                 [](auto &s) { s.program = "/volume1/upd ate/updater"; }, 0, kDone, "", updated(),
                 {kCompleted}});
    c.push_back({"PathWithAQuote", [](UpdateTree &t) { t.package.dir = "/volume1/it's \"new\" $(x)"; },
                 [](auto &s) { s.program = "/volume1/it's \"new\" $(x)/updater"; }, 0, kDone, "",
                 updated(), {kCompleted}});
    c.push_back({"ProgramAtTheRootWorksThere", [](UpdateTree &t) { t.package.dir = "/"; },
                 [](auto &s) { s.program = "/updater"; }, 0, kDone, "", updated(), {kCompleted}});
    c.push_back({"WorkingDirectoryMissing", [](UpdateTree &) {}, [](auto &s) { s.argv0 = "/no/such/dir/updater"; },
                 3, progress('A', -3), "", refused(3), {"main(<L>): fail to chdir, errno = 2", failed(3)}, kFreeOnly});
    c.push_back({"ProgramPathTooLong", [](UpdateTree &) {},
                 [](auto &s) { s.argv0 = "/" + std::string(247, 'p') + "/updater"; }, 3, progress('A', -3), "",
                 refused(3), {"main(<L>): the program path is too long (256 characters, at most 255)"}, kFreeOnly});

    // The package file and the two identities.
    c.push_back({"PackageVersionMissing", [](UpdateTree &) {},
                 [](auto &) { unlink("/volume1/upd@te/VERSION"); }, 7, progress('A', -7), "", refused(7),
                 {analysis("the file [/volume1/upd@te/VERSION]"), "main(<L>): fail to analyze, error = 7"}, kFreeOnly});
    c.push_back({"PackageVersionEmpty", [](UpdateTree &) {},
                 [](auto &) { korvtest::write_file("/volume1/upd@te/VERSION", ""); }, 7, progress('A', -7), "",
                 refused(7), {analysis("the file [/volume1/upd@te/VERSION]")}, kFreeOnly});
    c.push_back({"PackageVersionIsADirectory", [](UpdateTree &) {},
                 [](auto &) {
                     unlink("/volume1/upd@te/VERSION");
                     korvtest::make_dirs("/volume1/upd@te/VERSION");
                 },
                 7, progress('A', -7), "", refused(7), {analysis("the file [/volume1/upd@te/VERSION]")}, kFreeOnly});
    c.push_back({"PackageVersionNotReadableByOwner", [](UpdateTree &) {},
                 [](auto &) { chmod("/volume1/upd@te/VERSION", 044); }, 7, progress('A', -7), "", refused(7),
                 {analysis("the file [/volume1/upd@te/VERSION]")}, kFreeOnly});
    c.push_back({"InstalledUniqueMissing", [](UpdateTree &) {},
                 [](auto &) { korvtest::write_file("/etc.defaults/korvinfo.conf", "supportraid=\"no\"\n"); }, 8,
                 progress('A', -8), "", refused(8), {"main(<L>): fail to analyze, error = 8"}, kFreeOnly});
    for (auto [key, text] : std::vector<std::pair<std::string, std::string>>{
             {"majorversion", "fail to read major version"},
             {"minorversion", "fail to read minor version"},
             {"buildphase", "fail to read buildphase"},
             {"buildnumber", "fail to read buildnumber"}}) {
        c.push_back({"Installed" + key + "Missing", [](UpdateTree &) {},
                     [key](auto &) {
                         std::string text = korvtest::read_file("/etc.defaults/VERSION");
                         size_t at = text.find(key + "=");
                         text.erase(at, text.find('\n', at) + 1 - at);
                         korvtest::write_file("/etc.defaults/VERSION", text);
                     },
                     6, progress('A', -6), "", refused(6), {analysis(text)}, kFreeOnly});
    }
    c.push_back({"InstalledBuildOfNineDigits", installed([](auto &id) { id.buildnumber = "123456789"; }), nothing(),
                 6, progress('A', -6), "", refused(6), {analysis("fail to read buildnumber")}, kFreeOnly});
    c.push_back({"InstalledBuildNotANumber", installed([](auto &id) { id.buildnumber = "b351"; }), nothing(), 6,
                 progress('A', -6), "", refused(6), {analysis("buildnumber or major version == 0")}, kFreeOnly});
    c.push_back({"InstalledMajorZero", installed([](auto &id) { id.majorversion = "0"; }), nothing(), 6,
                 progress('A', -6), "", refused(6), {analysis("buildnumber or major version == 0")}, kFreeOnly});
    c.push_back({"PackageUniqueMissing", [](UpdateTree &) {}, without_package_key("unique"), 9, progress('A', -9),
                 "", refused(9), {"main(<L>): fail to analyze, error = 9"}, kFreeOnly});
    for (auto [key, text] : std::vector<std::pair<std::string, std::string>>{
             {"majorversion", "fail to read new major version"},
             {"minorversion", "fail to read new minor version"},
             {"buildphase", "fail to read new build phase"},
             {"buildnumber", "fail to read new build number"},
             {"extractsize", "fail to get patch size"}}) {
        c.push_back({"Package" + key + "Missing", [](UpdateTree &) {}, without_package_key(key), 7,
                     progress('A', -7), "", refused(7), {analysis(text)}, kFreeOnly});
    }
    c.push_back({"PackageBuildOfNineDigits", [](UpdateTree &t) { t.package.buildnumber = "123456789"; }, nothing(),
                 7, progress('A', -7), "", refused(7), {analysis("fail to read new build number")}, kFreeOnly});
    c.push_back({"PackageMajorZero", [](UpdateTree &t) { t.package.majorversion = "x2"; }, nothing(), 7,
                 progress('A', -7), "", refused(7), {analysis("buildnumber or major version == 0")}, kFreeOnly});
    c.push_back({"InstalledMajorOne", installed([](auto &id) { id.majorversion = "1"; }), nothing(), 13,
                 progress('A', -13), "", refused(13), {"updater.cpp:<L> orgMajorVersion=1"}, kFreeOnly});
    c.push_back({"PackageMajorOneShowsTheInstalledMajor", [](UpdateTree &t) { t.package.majorversion = "1"; },
                 nothing(), 13, progress('A', -13), "", refused(13), {"updater.cpp:<L> orgMajorVersion=2"}, kFreeOnly});
    c.push_back({"SameBuild", [](UpdateTree &t) { t.package.buildnumber = "351"; }, nothing(), 10,
                 progress('A', -10), "", refused(10), {analysis("orgBuildNumber = 351, newBuildNumber=351")}, kFreeOnly});
    c.push_back({"OlderBuild", [](UpdateTree &t) { t.package.buildnumber = "300"; }, nothing(), 10,
                 progress('A', -10), "", refused(10), {analysis("orgBuildNumber = 351, newBuildNumber=300")}, kFreeOnly});
    c.push_back({"OtherModel", [](UpdateTree &t) { t.package.unique = "pellorin_ixp420_1hd"; }, nothing(), 12,
                 progress('A', -12), "", refused(12),
                 {analysis("szOrgCompany = [korvadyn_powerpc_410v+_1hd], szNewCompany=[pellorin_ixp420_1hd]")}, kFreeOnly});
    c.push_back({"ModelInCapitalsIsTheSameModel",
                 [](UpdateTree &t) { t.package.unique = "KORVADYN_POWERPC_410V+_1HD"; }, nothing(), 0,
                 kDone, "", updated(), {kCompleted}});

    // The old "/writeable" layout of installed builds up to 261 (no driver buffer there).
    auto oldLayout = [](UpdateTree &t) {
        t.identity.unique = t.package.unique = "pellorin_ixp420_1hd";
        t.identity.buildnumber = "261";
        t.identity.settings.erase("defaultfs");
    };
    c.push_back({"OldLayoutTakesDefaultfsFromTheFactory",
                 [=](UpdateTree &t) {
                     oldLayout(t);
                     t.identity.defaults["defaultfs"] = "ext3";
                 },
                 [](auto &) { writeable_layout(); }, 0, kDone, "",
                 updated("2.0.3.261"),
                 {"updater.cpp:<L>(ErrUPDTIAnalyze_WholeSystem): can not get [defaultfs] in [/etc/korvinfo.conf]",
                  kCompleted},
                 kNoBuffer, {"updater.cpp:<L>(ErrUPDTIAnalyze_WholeSystem): can not get [defaultfs] in "
                             "[/etc.defaults/korvinfo.conf]"},
                 {{"/etc/korvinfo.conf", "eth0_mtu=\"1500\"\ndefaultfs=\"ext3\"\n"
                                         "codepage=\"enu\"\ncodepage_mediaservice=\"enu\"\n"},
                  {"/volume1/s@vedconfig/korvinfo.conf", "hostname=\"unit\"\n"},
                  {"/volume1/s@vedconfig/messages", "boot\n"}}});
    c.push_back({"OldLayoutWithoutAnyDefaultfsUsesReiserfs", oldLayout,
                 [](auto &) { writeable_layout(); }, 0, kDone, "",
                 updated("2.0.3.261"),
                 {"updater.cpp:<L>(ErrUPDTIAnalyze_WholeSystem): can not get [defaultfs] in "
                  "[/etc.defaults/korvinfo.conf]"},
                 kNoBuffer, {}, {{"/etc/korvinfo.conf", "eth0_mtu=\"1500\"\ndefaultfs=\"reiserfs\"\n"
                                         "codepage=\"enu\"\ncodepage_mediaservice=\"enu\"\n"}}});
    c.push_back({"OldLayoutDefaultfsCannotBeSet", oldLayout,
                 [](auto &) {
                     korvtest::make_dirs("/writeable");
                     fill_disk_under("/etc");
                 },
                 22, progress('A', -22), "", refused(22),
                 {"updater.cpp:<L>(ErrUPDTIAnalyze_WholeSystem): can not set [defaultfs=reiserfs] to "
                  "/etc/korvinfo.conf"},
                 kFreeOnly, {}, {{"/etc/korvinfo.conf", "eth0_mtu=\"1500\"\n"}}});
    c.push_back({"OldLayoutWithTooLittleRoomOnWriteable", oldLayout,
                 [](auto &) { ASSERT_TRUE(korvtest::mount_small_disk("/writeable", 1536 * 1024)); }, 16,
                 progress('A', -16), "", refused(16), {"main(<L>): fail to analyze, error = 16"}, kFreeOnly,
                 {"updater.cpp:<L> System Partition is not sufficient. (<L> < <L>)"},
                 // what was added stays
                 {{"/etc/korvinfo.conf", "eth0_mtu=\"1500\"\ndefaultfs=\"reiserfs\"\n"}}});
    c.push_back({"OldLayoutWithTwoMiBOnWriteable", oldLayout,
                 [](auto &) {
                     ASSERT_TRUE(korvtest::mount_small_disk("/writeable", 2048 * 1024));
                     writeable_layout(true);
                 },
                 0,
                 kDone, "",
                 updated("2.0.3.261"), {kCompleted},
                 kNoBuffer});
    c.push_back({"OldLayoutNeedsWriteable", oldLayout, nothing(), 0, kDone, "",
                 updated("2.0.3.261"), {kCompleted},
                 kNoBuffer,
                 {"updater.cpp:<L>(ErrUPDTIAnalyze_WholeSystem): can not get [defaultfs] in [/etc/korvinfo.conf]"},
                 {{"/etc/korvinfo.conf", "eth0_mtu=\"1500\"\n"
                                         "codepage=\"enu\"\ncodepage_mediaservice=\"enu\"\n"}}});

    // Room on the system partition: 10240 KiB above "extractsize".
    c.push_back({"ResizableDiskFitsExactly", [](UpdateTree &t) { t.package.extractsize = "351191"; }, nothing(), 0,
                 kDone, "", updated(), {kCompleted}});
    c.push_back({"ResizableDiskOneKiBShort", [](UpdateTree &t) { t.package.extractsize = "351192"; }, nothing(), 16,
                 progress('A', -16), kSpaceMsg, refused(16),
                 {"updater.cpp:<L> System Partition is not sufficient. (361431 < 361432)"}, kFreeOnly});
    auto fixedDisk = [](UpdateTree &t) { t.disks[0].partitions[2].start = 1333331; };
    c.push_back({"FixedDiskFitsHalfItsSectors",
                 [=](UpdateTree &t) {
                     fixedDisk(t);
                     t.package.extractsize = "254801";
                 },
                 nothing(), 0, kDone, "", updated(),
                 {"updater.cpp:<L> System Partition is not resizeable. (1333331)", kCompleted}});
    c.push_back({"FixedDiskOneKiBShort",
                 [=](UpdateTree &t) {
                     fixedDisk(t);
                     t.package.extractsize = "254802";
                 },
                 nothing(), 16, progress('A', -16), kSpaceMsg, refused(16),
                 {"updater.cpp:<L> System Partition is not sufficient. (265041 < 265042)"}, kFreeOnly});
    c.push_back({"OtherPartitionSizeIsNotResizable",
                 [](UpdateTree &t) {
                     t.disks[0].partitions[0].sectors = 600000;
                     t.package.extractsize = "289761";
                 },
                 nothing(), 16, progress('A', -16), kSpaceMsg, refused(16),
                 {"updater.cpp:<L> System Partition is not sufficient. (300000 < 300001)"}, kFreeOnly});
    c.push_back({"NoSystemPartition", [](UpdateTree &t) { t.disks[0].partitions.erase(t.disks[0].partitions.begin()); },
                 nothing(), 16, progress('A', -16), kSpaceMsg, refused(16),
                 {"updater.cpp:<L> RCPartitionConfigs(/dev/hda1) failed"}, kFreeOnly});
    c.push_back({"NoThirdPartitionMeansNotResizable",
                 [](UpdateTree &t) {
                     t.disks[0].partitions.pop_back();
                     t.package.extractsize = "255000";
                 },
                 nothing(), 16, progress('A', -16), kSpaceMsg, refused(16),
                 {"updater.cpp:<L> RCPartitionConfigs(/dev/hda3) failed",
                  "updater.cpp:<L> System Partition is not sufficient. (265041 < 265240)"}, kFreeOnly});
    c.push_back({"NegativeExtractSizeFits", [](UpdateTree &t) { t.package.extractsize = "-99999999"; }, nothing(),
                 0, kDone, "", updated(), {kCompleted}});
    c.push_back({"HugeExtractSizeDoesNotWrapAround",
                 [](UpdateTree &t) { t.package.extractsize = "9223372036854775807"; }, nothing(), 16,
                 progress('A', -16), kSpaceMsg, refused(16),
                 {"updater.cpp:<L> System Partition is not sufficient. (361431 < 9223372036854775807)"}, kFreeOnly});
    c.push_back({"RaidArrayOf4TiBFits",
                 [](UpdateTree &t) {
                     korvtest::RaidArray md;
                     md.size_bytes = 4ull << 40;
                     t.raid = md;
                 },
                 nothing(), 0, kDone, "", updated(), {kCompleted}});
    c.push_back({"RaidArrayTooSmall",
                 [](UpdateTree &t) {
                     korvtest::RaidArray md;
                     md.size_bytes = 30720ull * 1024 - 1;
                     t.raid = md;
                 },
                 nothing(), 16, progress('A', -16), kSpaceMsg, refused(16),
                 {"updater.cpp:<L> System Partition is not sufficient. (30719 < 30720)"}, kFreeOnly});
    c.push_back({"RaidArrayNotRunning",
                 [](UpdateTree &t) { t.identity.defaults["supportraid"] = "YES"; },
                 [](auto &) { ctl::set_md_size(0, 0); }, 16,
                 progress('A', -16), kSpaceMsg, refused(16),
                 {"updater.cpp:<L> Failed to get RAID info, err=0, errno=0x600"}, kFreeOnly});

    // A fresh boot on installed builds up to 350, unless junior or in the installer.
    c.push_back({"UptimeOf300Passes", old_build(300), nothing(), 0, kDone, "",
                 updated("2.0.3.350"), {kCompleted},
                 kNoBuffer});
    c.push_back({"UptimeOf301NeedsAReboot", old_build(301), nothing(), 24, progress('A', -24), kRebootMsg,
                 {kStart, "Upgrade from version 2.0.3.350 to version 2.1.0.400", failed(24)}, {failed(24)},
                 kNoBuffer});
    c.push_back({"UptimeUnknownNeedsAReboot", old_build(10),
                 [](auto &) { ctl::fail_request("kernel", "UPTIME", EIO); }, 24, progress('A', -24), kRebootMsg,
                 {kStart, "Upgrade from version 2.0.3.350 to version 2.1.0.400", failed(24)}, {}, kNoBuffer});
    c.push_back({"JuniorSkipsTheUptime",
                 [](UpdateTree &t) {
                     old_build(301)(t);
                     t.junior_hw = true;
                 },
                 nothing(), 0, kDone, "",
                 updated("2.0.3.350"),
                 {"This is junior, gszDevMtdPartition=[/dev/mtd5]", "number of partitions = [6]", kCompleted},
                 kNoBuffer});
    c.push_back({"InstallerSkipsTheUptime",
                 [](UpdateTree &t) {
                     old_build(301)(t);
                     t.installer = true;
                 },
                 nothing(), 0, kDone, "",
                 updated("2.0.3.350"), {kCompleted},
                 kNoBuffer});
    c.push_back({"Build351AsksForTheBufferWhateverTheUptime",
                 [](UpdateTree &t) { t.kernel.uptime = 100000; }, nothing(), 0, kDone, "", updated(),
                 {kCompleted}});

    // The flash driver's transfer buffer.
    c.push_back({"KernelWithoutTheBufferCallGoesOn", [](UpdateTree &t) { t.kernel.syscall405 = ENOSYS; }, nothing(),
                 0, kDone, "", updated(),
                 {"main(<L>): fail to malloc mtd driver buffer, error = 38",
                  "main(<L>): fail to free mtd driver buffer, error = 38", kCompleted},
                 {"SYS405 arg=1 -> -1 ENOSYS", "SYS405 arg=0 -> -1 ENOSYS"}});
    c.push_back({"BufferRefusedNeedsAReboot", [](UpdateTree &) {},
                 [](auto &) { ctl::fail_request("kernel", "SYS405", ENOMEM); }, 23, progress('A', -23), kBufferMsg,
                 {kStart, kUpgrade, failed(23)}, {"main(<L>): fail to malloc mtd driver buffer, error = 12"},
                 {"SYS405 arg=1 -> -1 ENOMEM", "SYS405 arg=0 -> 0"}});

    // A group update: no analysis, whatever the package holds.
    c.push_back({"GroupUpdateSkipsTheAnalysis", [](UpdateTree &t) { t.package.buildnumber = "300"; },
                 [](auto &s) { s.args = {"-g"}; }, 0, kDone, "", {kStart, kCompleted},
                 {kCompleted}, kBuffer, {"main(<L>): fail to analyze, error = 10"}});
    c.push_back({"GroupUpdateOnAnOldBuildAsksForTheBuffer", old_build(301), [](auto &s) { s.args = {"-g"}; }, 0,
                 kDone, "", {kStart, kCompleted}, {kCompleted}});

    // The flash directory (the MSys partition table: updater_msys_run_test.cpp).
    c.push_back({"FlashDirectoryUnreadable", [](UpdateTree &) {},
                 [](auto &) { ctl::fail_request("/dev/mtd7", "OPEN", EIO); }, 18, progress('P', -18), "",
                 {kStart, kUpgrade, failed(18)}, {"main(<L>): fail to get partition info"}});
    c.push_back({"BackupFailsAndStays", [](UpdateTree &) {},
                 [](auto &) {
                     korvtest::install_program("/bin/dd", "#!/bin/sh\ncase \" $* \" in *\" if=/dev/mtd3 \"*) exit 1 ;; esac\n"
                                                          "exec /.korvsim/tools/dd \"$@\"\n");
                 },
                 15, "P:-15:      ", "", {kStart, kUpgrade, failed(15)},
                 {"UPDTExecute(<L>): failed to execute cmd=[/bin/dd if=\"/dev/mtd3\" of=\"/volume1/upd@te/b@ckup/"
                  "mtd_AllLib.tgz\" bs=16384], ret = 1",
                  "main(<L>): fail to backup old patch info "},
                 kBuffer, {"szCmd=[/bin/rm -rf /volume1/upd@te/b@ckup]"}});  // it stays
    c.push_back({"EmptyFlashDirectory", [](UpdateTree &) {},
                 [](auto &) { ASSERT_TRUE(ctl::write_fis(7, {})); }, 19, progress('P', -19), "",
                 {kStart, kUpgrade, failed(19)},
                 {"number of partitions = [0]", "UPDTInitPatchInfo(<L>): parameter error ",
                  "main(<L>): fail to initialize patch info "}});
    return c;
}

class UpdaterRun : public testing::TestWithParam<RunCase> {};

TEST_P(UpdaterRun, EndsAsTheSituationSays)
{
    const RunCase &c = GetParam();
    UpdateTree tree;
    c.tree(tree);
    korvtest::build_update_tree(tree);
    updatertest::RunSpec spec;
    c.setup(spec);
    auto r = updatertest::run_updater(spec);

    EXPECT_EQ(r.status, c.status) << r.out << korvtest::syslog_dump();
    EXPECT_EQ(r.progress, c.progress);
    EXPECT_EQ(r.message, c.message);
    EXPECT_EQ(r.log, c.log);
    EXPECT_TRUE(r.stamps_ok);
    EXPECT_EQ(r.sys405, c.sys405);
    for (const auto &text : c.syslog)
        EXPECT_TRUE(korvtest::syslog_has_pattern(text)) << "no message \"" << text << "\" in:\n"
                                                         << korvtest::syslog_dump();
    for (const auto &text : c.absent)
        EXPECT_FALSE(korvtest::syslog_has_pattern(text)) << text;
    for (const auto &[path, text] : c.files)
        EXPECT_EQ(korvtest::read_file(path), text) << path;
    EXPECT_EQ(r.out, c.out);
}

// The caller's directory, as an unprivileged caller leaves it: the updater cannot open it, or it
// loses the right to re-enter it while the run goes on.
class CallerDirectory : public testing::Test {
protected:
    static constexpr int kNobody = 65534;
    void SetUp() override
    {
        korvtest::build_update_tree();
        ASSERT_EQ(chmod("/tmp", 01777), 0);
        korvtest::write_file("/tmp/update.progress", "", 0666);
        korvtest::write_file("/var/log/korvupdate.log", "", 0666);
        korvtest::make_dirs("/home/caller");
        ASSERT_EQ(chown("/home/caller", kNobody, kNobody), 0);
        spec_.cwd = "/home/caller";
        spec_.uid = kNobody;
    }
    updatertest::RunSpec spec_;
};

TEST_F(CallerDirectory, UnopenableIsCode1)
{
    ASSERT_EQ(chmod("/home/caller", 0), 0);
    auto r = updatertest::run_updater(spec_);
    EXPECT_EQ(r.status, 1) << korvtest::syslog_dump();
    EXPECT_EQ(r.progress, progress('A', -1));
    EXPECT_EQ(r.log, refused(1));
    EXPECT_TRUE(korvtest::syslog_has_pattern("main(<L>): fail to open current directory. errno=13"));
    EXPECT_TRUE(r.sys405.empty());  // nothing to give back this early
}

TEST_F(CallerDirectory, LostOnTheWayReplacesTheRunsCode)
{
    // The partition listing of the analysis' space check takes the caller's right to enter its
    // directory.
    ASSERT_EQ(rename("/sbin/sfdisk", "/sbin/sfdisk.real"), 0);
    korvtest::write_file("/sbin/sfdisk", "#!/bin/sh\nchmod 600 /home/caller\nexec /sbin/sfdisk.real \"$@\"\n", 0755);
    korvtest::Package package;
    package.extractsize = "999999999";
    korvtest::build_package(package);
    auto r = updatertest::run_updater(spec_);
    EXPECT_EQ(r.status, 2) << korvtest::syslog_dump();
    EXPECT_EQ(r.progress, progress('A', -2));
    EXPECT_EQ(r.message, kSpaceMsg);
    EXPECT_EQ(r.log, refused(2));
    EXPECT_TRUE(korvtest::syslog_has_pattern("main(<L>): fail to analyze, error = 16"));
    EXPECT_FALSE(korvtest::syslog_has_pattern(failed(16)));
}

INSTANTIATE_TEST_SUITE_P(Situations, UpdaterRun, testing::ValuesIn(Cases()),
                         [](const auto &info) { return info.param.name; });

}  // namespace
