// Whole runs of the program `updater` in a device tree, and what they leave behind.
#pragma once

#include <sys/types.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "progress_recorder.h"

namespace updatertest {

struct RunSpec {
    std::string program = "/volume1/upd@te/updater";  // where the program lies in the tree
    std::string argv0;                                // default: program
    std::vector<std::string> args;
    std::string cwd = "/";
    int uid = -1;  // the user (and group) the program runs as; -1: root, as on the device
    // Every progress value is recorded (RunResult::progress_values); the progress file then holds
    // the last text written, whole.
    bool record_progress = false;
    // With record_progress: called for each value as it is written, with the program's pid.
    std::function<void(pid_t, const ProgressValue &)> on_progress;
};

struct RunResult {
    int status = -1;                // exit status; -1 when the program did not exit
    std::string out;                // what it printed
    std::string progress;           // "/tmp/update.progress", whole
    std::string message;            // "/tmp/update.message", whole ("" when missing)
    std::vector<std::string> log;   // lines of the update log, each without its time stamp
    bool stamps_ok = true;          // every log line began with "%Y/%m/%d %H:%M:%S" and a TAB
    std::vector<std::string> sys405;  // the kernel's SYS405 requests: "SYS405 arg=1 -> 0", ...
    std::vector<ProgressValue> progress_values;  // with RunSpec::record_progress
};

// Forks a child whose standard output goes into a pipe: the child runs in_child, which ends by an
// exec or _exit; the parent gets the child's pid and the pipe's read end in *out.
pid_t fork_with_output(int *out, const std::function<void()> &in_child);
// Everything read from fd until its end; fd is closed.
std::string read_to_end(int fd);

// Copies the program to spec.program (unless it is there) and runs it from spec.cwd.
RunResult run_updater(const RunSpec &spec = {});

// The exact bytes of a progress value.
std::string progress(char stage, int value);

// The lists one after the other: a run's expected lines from its steps' own.
inline std::vector<std::string> join(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> out;
    for (const auto &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

}  // namespace updatertest
