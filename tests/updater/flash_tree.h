// In-process tests of the flash engine: the run state of one layout over a flash of the tree, and
// the flash directory as the updater reads it.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "korv/mtd.h"
#include "korv/simctl.h"
#include "progress_recorder.h"
#include "korvtest.h"
#include "run_state.h"
#include "updater.h"

namespace updatertest {

// The run state of a fresh process on that layout, working in "/volume1/upd@te".
inline void enter_layout(bool junior)
{
    reset_run_state();
    gfJunior = junior ? 1 : 0;
    UPDTChooseLayout(gfJunior);
    korvtest::make_dirs(gszWorkDir);
    if (chdir(gszWorkDir) != 0)
        throw std::runtime_error(std::string("cannot enter ") + gszWorkDir);
}

// The flash directory of the layout, through the library as main reads it.
inline std::vector<KORVMTDFISENTRY> read_directory()
{
    int size = 0;
    if (KORVMTDGetPartitionInfo(gszDevMtdPartition, nullptr, 0, &size) < 0)
        throw std::runtime_error("cannot count the flash directory");
    std::vector<KORVMTDFISENTRY> entries(static_cast<size_t>(size) / sizeof(KORVMTDFISENTRY));
    if (size > 0 && KORVMTDGetPartitionInfo(gszDevMtdPartition, entries.data(), size, &size) < 0)
        throw std::runtime_error("cannot read the flash directory");
    return entries;
}

// "/bin/dd" of the tree: records its arguments in the programs log, fails (status 1) when one
// of them is `argument` ("if=/dev/mtd3"), else runs the host's dd.
inline void install_failing_dd(const std::string &argument)
{
    korvtest::install_program("/bin/dd", "#!/bin/sh\n"
                                         "echo \"dd $*\" >> /.korvsim/programs.log\n"
                                         "for arg; do\n"
                                         "  if [ \"$arg\" = '" + argument + "' ]; then\n"
                                         "    echo \"dd: $arg: Input/output error\" >&2; exit 1\n"
                                         "  fi\n"
                                         "done\n"
                                         "exec /.korvsim/tools/dd \"$@\"\n");
}

// "/bin/rm" of the tree: before it removes a "b@ckup" folder, a copy goes to kKeptBackup, so a
// test sees the backup of a run that ended well.
extern const char kKeptBackup[];  // "/.korvsim/kept-backup"
void install_keeping_rm();

// A partition of a layout in table order: its name, image file and N of "/dev/mtdN".
struct PartitionRef {
    std::string name;
    std::string file;
    int index;
};
const std::vector<PartitionRef> &layout_parts(bool junior);
const PartitionRef &part_named(bool junior, const std::string &name);
inline int directory_index(bool junior)
{
    return junior ? 5 : 7;
}

// Every window's place and bytes, and the flash directory, as the chip holds them.
struct FlashPicture {
    std::map<int, korvsim::ctl::WindowInfo> windows;
    std::map<int, std::vector<uint8_t>> bytes;
    std::vector<korvsim::ctl::FisEntry> directory;
    std::vector<uint8_t> packed_entry(const std::string &name) const;  // empty when absent
};
FlashPicture picture(bool junior);

// What one partition holds after a run, against the picture taken before it; "" when it holds
// what was asked, else what differs.
//   old: its bytes, window and directory entry as before;
//   new: window and entry at `place` (default: as before) with the entry's data length the
//        image's, its bytes the image and then 0xFF.
struct Place {
    uint32_t base = 0, size = 0;
};
std::string holds_old(const FlashPicture &before, const FlashPicture &after, const PartitionRef &part);
std::string holds_new(const FlashPicture &before, const FlashPicture &after, const PartitionRef &part,
                      const std::vector<uint8_t> &image, const Place *place = nullptr);

// The write's progress values for images of these lengths (the marked entries in table order),
// each written and verified at the first attempt.
std::vector<ProgressValue> write_progress(const std::vector<uint64_t> &lengths);

}  // namespace updatertest
