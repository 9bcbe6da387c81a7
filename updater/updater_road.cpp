// The flash road, chosen by system call 401: the MSys engine, or the RedBoot road: the directory
// repair when the analysis asked for it, then stage P (directory, plan, backup, write), stage C,
// the hand-over and stage R, with the rollback when the write fails.
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <syslog.h>

#include "updater.h"
#include "updater_flash.h"
#include "updater_main.h"
#include "updater_msys.h"
#include "updater_patch.h"
#include "updater_redboot.h"

namespace {

// Reads the flash directory of the layout into m (the library unpacks its stored words). 0 or
// the code.
int ReadFlashDirectory(UPDTMAINSTATE *m)
{
    int size = 0;
    if (KORVMTDGetPartitionInfo(gszDevMtdPartition, nullptr, 0, &size) < 0) {
        syslog(LOG_ERR, "%s(%d): fail to get partition info", UPDT_MAIN, __LINE__);
        return UPDT_ERR_FIS_READ;
    }
    int n = 0;
    if (size > 0) {
        m->entries.reset(static_cast<KORVMTDFISENTRY *>(malloc(static_cast<size_t>(size))));
        if (!m->entries) {
            syslog(LOG_ERR, "%s(%d): malloc fail, errno = %d", UPDT_MAIN, __LINE__, errno);
            return UPDT_ERR_SPACE;
        }
        n = KORVMTDGetPartitionInfo(gszDevMtdPartition, m->entries.get(), size, &size);
        if (n < 0) {
            syslog(LOG_ERR, "%s(%d): fail to get partition info", UPDT_MAIN, __LINE__);
            return UPDT_ERR_FIS_READ;
        }
    }
    m->nEntries = n;
    UPDTLogFlashDirectory(m->entries.get(), n);
    return 0;
}

}  // namespace

void UPDTLogFlashDirectory(const KORVMTDFISENTRY *entries, int count)
{
    syslog(LOG_ERR, "number of partitions = [%d]", count);
    // A name fills at most its 16 bytes, with or without a NUL.
    for (int i = 0; i < count; ++i)
        syslog(LOG_ERR, "[%.16s]  0x%08lX  0x%08lX  0x%08lX\n", entries[i].name,
               static_cast<unsigned long>(entries[i].flash_base), static_cast<unsigned long>(entries[i].size),
               static_cast<unsigned long>(entries[i].data_length));
}

namespace {

// After a failed write (or configuration stage): the marked partitions back from "b@ckup",
// except in a group update, which made none. The backup goes only when the flash is settled.
int RollBackAndEnd(UPDTMAINSTATE *m, int code)
{
    bool restored = true;
    if (!gfGroupUpdate) {
        if (UPDTRollBack(m->entries.get(), m->nEntries) < 0) {
            syslog(LOG_ERR, "%s: UPDTRollBack() fail", UPDT_MAIN);
            restored = false;
        }
        syslog(LOG_ERR, "%s(%d): Turn on the reinstall library flag...!!", UPDT_MAIN, __LINE__);
    }
    if (restored)
        UPDTRemoveBackup();
    else
        UPDTKeepBackup(UPDT_MAIN);
    return code;
}

}  // namespace

int UPDTFlashRoad(UPDTMAINSTATE *m)
{
    if (KORVSyscallFlagGet() == 1)
        return UPDTMSysUpdate(&m->stage);
    if (gfRecoverFIS && RecoverFISDirTable_410VPlus_V284() < 0)
        return UPDT_ERR_WRITE;

    m->stage = 'P';
    UPDTSetProgress(m->stage, 0);
    if (int code = ReadFlashDirectory(m))
        return code;
    UPDTSetProgress(m->stage, 10);
    if (UPDTInitPatchInfo(m->entries.get(), m->nEntries) != 0) {
        syslog(LOG_ERR, "%s(%d): fail to initialize patch info ", UPDT_MAIN, __LINE__);
        return UPDT_ERR_PATCH_INFO;
    }
    UPDTSetProgress(m->stage, 20);
    if (!gfGroupUpdate && UPDTBackupOldPartition(m->entries.get(), m->nEntries) != 0) {
        syslog(LOG_ERR, "%s(%d): fail to backup old patch info ", UPDT_MAIN, __LINE__);
        return UPDT_ERR_BACKUP;
    }
    UPDTSetProgress(m->stage, 60);
    if (UPDTDoPatch(m->entries.get(), m->nEntries) != 0) {
        syslog(LOG_ERR, "%s(%d): fail to patch new binaries!!", UPDT_MAIN, __LINE__);
        return RollBackAndEnd(m, UPDT_ERR_WRITE);
    }
    syslog(LOG_ERR, "%s(%d): Turn on the reinstall library flag...!!", UPDT_MAIN, __LINE__);
    UPDTSetProgress(m->stage, 100);

    // Stage C: the configuration stage comes with the migrations; a group update has none.
    m->stage = 'C';
    UPDTSetProgress(m->stage, 0);
    UPDTSetProgress(m->stage, 100);
    UPDTHandOverArchive(UPDT_MAIN);
    UPDTMarkNormalShutdown();

    m->stage = 'R';
    UPDTSetProgress(m->stage, 0);
    syslog(LOG_ERR, "Congratulation!! The update has been completed!!");
    UPDTLog("Congratulation!! The update has been completed!!");
    UPDTRemoveBackup();
    return UPDT_SUCCESS;
}
