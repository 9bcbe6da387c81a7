// The flash road of both engines: the migrations before the flash, stage P (directory, plan,
// backup, write), stage C (the photo steps and the configuration stage), the hand-over and
// stage R; after a failed write or configuration stage the rollback, and "b@ckup" removed only
// when the flash is settled.
#include <syslog.h>

#include "updater.h"
#include "updater_config.h"
#include "updater_flash.h"
#include "updater_main.h"
#include "updater_migration.h"
#include "updater_photo.h"
#include "updater_road.h"

namespace {

// The flash back as it was, except in a group update, which made no backup. The backup goes
// only when the flash is settled.
int RollBackAndEnd(const UPDTFLASHENGINE &engine, UPDTFLASHROAD *road, int code)
{
    bool restored = true;
    if (!gfGroupUpdate && !road->changed) {
        // Refused before the first change: the flash holds the old firmware as it was.
        syslog(LOG_ERR, "%s(%d): the flash was not changed: nothing to roll back", road->func, __LINE__);
    } else if (!gfGroupUpdate) {
        if (engine.rollBack(road) < 0) {
            syslog(LOG_ERR, "%s: UPDTRollBack() fail", road->func);
            restored = false;
        }
        syslog(LOG_ERR, "%s(%d): Turn on the reinstall library flag...!!", road->func, __LINE__);
    }
    if (engine.handOverAfterFailure)
        UPDTHandOverArchive(road->func);
    if (restored)
        UPDTRemoveBackup();
    else
        UPDTKeepBackup(road->func);
    return code;
}

}  // namespace

int UPDTRunFlashRoad(const UPDTFLASHENGINE &engine, char *stage)
{
    const char *func = engine.func;
    UPDTFLASHROAD road;
    road.stage = stage;
    road.func = func;
    if (engine.preFlashMigrations)
        if (int code = UPDTRunMigrationSteps(UPDT_STEP_PRE_FLASH))
            return code;

    *stage = 'P';
    UPDTSetProgress(*stage, 0);
    if (int code = engine.readDirectory(&road))
        return code;
    UPDTLogFlashDirectory(road.entries.get(), road.nEntries);
    UPDTSetProgress(*stage, 10);
    if (engine.initPlan(road.entries.get(), road.nEntries) != 0) {
        syslog(LOG_ERR, "%s(%d): fail to initialize patch info ", func, __LINE__);
        return UPDT_ERR_PATCH_INFO;
    }
    UPDTSetProgress(*stage, 20);
    if (!gfGroupUpdate && UPDTBackupOldPartition(road.entries.get(), road.nEntries, *stage) != 0) {
        syslog(LOG_ERR, "%s(%d): fail to backup old patch info ", func, __LINE__);
        return UPDT_ERR_BACKUP;
    }
    UPDTSetProgress(*stage, 60);
    if (engine.write(&road) != 0) {
        syslog(LOG_ERR, "%s(%d): fail to patch new binaries!!", func, __LINE__);
        return RollBackAndEnd(engine, &road, UPDT_ERR_WRITE);
    }
    syslog(LOG_ERR, "%s(%d): Turn on the reinstall library flag...!!", func, __LINE__);
    UPDTSetProgress(*stage, 100);

    *stage = 'C';
    UPDTSetProgress(*stage, 0);
    if (!gfGroupUpdate) {
        if (engine.photoSteps)
            UPDTUpdatePhoto();
        if (UPDTUpdateConfig() != 0)
            return RollBackAndEnd(engine, &road, UPDT_ERR_CONFIG);
    }
    UPDTSetProgress(*stage, 100);
    if (!engine.handOverAfterFailure)
        UPDTHandOverArchive(func);
    if (engine.shutdownMark)
        UPDTMarkNormalShutdown();

    *stage = 'R';
    UPDTSetProgress(*stage, 0);
    syslog(LOG_ERR, "Congratulation!! The update has been completed!!");
    UPDTLog("Congratulation!! The update has been completed!!");
    if (engine.handOverAfterFailure)
        UPDTHandOverArchive(func);
    UPDTRemoveBackup();
    return UPDT_SUCCESS;
}

int UPDTFlashRoad(UPDTMAINSTATE *m)
{
    return UPDTRunFlashRoad(KORVSyscallFlagGet() == 1 ? gUPDTMSysEngine : gUPDTRedBootEngine, &m->stage);
}
