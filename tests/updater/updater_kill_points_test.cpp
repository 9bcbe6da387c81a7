// An update killed at any point, then brought back the way the README gives: run the update
// again; on code 15 see which firmware the flash holds, remove "b@ckup" when it holds one whole,
// else write the old one back from it with korv-flashcp (the directory first); then update
// again. Every case must end as an uninterrupted update ends: the same settings and account
// files, the same flash byte for byte, and nothing left behind.
//
// The run is killed (SIGKILL to its process group) at a system call of its own or of a program
// it started, counted under ptrace (kill_point.h): one case per point, through every stage.
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "kill_point.h"
#include "korv/simctl.h"
#include "korvtest.h"
#include "updater.h"
#include "updater_run.h"
#include "updater_unit.h"

namespace ctl = korvsim::ctl;
using korvtest::file_exists;
using korvtest::read_file;
using namespace updatertest;

namespace {

const char kWorkDir[] = "/volume1/upd@te";
const char kBackup[] = "/volume1/upd@te/b@ckup";
const std::string kTools = KORV_BINARY_DIR "/bin/";

// A unit of an old build (every migration but the photo database's runs) whose package brings
// three images and the data archive.
void lay_out()
{
    lay_out_unit(100, {{"zImage", 0xA000}, {"rd.bin", 0x9345}, {"AllLib.tgz", 0x8800}});
    korvtest::write_file(std::string(kWorkDir) + "/hda1.tgz", "the data archive\n");
    korvtest::install_updater();
}

// Everything a run changes besides the flash, for putting the unit back between runs.
const std::vector<std::string> kRunRoots = {"/etc", "/etc.defaults", "/usr/korv", "/var", "/volume1", "/tmp",
                                            "/.NormalShutdown", "/.korvsim/kernel.conf", "/.korvsim/net.conf"};

struct Flash {
    std::vector<ctl::WindowInfo> windows;
    std::vector<std::vector<uint8_t>> bytes;
};

Flash flash()
{
    Flash f;
    f.windows = ctl::windows();
    for (const auto &w : f.windows)
        f.bytes.push_back(ctl::read_window(w.index));
    return f;
}

void put_back(const Flash &f)
{
    for (size_t i = 0; i < f.windows.size(); ++i) {
        ASSERT_TRUE(ctl::fill_window(f.windows[i].index, 0, f.bytes[i]));
        ASSERT_TRUE(ctl::set_locked(f.windows[i].index, f.windows[i].locked));
    }
}

// The names under /tmp, but the two status files (their last text depends on the last run).
std::set<std::string> tmp_names()
{
    std::set<std::string> names;
    for (const auto &[path, n] : picture_of({"/tmp"}))
        if (path != "/tmp/update.progress" && path != "/tmp/update.message")
            names.insert(path);
    return names;
}

// What one uninterrupted update leaves.
struct Outcome {
    Picture unit;
    Flash flash;
    std::set<std::string> tmp;
};

Outcome outcome()
{
    return {unit_picture(), flash(), tmp_names()};
}

std::string run_tool(const std::string &command)
{
    std::string out;
    int status = korvtest::run_shell(command + " 2>&1", &out);
    EXPECT_EQ(status, 0) << command << ":\n" << out;
    return out;
}

// The way back.
enum class Way { Rerun, RemoveBackup, WriteBack };

const char *name_of(Way w)
{
    return w == Way::Rerun ? "run again" : w == Way::RemoveBackup ? "remove b@ckup" : "write the old firmware back";
}

// The messages of the killed run in the system log.
std::vector<std::string> killed_run_log()
{
    std::vector<std::string> lines;
    for (const auto &l : korvtest::syslog_lines())
        lines.push_back(l.message);
    return lines;
}

bool logged(const std::vector<std::string> &log, const std::string &part)
{
    for (const auto &l : log)
        if (l.find(part) != std::string::npos)
            return true;
    return false;
}

// Step 1 of the README's way out of code 15: which firmware the flash holds.
Way which_way(const std::vector<std::string> &log, const std::vector<std::string> &updateLog)
{
    // A run killed after it logged its success left the new firmware whole.
    for (auto it = updateLog.rbegin(); it != updateLog.rend(); ++it) {
        if (it->find("Congratulation!! The update has been completed!!") != std::string::npos)
            return Way::RemoveBackup;
        if (it->find("Upgrade from version") != std::string::npos)
            break;
    }
    // Every partition the package writes holds its new image once its entry has the image's length.
    const std::string listing = run_tool(kTools + "korv-flashls");
    bool allNew = true;
    for (const auto &[name, image] : {std::pair<const char *, const char *>{"zImage", "zImage"},
                                      {"rd.gz", "rd.bin"},
                                      {"AllLib.tgz", "AllLib.tgz"}}) {
        struct stat st = {};
        EXPECT_EQ(stat((std::string(kWorkDir) + "/" + image).c_str(), &st), 0) << image;
        char length[16];
        snprintf(length, sizeof length, "0x%08X", static_cast<unsigned>(st.st_size));
        std::regex entry(std::string("\n") + name + " +0x[0-9A-F]{8}  0x[0-9A-F]{8}  " + length + "\n");
        allNew = allNew && std::regex_search(listing, entry);
    }
    if (allNew)
        return Way::RemoveBackup;
    // No write began: the flash is as it was, and the backup may be only part of it.
    return logged(log, "Try to Erase MTD Partition(") ? Way::WriteBack : Way::RemoveBackup;
}

// Step 2's write-back: the directory first, then each partition whose write began, each from the
// "mtd_NAME" file the backup's own line names for its device.
void write_back(const std::vector<std::string> &log)
{
    static const std::regex backupLine("dd if=\"(/dev/mtd[0-9]+)\" of=\"[^\"]*/b@ckup/(mtd_[^\"]+)\"");
    static const std::regex eraseLine("Try to Erase MTD Partition\\((/dev/mtd[0-9]+)\\)");
    static const std::regex directoryLine("gszDevMtdPartition=\\[(/dev/mtd[0-9]+)\\]");
    std::map<std::string, std::string> fileOf;
    std::vector<std::string> devices;
    for (const auto &l : log) {
        std::smatch m;
        if (std::regex_search(l, m, backupLine))
            fileOf[m[1]] = m[2];
        else if (std::regex_search(l, m, directoryLine))
            devices.insert(devices.begin(), m[1]);
        else if (std::regex_search(l, m, eraseLine) &&
                 std::find(devices.begin(), devices.end(), m[1]) == devices.end())
            devices.push_back(m[1]);
    }
    ASSERT_FALSE(devices.empty());
    for (const auto &device : devices) {
        ASSERT_TRUE(fileOf.count(device)) << device;
        run_tool(kTools + "korv-flashcp " + korvtest::shell_quote(std::string(kBackup) + "/" + fileOf[device]) +
                 " " + device);
    }
}

struct Point {
    std::string name;
    KillPoint at;
    Way way;  // what the owner must do after it
};

void PrintTo(const Point &p, std::ostream *os)
{
    *os << p.name;
}

KillStep Log(const std::string &text, int nth = 1)
{
    return {KillStep::kSyslog, text, "", nth, false};
}
KillStep Renamed(const std::string &to, int nth = 1, const std::string &notTo = "")
{
    return {KillStep::kRename, to, notTo, nth, true};
}
KillStep Started(const std::string &program, int nth = 1)
{
    return {KillStep::kExec, program, "", nth, true};
}
KillStep Written(const std::string &path, int nth = 1, bool done = true, const std::string &data = "")
{
    return {KillStep::kWrite, path, data, nth, done};
}
// The staging record's line for a copy: "+" named (the copy not made yet), "=" made.
KillStep Noted(const std::string &mark, int nth, bool done)
{
    return {KillStep::kWrite, UPDT_STAGING_FILE, mark, nth, done};
}

const KillStep kStageC = Log("Turn on the reinstall library flag");

std::vector<Point> Points()
{
    const Way R = Way::Rerun, D = Way::RemoveBackup, W = Way::WriteBack;
    std::vector<Point> p = {
        // Start-up and analysis.
        {"StartOfTheUpdater", {Log("Start of the updater...")}, R},
        {"UpdateLogStarted", {Written("/var/log/korvupdate.log")}, R},
        {"SpaceCheck", {Started("/sbin/sfdisk")}, R},
        {"AnalysisDone", {Written("/var/log/korvupdate.log", 2)}, R},
        // Each pre-flash step.
        {"FtpPortsCopyNamedNotMade", {Noted("+", 1, true)}, R},
        {"FtpPortsCopyMadeNotNoted", {Noted("=", 1, false)}, R},
        {"FtpPortsCopyNoted", {Noted("=", 1, true)}, R},
        {"FtpPortsRenamed", {Renamed("/etc/korvinfo.conf")}, R},
        {"RsyncdConfRenamed", {Renamed("/etc/rsyncd.conf")}, R},
        {"RsyncdSecretsWritten", {Written("/etc/rsyncd.secrets.tmp")}, R},
        {"RsyncdSecretsRenamed", {Renamed("/etc/rsyncd.secrets")}, R},
        {"SmmspGroupRenamed", {Renamed("/etc/group")}, R},
        {"UsbBackupSetWritten", {Written("/etc/korvlocalbkp.conf")}, R},
        {"UsbBackupSettingRenamed", {Renamed("/etc/korvinfo.conf", 2)}, R},
        {"UsbBackupSettingsRenamed", {Renamed("/etc/korvinfo.conf", 4)}, R},
        {"UsbBackupScheduleAppended", {Written("/etc/crontab")}, R},
        {"UsbBackupScheduleRenamed", {Renamed("/etc/crontab")}, R},
        {"NetBackupSetRenamed", {Renamed("/etc/korvnetbkp.conf")}, R},
        {"NetBackupFileMoved", {Renamed("/var/services/NetBackup/")}, R},
        {"CodepageRenamed", {Renamed("/etc/korvinfo.conf", 5)}, R},
        {"CodepagesRenamed", {Renamed("/etc/korvinfo.conf", 7)}, R},
        // The backup.
        {"BackupFolderMade", {Log("szCmd=[/bin/rm -rf /volume1/upd@te/b@ckup"), Started("/bin/mkdir")}, R},
        {"BackupCopyStarted", {Log("UPDTBackupOldPartition"), Started("/bin/dd", 3)}, D},
        {"BackupCopyHalfDone", {Written("/volume1/upd@te/b@ckup/mtd_rd.gz", 5)}, D},
        {"BackupOfTheDirectoryStarted", {Log("b@ckup/mtd_FIS Directory"), Started("/bin/dd")}, D},
    };
    // Each partition's write: unlocked, erased, part written, written, its entry about to change
    // and changed.
    const struct {
        const char *name, *device, *entry;
    } parts[] = {{"ZImage", "/dev/mtd1", "zImage"}, {"RdGz", "/dev/mtd2", "rd.gz"}, {"AllLib", "/dev/mtd3", "AllLib.tgz"}};
    for (const auto &part : parts) {
        const std::string dev = std::string("(") + part.device + ")";
        auto name = [&](const char *what) { return std::string("Write") + part.name + what; };
        // Before the first erase the flash is as it was.
        p.push_back({name("Unlocked"), {Log("Try to Erase MTD Partition" + dev)}, part.device == std::string("/dev/mtd1") ? D : W});
        p.push_back({name("Erased"), {Log("Try to Write MTD Partition" + dev)}, W});
        p.push_back({name("PartWritten"),
                     {Log("Try to Write MTD Partition" + dev), Written("/.korvsim/chip.bin", 2, false)}, W});
        p.push_back({name("Written"), {Log("Try to Verify MTD Partition" + dev)}, W});
        p.push_back({name("EntryBeingChanged"),
                     {Log("Try to Verify MTD Partition" + dev), Written("/.korvsim/chip.bin", 1, false, part.entry)},
                     W});
        p.push_back({name("Finished"), {Log(std::string("Finish updating [") + part.entry + "]")},
                     std::string(part.name) == "AllLib" ? D : W});
    }
    // Stage C: after each copy made and noted, and after each rename. Under the sanitizers, where
    // every run costs several times as much, one in four: the code they reach is the same.
#if defined(__SANITIZE_ADDRESS__)
    const int step = 4;
#else
    const int step = 1;
#endif
    p.push_back({"StageCStarted", {kStageC}, D});
    p.push_back({"PhotoDump", {kStageC, Started("pg_dump", 2)}, D});
    // Inside Berkeley DB's create of a store, under its own temporary name.
    p.push_back({"StoreBeingMade", {kStageC, Written("/tmp/__db..db.user.tmp.name.0947", 1, false)}, D});
    for (int n = 1; n <= 35; n += step)
        p.push_back({"StageCCopy" + std::to_string(n) + "Noted", {kStageC, Noted("=", n, true)},
                     D});
    // Made but not yet noted as made: the group file's copy, the user settings' and that of a
    // file that did not exist before ("ifcfg-eth0.saved").
    for (int n : {1, 12, 22})
        p.push_back({"StageCCopy" + std::to_string(n) + "MadeNotNoted",
                     {kStageC, Noted("=", n, false)}, D});
    // The record stores are counted on their own: a lookup rebuilds them again when an account
    // file changed in a later second than their last build, which the clock decides. Their first
    // build in the stage (the user settings step's) is the same in every run: five stores under
    // their staging names, then each renamed into place.
    for (int n = 1; n <= 37; n += step)
        p.push_back({"StageCRename" + std::to_string(n), {kStageC, Renamed("/", n, "/tmp/.db.")}, D});
    for (int n = 1; n <= 10; ++n)
        p.push_back({"StageCStoreRename" + std::to_string(n), {kStageC, Renamed("/tmp/.db.user.", n)}, D});
    // The end: the hand-over, the shutdown mark, success logged, the backup being removed.
    p.push_back({"HandOverMoved", {Renamed("/volume1/KorvUpgrade.tar.gz")}, D});
    p.push_back({"ShutdownMarked", {Started("/bin/touch")}, D});
    p.push_back({"SuccessLogged", {Written("/var/log/korvupdate.log", 3)}, D});
    p.push_back({"BackupBeingRemoved", {Log("szCmd=[/bin/rm -rf /volume1/upd@te/b@ckup]"), Started("/bin/rm")}, D});
    return p;
}

class KillPoints : public testing::TestWithParam<Point> {};

TEST_P(KillPoints, TheWayOutEndsAsOneUpdate)
{
    const Point &point = GetParam();
    lay_out();
    const Picture start = picture_of(kRunRoots);
    const Flash startFlash = flash();
    const std::string oldListing = run_tool(kTools + "korv-flashls");
    auto whole = run_updater();
    ASSERT_EQ(whole.status, 0) << korvtest::syslog_dump();
    const Outcome want = outcome();

    restore(start, kRunRoots);
    put_back(startFlash);
    korvtest::syslog_clear();
    KilledRun killed = run_killed({std::string(kWorkDir) + "/updater"}, "/", point.at);
    ASSERT_TRUE(killed.killed) << "the run ended (status " << killed.status << ") before the point\n"
                               << korvtest::syslog_dump();
    const std::vector<std::string> log = killed_run_log();
    std::vector<std::string> updateLog;
    std::istringstream lines(read_file("/var/log/korvupdate.log"));
    for (std::string l; std::getline(lines, l);)
        updateLog.push_back(l);

    // The README's way out.
    auto again = run_updater();
    Way way = Way::Rerun;
    if (again.status == 15) {
        EXPECT_TRUE(file_exists(kBackup));
        way = which_way(log, updateLog);
        if (way == Way::WriteBack) {
            write_back(log);
            EXPECT_EQ(run_tool(kTools + "korv-flashls"), oldListing);
        }
        korvtest::remove_tree(kBackup);
        again = run_updater();
    }
    EXPECT_EQ(name_of(way), std::string(name_of(point.way)));
    ASSERT_EQ(again.status, 0) << korvtest::syslog_dump();

    EXPECT_EQ(differences(want.unit, unit_picture()), "");
    const Flash now = flash();
    ASSERT_EQ(now.bytes.size(), want.flash.bytes.size());
    for (size_t i = 0; i < now.bytes.size(); ++i)
        EXPECT_TRUE(now.bytes[i] == want.flash.bytes[i]) << "/dev/mtd" << want.flash.windows[i].index << " differs";
    EXPECT_EQ(tmp_names(), want.tmp);
    EXPECT_FALSE(file_exists(UPDT_STAGING_FILE));
}

INSTANTIATE_TEST_SUITE_P(Points, KillPoints, testing::ValuesIn(Points()),
                         [](const testing::TestParamInfo<Point> &i) { return i.param.name; });

}  // namespace
