// The flash road, chosen by system call 401: the MSys engine, or the RedBoot road from its flash
// directory on. This build reads the directory and stops before anything is written.
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <syslog.h>

#include "korv_le32.h"
#include "updater.h"
#include "updater_main.h"

namespace {

// Entries as the flash stores them: little-endian words, whatever the host.
void DecodeEntries(KORVMTDFISENTRY *entries, int count)
{
    for (int i = 0; i < count; ++i) {
        const auto *raw = reinterpret_cast<const unsigned char *>(&entries[i]);
        KORVMTDFISENTRY e;
        memcpy(&e, raw, sizeof e);
        e.flash_base = korv::Le32Get(raw + 16);
        e.mem_base = korv::Le32Get(raw + 20);
        e.size = korv::Le32Get(raw + 24);
        e.entry_point = korv::Le32Get(raw + 28);
        e.data_length = korv::Le32Get(raw + 32);
        e.desc_cksum = korv::Le32Get(raw + 248);
        e.file_cksum = korv::Le32Get(raw + 252);
        entries[i] = e;
    }
}

// Reads the flash directory of the layout into m. 0 or the code.
int ReadFlashDirectory(UPDTMAINSTATE *m)
{
    int size = 0;
    if (KORVMTDGetPartitionInfo(gszDevMtdPartition, nullptr, 0, &size) < 0) {
        syslog(LOG_ERR, "%s(%d): fail to get partition info", UPDT_MAIN, __LINE__);
        return UPDT_ERR_FIS_READ;
    }
    int n = 0;
    if (size > 0) {
        m->entries.reset(static_cast<KORVMTDFISENTRY *>(malloc(static_cast<size_t>(size))));
        if (!m->entries) {
            syslog(LOG_ERR, "%s(%d): malloc fail, errno = %d", UPDT_MAIN, __LINE__, errno);
            return UPDT_ERR_SPACE;
        }
        n = KORVMTDGetPartitionInfo(gszDevMtdPartition, m->entries.get(), size, &size);
        if (n < 0) {
            syslog(LOG_ERR, "%s(%d): fail to get partition info", UPDT_MAIN, __LINE__);
            return UPDT_ERR_FIS_READ;
        }
        DecodeEntries(m->entries.get(), n);
    }
    m->nEntries = n;
    UPDTLogFlashDirectory(m->entries.get(), n);
    return 0;
}

}  // namespace

void UPDTLogFlashDirectory(const KORVMTDFISENTRY *entries, int count)
{
    syslog(LOG_ERR, "number of partitions = [%d]", count);
    // A name fills at most its 16 bytes, with or without a NUL.
    for (int i = 0; i < count; ++i)
        syslog(LOG_ERR, "[%.16s]  0x%08lX  0x%08lX  0x%08lX\n", entries[i].name,
               static_cast<unsigned long>(entries[i].flash_base), static_cast<unsigned long>(entries[i].size),
               static_cast<unsigned long>(entries[i].data_length));
}

// Until the flash engines are in, a run stops where they would begin: with nothing written, it
// must not report an update.
int UPDTNoFlashRoad(const char *func)
{
    syslog(LOG_ERR, "%s(%d): this build has no flash road yet: nothing was written to the flash", func, __LINE__);
    UPDTLog("This build has no flash road yet: nothing was written to the flash.");
    return UPDT_ERR_PATCH_INFO;
}

int UPDTFlashRoad(UPDTMAINSTATE *m)
{
    if (KORVSyscallFlagGet() == 1)
        return UPDTMSysUpdate(&m->stage);
    m->stage = 'P';
    UPDTSetProgress(m->stage, 0);
    if (int code = ReadFlashDirectory(m))
        return code;
    return UPDTNoFlashRoad(UPDT_MAIN);
}
