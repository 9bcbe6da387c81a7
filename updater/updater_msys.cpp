// The MSys engine on the flash road: the partition table from a request on "/dev/mtd0", the
// plan in 16 KiB units, the write and the rollback with dd. The data archive goes to the new
// firmware in every case once the write was tried; none of main's migrations or marks.
#include <errno.h>
#include <stdlib.h>
#include <syslog.h>

#include "updater.h"
#include "updater_flash.h"
#include "updater_msys.h"
#include "updater_road.h"

namespace {

int ReadTable(UPDTFLASHROAD *road)
{
    road->entries.reset(static_cast<KORVMTDFISENTRY *>(calloc(UPDT_MSYS_PARTITIONS, sizeof(KORVMTDFISENTRY))));
    if (!road->entries) {
        syslog(LOG_ERR, "%s(%d): malloc fail, errno = %d", road->func, __LINE__, errno);
        return UPDT_ERR_SPACE;
    }
    int n = UPDTMSysGetPartitionInfo(road->entries.get());
    if (n < 0)
        return UPDT_ERR_FIS_READ;
    road->nEntries = n;
    return 0;
}

int Write(UPDTFLASHROAD *road)
{
    UPDTIgnoreSignals();
    return UPDTMSysDoPatch(road->entries.get(), road->nEntries, &road->repartitioned, *road->stage, &road->changed);
}

int RollBack(UPDTFLASHROAD *road)
{
    return UPDTMSysRollBack(road->entries.get(), road->nEntries, road->repartitioned, *road->stage);
}

}  // namespace

const UPDTFLASHENGINE gUPDTMSysEngine = {
    ReadTable, UPDTMSysInitPatchInfo, Write, RollBack,
    /*preFlashMigrations=*/false, /*photoSteps=*/false, /*handOverAfterFailure=*/true, /*shutdownMark=*/false,
    "UPDTMSysUpdate",  // the name the MSys road's messages have always carried
};
