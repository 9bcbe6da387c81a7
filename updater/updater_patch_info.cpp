// The patch-info table: one entry per partition of the layout, filled from the flash directory
// and the images of the package, and the lookups by partition name.
#include <limits.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <syslog.h>

#include "korv_flash_records.h"
#include "updater_patch.h"

namespace {

const char *const kFixedPartitions[] = {"korvcfg", "vendor", "RedBoot Config", "FIS Directory"};

// A directory entry's name against a name, case ignored; the entry's name is at most 16 bytes.
bool NameIs(const KORVMTDFISENTRY &entry, const char *name)
{
    size_t len = strnlen(entry.name, sizeof entry.name);
    return strlen(name) == len && strncasecmp(entry.name, name, len) == 0;
}

int32_t ClampInt32(int64_t v)
{
    return v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : static_cast<int32_t>(v);
}

}  // namespace

std::string UPDTEntryName(const KORVMTDFISENTRY &entry)
{
    return std::string(entry.name, strnlen(entry.name, sizeof entry.name));
}

int GetIdxByName(const char *name, const KORVMTDFISENTRY *entries, int count)
{
    if (!name || !entries) {
        syslog(LOG_ERR, "%s(%d): parameter error", __func__, __LINE__);
        return -1;
    }
    for (int i = 0; i < count; ++i)
        if (NameIs(entries[i], name))
            return i;
    syslog(LOG_ERR, "%s(%d): unknown partition name [%s]", __func__, __LINE__, name);
    return -1;
}

const char *SzUPDTGetDeviceByName(const char *name)
{
    if (!name) {
        syslog(LOG_ERR, "%s(%d): parameter error", __func__, __LINE__);
        return nullptr;
    }
    for (const UPDTDEVICEMAP *m = gDevMap; m->name; ++m)
        if (strcasecmp(m->name, name) == 0)
            return m->device;
    syslog(LOG_ERR, "%s(%d): unknown partition name [%s]", __func__, __LINE__, name);
    return nullptr;
}

int UPDTIsNeedResize(const UPDTPATCHINFO *table, int count)
{
    for (int i = 0; table && i < count; ++i)
        if (table[i].balance < 0)
            return 1;
    return 0;
}

int UPDTIsFixedPartition(const char *name)
{
    if (!name)
        return 0;
    for (const char *fixed : kFixedPartitions)
        if (strcasecmp(fixed, name) == 0)
            return 1;
    return 0;
}

std::string UPDTImagePath(const char *file)
{
    return std::string(gszWorkDir) + "/" + (file ? file : "");
}

int64_t UPDTFillPatchEntry(const char *func, UPDTPATCHINFO *entry, const KORVMTDFISENTRY *dir, const char *label,
                           uint32_t eraseBlock)
{
    const uint64_t block = eraseBlock;
    uint64_t nblock;
    struct stat st {};
    if (stat(UPDTImagePath(entry->file).c_str(), &st) == 0) {
        uint64_t bytes = static_cast<uint64_t>(st.st_size);
        entry->datalen = static_cast<uint32_t>(bytes);
        nblock = (bytes + block - 1) / block;
        entry->fneedupdate = 1;
    } else {
        syslog(LOG_ERR, "%s(%d): file [%s] not included in the patch package ", func, __LINE__, entry->file);
        entry->datalen = dir->data_length;
        nblock = (uint64_t(entry->datalen) + block - 1) / block;
        entry->fneedupdate = 0;
    }
    entry->start = dir->flash_base;
    entry->size = dir->size;
    entry->adjust = 0;
    entry->balance = ClampInt32(static_cast<int64_t>(entry->size / block) - static_cast<int64_t>(nblock));
    syslog(LOG_ERR,
           "PATCHINFO: %s[%s], file[%s], start = [0x%08X], size[0x%08X], datalen=[0x%08X], nblock[%lld], "
           "balance[%d], fneedupdate[%d]",
           label, entry->name, entry->file, entry->start, entry->size, entry->datalen, static_cast<long long>(nblock),
           entry->balance, entry->fneedupdate);
    return static_cast<int64_t>(nblock);
}

int UPDTInitPatchInfo(const KORVMTDFISENTRY *entries, int count)
{
    if (!entries || count <= 0) {
        syslog(LOG_ERR, "%s(%d): parameter error ", __func__, __LINE__);
        return -1;
    }
    const char *device = SzUPDTGetDeviceByName("FIS Directory");
    unsigned char info[KORV_MTD_INFO_SIZE];
    if (!device || KORVMTDGetDeviceInfo(device, info, sizeof info) != 0) {
        syslog(LOG_ERR, "%s(%d): fail to get device info", __func__, __LINE__);
        return -1;
    }
    gEraseBlockSize = korv::flash::UnpackMtdInfo(info).erase_size;
    if (gEraseBlockSize == 0) {
        syslog(LOG_ERR, "%s(%d): gEraseBlockSize == 0", __func__, __LINE__);
        return -1;
    }

    uint32_t dirBase = 0, dirSize = 0, kernelBase = 0;
    bool haveDir = false, haveKernel = false;
    for (int i = 0; i < count; ++i) {
        if (NameIs(entries[i], "FIS Directory")) {
            dirBase = entries[i].flash_base;
            dirSize = entries[i].size;
            haveDir = true;
        } else if (NameIs(entries[i], "zImage")) {
            kernelBase = entries[i].flash_base;
            haveKernel = true;
        }
    }
    // Without either entry there is no flash to measure, wherever the directory lies.
    if (!haveDir || !haveKernel || !(dirBase > kernelBase && dirSize != 0)) {
        syslog(LOG_ERR, "%s(%d): ulAddrMtd7 = %lx, ulAddrMtd0 = %lx, ulSizeMtd7 = %lx", __func__, __LINE__,
               static_cast<unsigned long>(dirBase), static_cast<unsigned long>(kernelBase),
               static_cast<unsigned long>(dirSize));
        syslog(LOG_ERR, "%s(%d): flashsize == 0", __func__, __LINE__);
        return -1;
    }
    // From the kernel partition to the directory's end; the directory may end at the top of
    // the address space, where the sum wraps to 0.
    uint32_t flashsize = dirBase + dirSize - kernelBase;
    if (flashsize == 0) {
        syslog(LOG_ERR, "%s(%d): flashsize == 0", __func__, __LINE__);
        return -1;
    }
    syslog(LOG_ERR, "flashsize = 0x%08X, eraseblock = 0x%08X", flashsize, gEraseBlockSize);

    int64_t total = 0;
    for (int i = 0; i < gnPartition; ++i) {
        UPDTPATCHINFO *entry = &gPatchInfo[i];
        int idx = GetIdxByName(entry->name, entries, count);
        if (idx < 0) {
            syslog(LOG_ERR, "%s(%d): get idx of partition %d [%s] fail", __func__, __LINE__, i, entry->name);
            return -1;
        }
        total += UPDTFillPatchEntry(__func__, entry, &entries[idx], "part", gEraseBlockSize);
    }
    if (total > static_cast<int64_t>(flashsize / gEraseBlockSize)) {
        syslog(LOG_ERR, "%s(%d): the binary size exceeds flash size limit(total = %lld)", __func__, __LINE__,
               static_cast<long long>(total));
        return -1;
    }
    return 0;
}
