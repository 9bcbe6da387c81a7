// A daemon's pid file, read once and judged in one place, and the signal sent by it.
//
//   korv::proc::PidFile f = korv::proc::ReadPidFile("/var/run/crond.pid");
//   if (f.OnePid()) ...                        // the file names one process and nothing else
//
//   korv::proc::PidSignal s = korv::proc::SignalPidFile(KORV_SCHEDULER_PID, SIGHUP);
//   switch (s.outcome) ...                     // each caller maps the outcomes to its results
//
// The number is read as the device's scanf "%u" reads it (white space, a sign, digits; beyond 32
// bits it saturates). Only plain digits naming a positive pid are ever signalled: 0 and negative
// pids reach whole process groups, and a sign or digits beyond 32 bits would wrap round to a pid
// that the file never named. Only a plain file is read: a link there is not followed, and a FIFO
// (never waited on), a folder or a device is unreadable. Nothing here records an error code or
// writes a message.
#pragma once

namespace korv::proc {

struct PidFile {
    enum class State {
        Missing,     // no such file
        Unreadable,  // it cannot be opened, or is no plain file (err)
        Empty,       // nothing could be read from it
        NoNumber,    // it does not begin with a number
        Number,
    };
    State state = State::Missing;
    int err = 0;
    int pid = 0;         // the number as "%u" gives it: negative beyond the signed 32-bit range
    bool plain = false;  // digits only, without a sign, within 32 bits
    bool alone = false;  // nothing but white space follows the number

    // A pid that may be signalled.
    bool Signallable() const { return state == State::Number && plain && pid > 0; }
    // The file holds one signallable pid and nothing else.
    bool OnePid() const { return Signallable() && alone; }
};

PidFile ReadPidFile(const char *path);

struct PidSignal {
    enum class Outcome {
        NoFile,      // no pid file: the daemon is not running
        CannotOpen,  // the file cannot be opened (err)
        Empty,       // nothing could be read from it
        NoPid,       // it names no pid that may be signalled
        Sent,
        NoProcess,   // kill found no such process
        KillFailed,  // kill failed otherwise (err)
    };
    Outcome outcome = Outcome::NoFile;
    int pid = 0;
    int err = 0;
};

// kill(2) of the pid in the file when it may be signalled.
PidSignal SignalPidFile(const char *path, int signal);

}  // namespace korv::proc
