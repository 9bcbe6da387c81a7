// The flash write and its rollback under faults: one table of every request of the engine
// failing once and always, on the first, middle and last partition written, in the write and in
// the rollback. Each row says the exit code, what each written partition holds afterwards (the
// whole old firmware, the whole new one, or a partition the rollback could not put back) and
// whether "b@ckup" was kept, which it is exactly when the rollback failed.
#include <errno.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "device_tree.h"
#include "flash_tree.h"
#include "korv/simctl.h"
#include "korvtest.h"
#include "updater_run.h"

namespace ctl = korvsim::ctl;
using korvtest::UpdateTree;

namespace {

const char kWork[] = "/volume1/upd@te";

// The three partitions written, in table order, with unwritten ones between them.
struct Written {
    const char *name;
    const char *file;
    int index;
    size_t size;
};
const Written kWritten[] = {
    {"zImage", "zImage", 1, 0x31123},
    {"AllLib.tgz", "AllLib.tgz", 3, 0x20077},
    {"korvcfg", "korvcfg", 5, 0x8000},
};
const char *const kPosition[] = {"First", "Middle", "Last"};

std::string device(int position)
{
    return "/dev/mtd" + std::to_string(kWritten[position].index);
}

struct MatrixCase {
    std::string name;
    std::function<void()> inject;  // after the tree is built
    int status;
    // Per written partition: 'O' the old firmware, 'N' the new, '?' neither (the rollback
    // could not put it back).
    std::string holds;
    bool kept;
    std::vector<std::string> syslog = {};  // "<L>": a line number
};

void PrintTo(const MatrixCase &c, std::ostream *os)
{
    *os << c.name;
}

std::string attempts_failed(int position)
{
    return "updater.cpp:<L>(UPDTDoPatch) Try to Update [" + device(position) + "] 3 counts failed ...";
}

// Faults of the write, each once (the next attempt, or the rollback, gets through) and always.
void AddWriteFaults(std::vector<MatrixCase> &rows)
{
    struct Kind {
        const char *name;
        std::function<void(int position, bool once)> inject;
        bool retried;       // a failure that the next attempt may mend
        bool rollbackToo;   // always: the rollback makes the same request on the device
    };
    const Kind kinds[] = {
        {"Unlock", [](int p, bool once) { ctl::fail_request(device(p), "MEMUNLOCK", EIO, once); }, true, true},
        {"Erase", [](int p, bool once) { ctl::fail_request(device(p), "MEMERASE", EIO, once); }, true, true},
        {"Write", [](int p, bool once) { ctl::fail_request(device(p), "WRITE", EIO, once); }, true, false},
        {"ShortWrite", [](int p, bool once) { ctl::short_write(device(p), 5000, EIO, once); }, true, false},
        {"WriteTakesNothing", [](int p, bool once) { ctl::short_write(device(p), 5000, 0, once); }, true, false},
        {"Verify", [](int p, bool once) { ctl::corrupt_read(device(p), 0x4005, 0x01, once); }, true, false},
        {"PartitionSize",
         [](int p, bool once) { ctl::fail_request(device(p), "MTD_SET_PARTITION", EIO, once); }, false, true},
        // The directory device takes one entry per partition written: the fault waits for this one.
        {"DirectoryEntry",
         [](int p, bool once) { ctl::fail_request("/dev/mtd7", "MTD_SET_FIS_ENTRY", EIO, once, p); }, false, true},
    };
    for (const Kind &k : kinds) {
        for (int p = 0; p < 3; ++p) {
            for (bool once : {true, false}) {
                MatrixCase c;
                c.name = std::string("Write") + k.name + (once ? "Once" : "Always") + "On" + kPosition[p];
                auto inject = k.inject;
                c.inject = [inject, p, once] { inject(p, once); };
                if (once && k.retried) {
                    c.status = 0;
                    c.holds = "NNN";
                    c.kept = false;
                    c.syslog = {"updater.cpp:<L>(UPDTDoPatch) Try to Erase MTD Partition(" + device(p) + "), [1/3]..."};
                } else if (!k.rollbackToo || once) {
                    // The rollback gets through: the old firmware, whole.
                    c.status = 20;
                    c.holds = "OOO";
                    c.kept = false;
                    if (k.retried)
                        c.syslog = {"updater.cpp:<L>(UPDTDoPatch) Try to Erase MTD Partition(" + device(p) +
                                        "), [2/3]...",
                                    attempts_failed(p)};
                } else if (std::string(k.name) != "DirectoryEntry") {
                    // The rollback stops at the same request on the same partition, which the
                    // write never changed: the flash is old, but the rollback reports failure.
                    c.status = 20;
                    c.holds = "OOO";
                    c.kept = true;
                } else {
                    // Every later directory entry fails: the rollback puts every partition's bytes
                    // back, and the entries the write had not yet rewritten stay old.
                    c.status = 20;
                    c.holds = p == 0 ? "OOO" : p == 1 ? "?OO" : "??O";
                    c.kept = true;
                }
                rows.push_back(c);
            }
        }
    }
}

// Faults of the rollback: the write fails at its last partition (it never reads back right),
// then a request of the rollback fails on one partition, and the rollback goes on with the
// others. The faults skip what the write asked.
void AddRollbackFaults(std::vector<MatrixCase> &rows)
{
    struct Kind {
        const char *name;
        std::function<void(int position, bool once)> inject;
        std::string atPosition;  // what the partition at which the rollback stops holds
    };
    const Kind kinds[] = {
        {"PartitionSize",
         [](int p, bool once) { ctl::fail_request(device(p), "MTD_SET_PARTITION", EIO, once, 1); }, "="},
        {"Unlock", [](int p, bool once) { ctl::fail_request(device(p), "MEMUNLOCK", EIO, once, p == 2 ? 3 : 1); },
         "="},
        {"Erase", [](int p, bool once) { ctl::fail_request(device(p), "MEMERASE", EIO, once, p == 2 ? 3 : 1); }, "="},
        {"DirectoryEntry",
         [](int p, bool once) { ctl::fail_request("/dev/mtd7", "MTD_SET_FIS_ENTRY", EIO, once, 2 + p); }, "bytes"},
        {"Copy", [](int p, bool) { updatertest::install_failing_dd("of=" + device(p)); }, "?"},
    };
    // Before the rollback: the first two written and entered, the last written but not entered.
    const std::string written = "NN?";
    for (const Kind &k : kinds) {
        for (int p = 0; p < 3; ++p) {
            for (bool once : {true, false}) {
                if (std::string(k.name) == "Copy" && !once)
                    continue;  // one dd, once
                MatrixCase c;
                c.name = std::string("Rollback") + k.name + (std::string(k.name) == "Copy" ? "" : once ? "Once" : "Always") +
                         "On" + kPosition[p];
                auto inject = k.inject;
                c.inject = [inject, p, once] {
                    ctl::corrupt_read(device(2), 0x4005, 0x01, false);
                    inject(p, once);
                };
                c.status = 20;
                c.kept = true;
                c.holds = "OOO";
                c.holds[static_cast<size_t>(p)] = written[static_cast<size_t>(p)];
                if (k.atPosition == "?")
                    c.holds[static_cast<size_t>(p)] = '?';  // erased, not copied back
                else if (k.atPosition == "bytes" && once)
                    // Its old bytes are back; its entry too, unless the write had rewritten it.
                    c.holds[static_cast<size_t>(p)] = p == 2 ? 'O' : '?';
                else if (k.atPosition == "bytes")
                    // From there on no entry is rewritten: the two the write had made stay new.
                    c.holds = p == 0 ? "??O" : p == 1 ? "O?O" : "OOO";
                c.syslog = {"main: UPDTRollBack() fail", attempts_failed(2)};
                rows.push_back(c);
            }
        }
    }
}

std::vector<MatrixCase> Rows()
{
    std::vector<MatrixCase> rows;
    AddWriteFaults(rows);
    AddRollbackFaults(rows);
    return rows;
}

class FaultMatrix : public testing::TestWithParam<MatrixCase> {};

TEST_P(FaultMatrix, EndsWithAWholeFirmwareOrKeepsTheBackup)
{
    const MatrixCase &c = GetParam();
    UpdateTree tree;
    for (const Written &w : kWritten)
        tree.package.images[w.file] = w.size;
    korvtest::build_update_tree(tree);
    korvtest::write_file(std::string(kWork) + "/hda1.tgz", "archive");
    updatertest::FlashPicture before = updatertest::picture(false);
    c.inject();
    auto r = updatertest::run_updater();
    updatertest::FlashPicture after = updatertest::picture(false);

    EXPECT_EQ(r.status, c.status) << korvtest::syslog_dump();
    EXPECT_EQ(r.progress, c.status == 0 ? "R:0:        " : "P:-20:      ");
    for (const auto &text : c.syslog)
        EXPECT_TRUE(korvtest::syslog_has_pattern(text)) << text << "\n" << korvtest::syslog_dump();

    // Each written partition as the row says; every other one as it was.
    for (int p = 0; p < 3; ++p) {
        const auto &part = updatertest::part_named(false, kWritten[p].name);
        SCOPED_TRACE(part.name);
        char holds = c.holds[static_cast<size_t>(p)];
        if (holds == 'O') {
            EXPECT_EQ(updatertest::holds_old(before, after, part), "");
        } else if (holds == 'N') {
            EXPECT_EQ(updatertest::holds_new(before, after, part,
                                             korvtest::image_bytes(kWritten[p].file, kWritten[p].size,
                                                                   korvtest::Package{}.seed)),
                      "");
        }
    }
    for (const auto &part : updatertest::layout_parts(false)) {
        if (part.name != "zImage" && part.name != "AllLib.tgz" && part.name != "korvcfg") {
            EXPECT_EQ(updatertest::holds_old(before, after, part), "");
        }
    }
    EXPECT_EQ(ctl::check_windows(), "");

    // The backup goes only when the flash is settled; kept, it holds every partition whole and
    // the run says where it is.
    std::string backup = std::string(kWork) + "/b@ckup";
    EXPECT_EQ(korvtest::file_exists(backup), c.kept);
    const std::string keptLine = "The flash could not be restored; its backup is kept in " + backup;
    if (c.kept) {
        for (const auto &part : updatertest::layout_parts(false))
            EXPECT_EQ(korvtest::read_file(backup + "/mtd_" + part.name),
                      std::string(before.bytes.at(part.index).begin(), before.bytes.at(part.index).end()))
                << part.name;
        EXPECT_NE(std::find(r.log.begin(), r.log.end(), keptLine), r.log.end());
        EXPECT_TRUE(korvtest::syslog_has_pattern("main(<L>): the flash could not be restored; its backup is kept in [" +
                                                 backup + "]"));
    } else {
        EXPECT_EQ(std::find(r.log.begin(), r.log.end(), keptLine), r.log.end());
        EXPECT_FALSE(korvtest::syslog_contains("UPDTRollBack() fail"));
    }
    // The data archive goes to the volume only after a good write.
    EXPECT_EQ(korvtest::file_exists("/volume1/KorvUpgrade.tar.gz"), c.status == 0);
    if (c.status != 0) {
        EXPECT_TRUE(korvtest::syslog_has_pattern("main(<L>): fail to patch new binaries!!"));
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, testing::ValuesIn(Rows()),
                         [](const auto &info) { return info.param.name; });

}  // namespace
