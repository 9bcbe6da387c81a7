// Room on the system partition: the RAID array "/dev/md0", or partition 1 of "/dev/hda".
#include <stdint.h>
#include <syslog.h>

#include "korv/error.h"
#include "korv/raid.h"
#include "updater.h"

namespace {

constexpr int64_t kReserveKiB = 10240;
// Partition 1 of a resizable disk is enlarged to this when the new firmware installs.
constexpr uint64_t kResizableCapacityKiB = 361431;
constexpr uint32_t kResizableAfterSector = 1333331;

}  // namespace

int UPDTIsSysPartitionResizable(int64_t partition1Sectors)
{
    unsigned int start3 = 0, typeId = 0;
    if (RCPartitionConfigs(3, "/dev/hda", &start3, &typeId) < 0) {
        syslog(LOG_ERR, "%s:%d RCPartitionConfigs(/dev/hda3) failed", UPDT_SOURCE, __LINE__);
        return 0;
    }
    if (start3 <= kResizableAfterSector) {
        syslog(LOG_ERR, "%s:%d System Partition is not resizeable. (%lu)", UPDT_SOURCE, __LINE__,
               static_cast<unsigned long>(start3));
        return 0;
    }
    return partition1Sectors == 273042 || partition1Sectors == 530082 ? 1 : 0;
}

int UPDTCheckSysPartitionSize(int64_t extractKiB)
{
    // KiB; 64 bits, since an array of 4 TiB and more does not fit 32.
    uint64_t capacity = 0;
    if (KORVConfSupportRaid()) {
        KORVRAIDINFO *info = nullptr;
        int rc = KORVRaidInfoGet("/dev/md0", &info);
        if (rc != 1) {
            syslog(LOG_ERR, "%s:%d Failed to get RAID info, err=%d, errno=0x%X", UPDT_SOURCE, __LINE__, rc,
                   KORLErrGet());
            return 0;
        }
        capacity = info->sizeBytes >> 10;
        KORVRaidInfoFree(info);
    } else {
        unsigned int start = 0, typeId = 0;
        int64_t sectors = RCPartitionConfigs(1, "/dev/hda", &start, &typeId);
        if (sectors < 0) {
            syslog(LOG_ERR, "%s:%d RCPartitionConfigs(/dev/hda1) failed", UPDT_SOURCE, __LINE__);
            return 0;
        }
        capacity = UPDTIsSysPartitionResizable(sectors) == 1 ? kResizableCapacityKiB
                                                             : static_cast<uint64_t>(sectors) / 2;
    }
    // A size near the top of the range would wrap to a negative need and pass.
    bool fits;
    int64_t required;
    if (extractKiB > INT64_MAX - kReserveKiB) {
        required = INT64_MAX;
        fits = false;
    } else {
        required = extractKiB + kReserveKiB;
        fits = required < 0 || static_cast<uint64_t>(required) <= capacity;
    }
    if (!fits) {
        syslog(LOG_ERR, "%s:%d System Partition is not sufficient. (%llu < %lld)", UPDT_SOURCE, __LINE__,
               static_cast<unsigned long long>(capacity), static_cast<long long>(required));
        return 0;
    }
    return 1;
}
