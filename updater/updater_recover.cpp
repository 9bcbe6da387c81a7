// The repair of a known broken flash directory of the junior unit, and the locking of every
// partition.
#include <fcntl.h>
#include <string.h>
#include <strings.h>
#include <syslog.h>

#include "korv/error.h"
#include "korv/platform.h"
#include "korv_le32.h"
#include "korv_plat_fd.h"
#include "updater.h"
#include "updater_flash.h"
#include "updater_redboot.h"

namespace {

struct BuiltInEntry {
    const char *name;
    uint32_t flash_base, size, data_length;
};

// The directory the junior unit's boot loader writes.
const BuiltInEntry kJuniorDirectory[] = {
    {"RedBoot", 0xFFF00000, 0x40000, 0x3A448},
    {"zImage", 0xFFE00000, 0xD0000, 0xC5EDA},
    {"rd.gz", 0xFFF40000, 0xB0000, 0xAEE2C},
    {"vendor", 0xFFED0000, 0x10000, 0x10000},
    {"RedBoot Config", 0xFFEE0000, 0x10000, 0x10000},
    {"FIS Directory", 0xFFFF0000, 0x10000, 0x600},
};
constexpr size_t kTableBytes = sizeof kJuniorDirectory / sizeof kJuniorDirectory[0] * KORV_MTD_FIS_ENTRY_SIZE;
static_assert(kTableBytes == 1536);

// The entries as the flash stores them: little-endian words, both checksums 0.
void PackTable(unsigned char *table)
{
    memset(table, 0, kTableBytes);
    for (const BuiltInEntry &e : kJuniorDirectory) {
        strncpy(reinterpret_cast<char *>(table), e.name, 16);
        korv::Le32Put(table + 16, e.flash_base);
        korv::Le32Put(table + 20, e.flash_base);  // memory base
        korv::Le32Put(table + 24, e.size);
        korv::Le32Put(table + 32, e.data_length);
        table += KORV_MTD_FIS_ENTRY_SIZE;
    }
}

int WriteTable(const char *func, const char *device)
{
    if (KORVMTDErasePartition(device) != 0) {
        syslog(LOG_ERR, "%s:%d(%s) KORVMTDErasePartition(%s) fail", UPDT_SOURCE, __LINE__, func, device);
        return -1;
    }
    korv::PlatFd fd(korv_plat_open(device, O_WRONLY));
    if (!fd) {
        syslog(LOG_ERR, "%s:%d(%s) open(%s) fail", UPDT_SOURCE, __LINE__, func, device);
        KORLErrSet(KORL_ERR_OPEN);
        return -1;
    }
    unsigned char table[kTableBytes];
    PackTable(table);
    for (size_t done = 0; done < sizeof table;) {
        // A device that takes nothing without an error would never finish: that is a failure too.
        ssize_t n = korv_plat_write(fd.get(), table + done, sizeof table - done);
        if (n <= 0) {
            syslog(LOG_ERR, "%s:%d(%s) write(%s) fail", UPDT_SOURCE, __LINE__, func, device);
            KORLErrSet(KORL_ERR_READ);
            return -1;
        }
        done += static_cast<size_t>(n);
    }
    return 0;
}

}  // namespace

int RecoverFISDirTable_410VPlus_V284(void)
{
    const char *device = gszDevMtdPartition;
    UPDTIgnoreSignals();
    int result = -1;
    if (KORVMTDUnlockPartition(device) != 0)
        syslog(LOG_ERR, "%s:%d(%s) KORVMTDUnlockPartition(%s) fail", UPDT_SOURCE, __LINE__, __func__, device);
    else
        result = WriteTable(__func__, device);
    // The directory is locked again whatever happened to it.
    KORVMTDLockPartition(device);
    return result;
}

int UPDTLockAll(int lock)
{
    for (const UPDTDEVICEMAP *m = gDevMap; m->device; ++m) {
        if (m->name && (strcasecmp(m->name, "RedBoot Config") == 0 || strcasecmp(m->name, "FIS Directory") == 0))
            continue;
        if (lock == 1 ? KORVMTDLockPartition(m->device) != 0 : KORVMTDUnlockPartition(m->device) != 0) {
            syslog(LOG_ERR, "%s: %s(%s) fail", __func__, lock == 1 ? "KORVMTDLockPartition" : "KORVMTDUnlockPartition",
                   m->device);
            return -1;
        }
    }
    return 0;
}

int UPDTUnlockAllPartitions(void)
{
    return UPDTLockAll(0);
}

int UPDTLockAllPartitions(void)
{
    return UPDTLockAll(1);
}
