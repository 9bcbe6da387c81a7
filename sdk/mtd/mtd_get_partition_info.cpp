#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <string.h>
#include <syslog.h>

#include "korv/mtd.h"
#include "korv_flash_records.h"
#include "korv_io.h"
#include "mtd_device.h"

extern "C" int KORVMTDGetPartitionInfo(const char *device, void *entries, int entriesSize, int *freeOffset)
{
    using namespace korv::mtd;
    // Counting is a null buffer of size 0; a null buffer with a size is a caller's mistake.
    if (!device || !freeOffset || (entries && entriesSize <= 0) || (!entries && entriesSize != 0)) {
        syslog(LOG_ERR, "%s(%d): parameter error", __func__, __LINE__);
        return -1;
    }
    DeviceFd fd(korv_plat_open(device, O_RDONLY));
    if (!fd) {
        syslog(LOG_ERR, "%s(%d): fail to open mtd device, errno = %d", __func__, __LINE__, errno);
        return -1;
    }
    int count = 0;
    long long offset = 0;
    for (;;) {
        uint8_t raw[korv::flash::kFisEntrySize] = {};
        // A device that simply ends before a free entry reports errno 0.
        korv::IoResult r = korv::PlatReadFull(fd.get(), raw, sizeof raw, {device, static_cast<uint64_t>(offset)});
        if (!r.ok()) {
            syslog(LOG_ERR, "%s(%d): failed to read from %s(errno = %d)", __func__, __LINE__, device, r.err);
            return -1;
        }
        if (korv::flash::FisEntryFree(raw)) {
            *freeOffset = static_cast<int>(offset);
            return count;
        }
        ++count;
        offset += KORV_MTD_FIS_ENTRY_SIZE;
        if (entries) {
            if (offset > entriesSize) {
                syslog(LOG_ERR, "%s(%d): not enough memory", __func__, __LINE__);
                return -1;
            }
            KORVMTDFISENTRY e = korv::flash::UnpackFisEntry(raw);
            memcpy(static_cast<uint8_t *>(entries) + (offset - KORV_MTD_FIS_ENTRY_SIZE), &e, sizeof e);
        }
    }
}
