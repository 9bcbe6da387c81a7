// The road of a unit whose firmware lives on an MSys flash: the partition table from a request
// on "/dev/mtd0", the plan in 16 KiB units, then the write. This build plans and stops before
// anything is written.
#include <string.h>
#include <syslog.h>

#include "updater.h"
#include "updater_msys.h"

int UPDTMSysUpdate(char *stage)
{
    KORVMTDFISENTRY entries[UPDT_MSYS_PARTITIONS];
    memset(entries, 0, sizeof entries);
    *stage = 'P';
    UPDTSetProgress(*stage, 0);
    int n = UPDTMSysGetPartitionInfo(entries);
    if (n < 0)
        return UPDT_ERR_FIS_READ;
    UPDTLogFlashDirectory(entries, n);

    UPDTSetProgress(*stage, 10);
    if (UPDTMSysInitPatchInfo(entries, n) != 0) {
        syslog(LOG_ERR, "%s(%d): fail to initialize patch info ", __func__, __LINE__);
        return UPDT_ERR_PATCH_INFO;
    }
    UPDTSetProgress(*stage, 20);
    return UPDTNoFlashRoad(__func__);
}
