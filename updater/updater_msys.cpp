// The road of a unit whose firmware lives on an MSys flash: the partition table from a request
// on "/dev/mtd0", the plan in 16 KiB units, the backup, the write, and on failure the rollback;
// the data archive goes to the new firmware in every case once the write was tried.
#include <string.h>
#include <syslog.h>

#include "updater.h"
#include "updater_flash.h"
#include "updater_msys.h"

int UPDTMSysUpdate(char *stage)
{
    KORVMTDFISENTRY entries[UPDT_MSYS_PARTITIONS];
    memset(entries, 0, sizeof entries);
    int repartitioned = 0;
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
    if (!gfGroupUpdate && UPDTBackupOldPartition(entries, n) != 0) {
        syslog(LOG_ERR, "%s(%d): fail to backup old patch info ", __func__, __LINE__);
        return UPDT_ERR_BACKUP;
    }

    UPDTSetProgress(*stage, 60);
    UPDTIgnoreSignals();
    int code = UPDT_SUCCESS;
    if (UPDTMSysDoPatch(entries, n, &repartitioned) != 0) {
        syslog(LOG_ERR, "%s(%d): fail to patch new binaries!!", __func__, __LINE__);
        code = UPDT_ERR_WRITE;
    } else {
        syslog(LOG_ERR, "%s(%d): Turn on the reinstall library flag...!!", __func__, __LINE__);
        UPDTSetProgress(*stage, 100);
        *stage = 'C';
        UPDTSetProgress(*stage, 0);
        // The configuration stage belongs here; this build does not have it yet.
        UPDTSetProgress(*stage, 100);
        *stage = 'R';
        UPDTSetProgress(*stage, 0);
        syslog(LOG_ERR, "Congratulation!! The update has been completed!!");
        UPDTLog("Congratulation!! The update has been completed!!");
    }

    bool keepBackup = false;
    if (code != UPDT_SUCCESS && !gfGroupUpdate) {
        if (UPDTMSysRollBack(entries, n, repartitioned) != 0) {
            syslog(LOG_ERR, "%s: UPDTRollBack() fail", __func__);
            keepBackup = true;
        }
        syslog(LOG_ERR, "%s(%d): Turn on the reinstall library flag...!!", __func__, __LINE__);
    }

    UPDTHandOverArchive(__func__);
    if (keepBackup)
        UPDTKeepBackup(__func__);
    else
        UPDTRemoveBackup();
    return code;
}
