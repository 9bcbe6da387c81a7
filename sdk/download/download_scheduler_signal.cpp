#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "download_internal.h"
#include "korv/download.h"
#include "korv_unique.h"

extern "C" int KORVDownQuarnSchedulerSignal(int signal)
{
    korv::UniqueFile fp(fopen(KORV_SCHEDULER_PID, "r"));
    if (!fp) {
        if (errno == ENOENT)
            return 0;  // the scheduler is not running
        DQ_LOG("Failed to open scheduler pid. %s (%d)", strerror(errno), errno);
        return -1;
    }
    char buf[1024];
    const size_t n = fread(buf, 1, sizeof buf - 1, fp.get());
    if (n == 0)
        return -1;
    buf[n] = '\0';
    const int pid = atoi(buf);
    // 0 and negative pids would reach whole process groups.
    if (pid <= 0)
        return 0;
    if (kill(pid, signal) != 0) {
        if (errno == ESRCH)
            return 0;
        DQ_LOG("Failed to send HUP to scheduler, reason=%s(%d)", strerror(errno), errno);
        return -1;
    }
    return 0;
}
