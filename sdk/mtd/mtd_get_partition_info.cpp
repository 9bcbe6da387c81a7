#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <string.h>
#include <syslog.h>

#include "korv/mtd.h"
#include "korv_le32.h"
#include "mtd_device.h"

namespace {

using korv::Le32Get;

// The stored entry, field by field, into the caller's record (words are little-endian on flash).
KORVMTDFISENTRY unpack(const uint8_t *raw)
{
    KORVMTDFISENTRY e;
    memcpy(e.name, raw, sizeof e.name);
    e.flash_base = Le32Get(raw + 16);
    e.mem_base = Le32Get(raw + 20);
    e.size = Le32Get(raw + 24);
    e.entry_point = Le32Get(raw + 28);
    e.data_length = Le32Get(raw + 32);
    memcpy(e.padding, raw + 36, sizeof e.padding);
    e.desc_cksum = Le32Get(raw + 248);
    e.file_cksum = Le32Get(raw + 252);
    return e;
}

}  // namespace

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
        uint8_t raw[KORV_MTD_FIS_ENTRY_SIZE] = {};
        errno = 0;  // a device that simply ends reports errno 0
        ssize_t n = korv_plat_read(fd.get(), raw, sizeof raw);
        if (n != static_cast<ssize_t>(sizeof raw)) {
            syslog(LOG_ERR, "%s(%d): failed to read from %s(errno = %d)", __func__, __LINE__, device,
                   n < 0 ? errno : 0);
            return -1;
        }
        if (raw[0] == 0xFF) {
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
            KORVMTDFISENTRY e = unpack(raw);
            memcpy(static_cast<uint8_t *>(entries) + (offset - KORV_MTD_FIS_ENTRY_SIZE), &e, sizeof e);
        }
    }
}
