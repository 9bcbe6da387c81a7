// A program run that is killed at a chosen point: the program and every program it starts are
// traced (ptrace) system call by system call, and at the point the whole process group gets
// SIGKILL, as a power cut or a kill -9 would end it there.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace updatertest {

// One kind of system call to count.
struct KillStep {
    enum Kind {
        kSyslog,  // a syslog message that contains text
        kWrite,   // a write to the file at path text whose bytes begin with data
        kRename,  // a rename whose new name begins with text (and not with data, when given)
        kExec,    // an exec of the program whose path ends with text
    };
    Kind kind = kSyslog;
    std::string text;
    std::string data;
    int nth = 1;            // the nth such call (from 1), counted after the steps before it
    bool atReturn = false;  // killed once the call returned; else at its entry (it never runs)
};

// Steps in order: each is counted only once the one before it was reached; the run is killed at
// the last one.
using KillPoint = std::vector<KillStep>;

struct KilledRun {
    bool killed = false;  // the point was reached and the group killed there
    int status = -1;      // the program's exit status when it ended on its own, else -1
    std::string out;      // what it printed
    std::vector<std::string> events;  // with trace_all: every syscall the steps could count, in order
};

// Forks, runs argv[0] with argv in dir as a process group of its own, traced, and kills the group
// at the point. With trace_all, also lists every countable event as "<kind> <text>".
KilledRun run_killed(const std::vector<std::string> &argv, const std::string &dir, const KillPoint &point,
                     bool trace_all = false);

}  // namespace updatertest
