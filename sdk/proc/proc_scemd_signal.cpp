#include "korv/proc.h"
#include "korv_pid_file.h"

extern "C" int KORVScemdSignal(int signal)
{
    using Outcome = korv::proc::PidSignal::Outcome;
    const Outcome o = korv::proc::SignalPidFile("/var/run/scemd.pid", signal).outcome;
    return o == Outcome::NoProcess || o == Outcome::KillFailed ? -1 : 0;
}
