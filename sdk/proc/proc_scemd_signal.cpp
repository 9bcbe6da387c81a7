#include <signal.h>

#include "korv/proc.h"

extern "C" int KORVScemdSignal(int signal)
{
    const int pid = ProcPidFileRead("/var/run/scemd.pid");
    // 0 and negative values would reach a whole process group.
    if (pid <= 0)
        return 0;
    return kill(pid, signal) == 0 ? 0 : -1;
}
