#include <string.h>

#include "download_internal.h"
#include "korv/download.h"
#include "korv_pid_file.h"

extern "C" int KORVDownQuarnSchedulerSignal(int signal)
{
    using Outcome = korv::proc::PidSignal::Outcome;
    const korv::proc::PidSignal s = korv::proc::SignalPidFile(KORV_SCHEDULER_PID, signal);
    switch (s.outcome) {
    case Outcome::CannotOpen:
        DQ_LOG("Failed to open scheduler pid. %s (%d)", strerror(s.err), s.err);
        return -1;
    case Outcome::Empty:
        return -1;
    case Outcome::KillFailed:
        DQ_LOG("Failed to send HUP to scheduler, reason=%s(%d)", strerror(s.err), s.err);
        return -1;
    case Outcome::NoFile:     // the scheduler is not running
    case Outcome::NoPid:
    case Outcome::Sent:
    case Outcome::NoProcess:
        break;
    }
    return 0;
}
