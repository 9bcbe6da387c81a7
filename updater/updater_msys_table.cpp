// The MSys flash's own requests on "/dev/mtd0": its partition table, and the re-partitioning
// of the whole flash.
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <string.h>
#include <syslog.h>

#include "korv/platform.h"
#include "korv_le32.h"
#include "korv_plat_fd.h"
#include "updater.h"
#include "updater_msys.h"

int UPDTMSysGetPartitionInfo(KORVMTDFISENTRY *entries)
{
    unsigned char table[8 * UPDT_MSYS_PARTITIONS] = {};
    korv::PlatFd fd(korv_plat_open("/dev/mtd0", O_RDWR));
    if (!fd) {
        syslog(LOG_ERR, "%s(%d): fail to open /dev/mtd0, errno = %d", __func__, __LINE__, errno);
        return -1;
    }
    if (korv_plat_ioctl(fd.get(), KORV_MSYS_GET_TABLE, table) != 0) {
        syslog(LOG_ERR, "%s(%d): fail to get partition information, errno = %d", __func__, __LINE__, errno);
        return -1;
    }
    uint64_t base = 0;
    for (int i = 0; i < UPDT_MSYS_PARTITIONS; ++i) {
        KORVMTDFISENTRY &e = entries[i];
        memset(&e, 0, sizeof e);
        // A layout of fewer partitions leaves the rest unnamed; the plan refuses it.
        if (i < gnPartition && gPatchInfo[i].name)
            strncpy(e.name, gPatchInfo[i].name, sizeof e.name - 1);
        e.flash_base = static_cast<uint32_t>(base);
        e.size = korv::Le32Get(table + 8 * i);
        e.data_length = korv::Le32Get(table + 8 * i + 4);
        base += e.size;
        // The plan, the re-partitioning and the rollback count in whole units of the flash: a
        // table that is not made of them could not be put back as it was.
        if (e.size == 0 || e.size % UPDT_MSYS_UNIT != 0 || e.data_length > e.size ||
            base > uint64_t(UPDT_MSYS_UNITS) * UPDT_MSYS_UNIT) {
            syslog(LOG_ERR, "%s(%d): partition %d of 0x%08X bytes holding 0x%08X is not whole units of the flash",
                   __func__, __LINE__, i, e.size, e.data_length);
            return -1;
        }
    }
    return UPDT_MSYS_PARTITIONS;
}

int UPDTMSysFormat(const uint32_t *blockCounts, int count)
{
    if (!blockCounts || count != UPDT_MSYS_PARTITIONS) {
        syslog(LOG_ERR, "%s(%d): parameter error", __func__, __LINE__);
        return -1;
    }
    unsigned char record[4 * UPDT_MSYS_PARTITIONS];
    for (int i = 0; i < UPDT_MSYS_PARTITIONS; ++i)
        korv::Le32Put(record + 4 * i, blockCounts[i]);
    korv::PlatFd fd(korv_plat_open("/dev/mtd0", O_RDWR));
    if (!fd) {
        syslog(LOG_ERR, "%s(%d): failed to open /dev/mtd0, errno = %d", __func__, __LINE__, errno);
        return -1;
    }
    // The format request takes the unit count itself, not its address.
    if (korv_plat_ioctl(fd.get(), KORV_MSYS_FORMAT, reinterpret_cast<void *>(static_cast<uintptr_t>(UPDT_MSYS_UNITS))) !=
        0) {
        syslog(LOG_ERR, "%s(%d): failed to format, errno = %d", __func__, __LINE__, errno);
        return -1;
    }
    if (korv_plat_ioctl(fd.get(), KORV_MSYS_PARTITION, record) != 0) {
        syslog(LOG_ERR, "%s(%d): failed to partition, errno = %d", __func__, __LINE__, errno);
        return -1;
    }
    return 0;
}
