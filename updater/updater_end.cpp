// The end of every run: the driver buffer given back (the road freed its directory), the caller's
// directory re-entered, the failure logged, the MTU put back, the final progress.
#include <errno.h>
#include <stdio.h>
#include <syslog.h>
#include <unistd.h>

#include "korv/platform.h"
#include "korv_staging_record.h"
#include "updater.h"
#include "updater_main.h"

int UPDTEndPath(UPDTMAINSTATE *m, bool skipCallerDir)
{
    if (!skipCallerDir) {
        if (gUPDTFlags.gfDriverBuffer && korv_plat_driver_buffer(0) != 0)
            syslog(LOG_ERR, "%s(%d): fail to free mtd driver buffer, error = %d", UPDT_MAIN, __LINE__, errno);
        // Whatever the run did, a caller left in another directory is a failure of its own.
        if (fchdir(m->callerDir.get()) != 0)
            m->code = UPDT_ERR_DIR_RETURN;
        m->callerDir.reset();
    }
    if (m->code != 0) {
        char text[64];
        snprintf(text, sizeof text, "Failed to accomplish the update! (errno = %d)", m->code);
        syslog(LOG_ERR, "%s", text);
        UPDTLog(text);
    }
    UPDTRestoreMtu(m);
    korv::StagingRecordEnd();
    UPDTSetProgress(m->stage, -m->code);
    return m->code;
}
