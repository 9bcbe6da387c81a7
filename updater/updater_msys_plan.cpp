// The plan of an MSys write: the patch-info table filled by position from the partition table,
// in 16 KiB units, with the flash's unit limit.
#include <syslog.h>

#include "updater.h"
#include "updater_msys.h"
#include "updater_patch.h"

int UPDTMSysInitPatchInfo(const KORVMTDFISENTRY *entries, int count)
{
    if (!entries || count <= 0) {
        syslog(LOG_ERR, "%s(%d): parameter error ", __func__, __LINE__);
        return -1;
    }
    // Partition i is /dev/mtdi of the 8-partition layout: any other layout would write images
    // into the wrong partitions.
    if (count != UPDT_MSYS_PARTITIONS || gnPartition != UPDT_MSYS_PARTITIONS) {
        syslog(LOG_ERR, "%s(%d): the MSys flash needs the layout of %d partitions, not of %d", __func__, __LINE__,
               UPDT_MSYS_PARTITIONS, gnPartition);
        return -1;
    }
    gEraseBlockSize = UPDT_MSYS_UNIT;
    syslog(LOG_ERR, "Available flash units = %d blocks, eraseblock = %d bytes", UPDT_MSYS_UNITS,
           static_cast<int>(UPDT_MSYS_UNIT));

    int64_t total = 0;
    for (int i = 0; i < gnPartition; ++i)
        total += UPDTFillPatchEntry(__func__, &gPatchInfo[i], &entries[i], "partition", gEraseBlockSize);
    if (total > UPDT_MSYS_UNITS) {
        syslog(LOG_ERR, "%s(%d): the binary size exceeds flash size limit(total = %lld blocks)", __func__, __LINE__,
               static_cast<long long>(total));
        return -1;
    }
    return 0;
}
