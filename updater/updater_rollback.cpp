// The rollback of the RedBoot flash: every partition marked for the write gets back its old
// place and size, its contents from "b@ckup" and its old flash-directory entry.
#include <string.h>
#include <syslog.h>

#include <string>

#include "updater.h"
#include "updater_flash.h"
#include "updater_patch.h"
#include "updater_redboot.h"

int UPDTRollBack(const KORVMTDFISENTRY *entries, int count)
{
    if (!entries || count <= 0) {
        syslog(LOG_ERR, "%s(%d): parameter error ", __func__, __LINE__);
        return -1;
    }
    UPDTIgnoreSignals();
    for (int i = 0; i < gnPartition; ++i) {
        const UPDTPATCHINFO &e = gPatchInfo[i];
        if (e.fneedupdate != 1) {
            syslog(LOG_ERR, "%s: skip recoverying [%s]", __func__, e.name);
            continue;
        }
        int idx = GetIdxByName(e.name, entries, count);
        if (idx < 0) {
            syslog(LOG_ERR, "%s(%d): get idx of partition %d [%s] fail", __func__, __LINE__, i, e.name);
            return -1;
        }
        const KORVMTDFISENTRY &old = entries[idx];
        const char *device = SzUPDTGetDeviceByName(e.name);
        if (!device) {
            syslog(LOG_ERR, "%s(%d): fail to get device path", __func__, __LINE__);
            return -1;
        }
        if (KORVMTDModifyPartitionSize(device, old.flash_base, old.size) != 0) {
            syslog(LOG_ERR, "%s: KORVMTDModifyPartitionSize() fail", __func__);
            return -1;
        }
        if (KORVMTDUnlockPartition(device) != 0) {
            syslog(LOG_ERR, "%s: unlock [%s] fail", __func__, device);
            return -1;
        }
        syslog(LOG_ERR, "%s:%d(%s) KORVMTDErasePartition(%s)...", UPDT_SOURCE, __LINE__, __func__, device);
        if (KORVMTDErasePartition(device) != 0) {
            syslog(LOG_ERR, "%s: KORVMTDErasePartition() fail", __func__);
            return -1;
        }
        std::string name = UPDTEntryName(old);
        std::string cmd = UPDTDdCommand(UPDTBackupFile(name), device, 131072);
        syslog(LOG_ERR, "%s(%d): command=[%s]", __func__, __LINE__, cmd.c_str());
        if (UPDTExecute(cmd.c_str()) != 0)
            return -1;
        KORVMTDFISMOD mod {};
        memcpy(mod.name, name.data(), name.size() < sizeof mod.name ? name.size() : sizeof mod.name - 1);
        mod.flash_base = old.flash_base;
        mod.size = old.size;
        mod.data_length = old.data_length;
        if (KORVMTDModifyFISEntry(gszDevMtdPartition, &mod) != 0) {
            syslog(LOG_ERR, "%s: KORVMTDModifyFISEntry() fail", __func__);
            return -1;
        }
    }
    return 0;
}
