// In-process tests of the flash engine: the run state of one layout over a flash of the tree, and
// the flash directory as the updater reads it.
#pragma once

#include <unistd.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "korv/mtd.h"
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

}  // namespace updatertest
