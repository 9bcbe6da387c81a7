// The RedBoot engine on the flash road: the flash directory read through the library, the plan
// from it, the write with its attempts and the rollback of the marked partitions; main's
// migrations before the flash, the photo steps and the clean-shutdown mark belong to this road.
#include <errno.h>
#include <stdlib.h>
#include <syslog.h>

#include "korv_flash_records.h"
#include "updater.h"
#include "updater_main.h"
#include "updater_patch.h"
#include "updater_redboot.h"
#include "updater_road.h"

namespace {

// The erase block the directory's device reports, when it reports one: every block count of the
// plan is in its units, so it must be a power of two of at least 4 KiB. 0 or code 18.
int CheckEraseBlock(const char *func)
{
    const char *device = SzUPDTGetDeviceByName("FIS Directory");
    uint8_t info[korv::flash::kMtdInfoSize];
    if (!device || KORVMTDGetDeviceInfo(device, info, sizeof info) != 0)
        return 0;  // the plan asks again and says so
    uint32_t erase = korv::flash::UnpackMtdInfo(info).erase_size;
    if (erase >= 4096 && (erase & (erase - 1)) == 0)
        return 0;
    syslog(LOG_ERR, "%s(%d): the flash reports an erase block of 0x%08X bytes, not a power of two of 4 KiB or more",
           func, __LINE__, erase);
    return UPDT_ERR_FIS_READ;
}

// The flash directory of the layout (the library unpacks its stored words). 0 or the code.
int ReadDirectory(UPDTFLASHROAD *road)
{
    int size = 0;
    if (KORVMTDGetPartitionInfo(gszDevMtdPartition, nullptr, 0, &size) < 0) {
        syslog(LOG_ERR, "%s(%d): fail to get partition info", road->func, __LINE__);
        return UPDT_ERR_FIS_READ;
    }
    int n = 0;
    if (size > 0) {
        road->entries.reset(static_cast<KORVMTDFISENTRY *>(malloc(static_cast<size_t>(size))));
        if (!road->entries) {
            syslog(LOG_ERR, "%s(%d): malloc fail, errno = %d", road->func, __LINE__, errno);
            return UPDT_ERR_SPACE;
        }
        n = KORVMTDGetPartitionInfo(gszDevMtdPartition, road->entries.get(), size, &size);
        if (n < 0) {
            syslog(LOG_ERR, "%s(%d): fail to get partition info", road->func, __LINE__);
            return UPDT_ERR_FIS_READ;
        }
    }
    road->nEntries = n;
    return CheckEraseBlock(road->func);
}

int Write(UPDTFLASHROAD *road)
{
    return UPDTDoPatch(road->entries.get(), road->nEntries, *road->stage, &road->changed);
}

int RollBack(UPDTFLASHROAD *road)
{
    return UPDTRollBack(road->entries.get(), road->nEntries);
}

}  // namespace

const UPDTFLASHENGINE gUPDTRedBootEngine = {
    ReadDirectory, UPDTInitPatchInfo, Write, RollBack,
    /*preFlashMigrations=*/true, /*photoSteps=*/true, /*handOverAfterFailure=*/false, /*shutdownMark=*/true,
    UPDT_MAIN,
};
