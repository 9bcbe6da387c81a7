// The repair of a known broken flash directory of the junior unit, and the locking of every
// partition.
#include <fcntl.h>
#include <string.h>
#include <strings.h>
#include <syslog.h>

#include <vector>

#include "korv/error.h"
#include "korv/platform.h"
#include "korv_flash_records.h"
#include "korv_io.h"
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

// The entries as the flash stores them: the memory base is the flash base, both checksums 0.
void PackTable(uint8_t *table)
{
    for (const BuiltInEntry &e : kJuniorDirectory) {
        KORVMTDFISENTRY entry;
        memset(&entry, 0, sizeof entry);
        memcpy(entry.name, e.name, strnlen(e.name, sizeof entry.name - 1));
        entry.flash_base = entry.mem_base = e.flash_base;
        entry.size = e.size;
        entry.data_length = e.data_length;
        korv::flash::PackFisEntry(entry, table);
        table += korv::flash::kFisEntrySize;
    }
}

// The directory partition as it stands, to be put back when the new table cannot be written.
bool ReadOld(const char *device, std::vector<unsigned char> *old)
{
    korv::PlatFd fd(korv_plat_open(device, O_RDONLY));
    if (!fd)
        return false;
    uint8_t buf[16384];
    for (;;) {
        korv::IoResult r = korv::PlatReadFull(fd.get(), buf, sizeof buf, {device, old->size()});
        old->insert(old->end(), buf, buf + r.done);
        if (r.err)
            return false;
        if (!r.ok())
            return !old->empty();  // the end of the partition
    }
}

// After a failed write of the new table: the old bytes again, so that the unit keeps the
// directory it had rather than a part of one.
void PutBack(const char *func, const char *device, const std::vector<unsigned char> &old)
{
    bool done = false;
    if (KORVMTDErasePartition(device) == 0) {
        korv::PlatFd fd(korv_plat_open(device, O_WRONLY));
        done = fd && korv::PlatWriteAll(fd.get(), old.data(), old.size(), {device, 0}).ok();
    }
    if (done)
        syslog(LOG_ERR, "%s:%d(%s) the old directory of %s was written back", UPDT_SOURCE, __LINE__, func, device);
    else
        syslog(LOG_ERR, "%s:%d(%s) the old directory of %s could not be written back", UPDT_SOURCE, __LINE__, func,
               device);
}

int WriteTable(const char *func, const char *device, const std::vector<unsigned char> &old)
{
    if (KORVMTDErasePartition(device) != 0) {
        syslog(LOG_ERR, "%s:%d(%s) KORVMTDErasePartition(%s) fail", UPDT_SOURCE, __LINE__, func, device);
        return -1;
    }
    korv::PlatFd fd(korv_plat_open(device, O_WRONLY));
    if (!fd) {
        syslog(LOG_ERR, "%s:%d(%s) open(%s) fail", UPDT_SOURCE, __LINE__, func, device);
        KORLErrSet(KORL_ERR_OPEN);
        PutBack(func, device, old);
        return -1;
    }
    uint8_t table[kTableBytes];
    PackTable(table);
    // A device that takes nothing without an error would never finish: that is a failure too.
    if (!korv::PlatWriteAll(fd.get(), table, sizeof table, {device, 0}).ok()) {
        syslog(LOG_ERR, "%s:%d(%s) write(%s) fail", UPDT_SOURCE, __LINE__, func, device);
        KORLErrSet(KORL_ERR_READ);
        fd.reset();
        PutBack(func, device, old);
        return -1;
    }
    return 0;
}

}  // namespace

int RecoverFISDirTable_410VPlus_V284(void)
{
    const char *device = gszDevMtdPartition;
    UPDTIgnoreSignals();
    int result = -1;
    std::vector<unsigned char> old;
    if (!ReadOld(device, &old))
        syslog(LOG_ERR, "%s:%d(%s) the directory %s cannot be read: it is not rewritten", UPDT_SOURCE, __LINE__,
               __func__, device);
    else if (KORVMTDUnlockPartition(device) != 0)
        syslog(LOG_ERR, "%s:%d(%s) KORVMTDUnlockPartition(%s) fail", UPDT_SOURCE, __LINE__, __func__, device);
    else
        result = WriteTable(__func__, device, old);
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
