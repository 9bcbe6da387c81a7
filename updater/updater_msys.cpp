// The road of a unit whose firmware lives on an MSys flash: its partition table comes from a
// request on "/dev/mtd0". This build reads the table and stops before anything is written.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <syslog.h>

#include "korv/platform.h"
#include "korv_le32.h"
#include "korv_plat_fd.h"
#include "updater.h"

namespace {

constexpr int kMSysPartitions = 8;

}  // namespace

int UPDTMSysGetPartitionInfo(KORVMTDFISENTRY *entries)
{
    unsigned char table[64] = {};
    korv::PlatFd fd(korv_plat_open("/dev/mtd0", O_RDWR));
    if (!fd) {
        syslog(LOG_ERR, "%s(%d): fail to open /dev/mtd0, errno = %d", __func__, __LINE__, errno);
        return -1;
    }
    if (korv_plat_ioctl(fd.get(), KORV_MSYS_GET_TABLE, table) != 0) {
        syslog(LOG_ERR, "%s(%d): fail to get partition information, errno = %d", __func__, __LINE__, errno);
        return -1;
    }
    uint32_t base = 0;
    for (int i = 0; i < kMSysPartitions; ++i) {
        KORVMTDFISENTRY &e = entries[i];
        memset(&e, 0, sizeof e);
        if (gPatchInfo[i].name)
            strncpy(e.name, gPatchInfo[i].name, sizeof e.name - 1);
        e.flash_base = base;
        e.size = korv::Le32Get(table + 8 * i);
        e.data_length = korv::Le32Get(table + 8 * i + 4);
        base += e.size;
    }
    return kMSysPartitions;
}

int UPDTMSysUpdate(char *stage)
{
    KORVMTDFISENTRY entries[kMSysPartitions];
    memset(entries, 0, sizeof entries);
    *stage = 'P';
    UPDTSetProgress(*stage, 0);
    int n = UPDTMSysGetPartitionInfo(entries);
    if (n < 0)
        return UPDT_ERR_FIS_READ;
    UPDTLogFlashDirectory(entries, n);
    return UPDTNoFlashRoad(__func__);
}
