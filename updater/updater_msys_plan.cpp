// The plan of an MSys write: the patch-info table filled by position from the partition table,
// in 16 KiB units, with the flash's unit limit.
#include <string.h>
#include <sys/stat.h>
#include <syslog.h>

#include "updater.h"
#include "updater_msys.h"

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
    for (int i = 0; i < gnPartition; ++i) {
        UPDTPATCHINFO &p = gPatchInfo[i];
        const KORVMTDFISENTRY &e = entries[i];
        struct stat st;
        int64_t nblock;
        if (stat(p.file, &st) == 0) {
            p.datalen = static_cast<uint32_t>(st.st_size);
            nblock = (static_cast<int64_t>(st.st_size) + UPDT_MSYS_UNIT - 1) / UPDT_MSYS_UNIT;
            p.fneedupdate = 1;
        } else {
            syslog(LOG_ERR, "%s(%d): file [%s] not included in the patch package ", __func__, __LINE__, p.file);
            p.datalen = e.data_length;
            nblock = (static_cast<int64_t>(p.datalen) + UPDT_MSYS_UNIT - 1) / UPDT_MSYS_UNIT;
            p.fneedupdate = 0;
        }
        p.start = e.flash_base;
        p.size = e.size;
        p.adjust = 0;
        p.balance = static_cast<int32_t>(p.size / UPDT_MSYS_UNIT - nblock);
        syslog(LOG_ERR,
               "PATCHINFO: partition[%s], file[%s], start = [0x%08X], size[0x%08X], datalen=[0x%08X], nblock[%lld], "
               "balance[%d], fneedupdate[%d]",
               p.name, p.file, p.start, p.size, p.datalen, static_cast<long long>(nblock), p.balance, p.fneedupdate);
        total += nblock;
    }
    if (total > UPDT_MSYS_UNITS) {
        syslog(LOG_ERR, "%s(%d): the binary size exceeds flash size limit(total = %lld blocks)", __func__, __LINE__,
               static_cast<long long>(total));
        return -1;
    }
    return 0;
}
