// The rollback of the RedBoot flash: every partition marked for the write gets back its old
// place and size, its contents from "b@ckup" and its old flash-directory entry. The directory
// comes first, since every other entry is rewritten into it; a partition that cannot be put back
// does not stop the others.
#include <string.h>
#include <strings.h>
#include <syslog.h>

#include <string>
#include <vector>

#include "updater.h"
#include "updater_flash.h"
#include "updater_patch.h"
#include "updater_redboot.h"

namespace {

// Entry i of gPatchInfo put back from the old directory; false after a message.
bool RestoreOne(const char *func, int i, const KORVMTDFISENTRY *entries, int count)
{
    const UPDTPATCHINFO &e = gPatchInfo[i];
    int idx = GetIdxByName(e.name, entries, count);
    if (idx < 0) {
        syslog(LOG_ERR, "%s(%d): get idx of partition %d [%s] fail", func, __LINE__, i, e.name);
        return false;
    }
    const KORVMTDFISENTRY &old = entries[idx];
    const char *device = SzUPDTGetDeviceByName(e.name);
    if (!device) {
        syslog(LOG_ERR, "%s(%d): fail to get device path", func, __LINE__);
        return false;
    }
    if (KORVMTDModifyPartitionSize(device, old.flash_base, old.size) != 0) {
        syslog(LOG_ERR, "%s: KORVMTDModifyPartitionSize() fail", func);
        return false;
    }
    if (KORVMTDUnlockPartition(device) != 0) {
        syslog(LOG_ERR, "%s: unlock [%s] fail", func, device);
        return false;
    }
    syslog(LOG_ERR, "%s:%d(%s) KORVMTDErasePartition(%s)...", UPDT_SOURCE, __LINE__, func, device);
    if (KORVMTDErasePartition(device) != 0) {
        syslog(LOG_ERR, "%s: KORVMTDErasePartition() fail", func);
        return false;
    }
    std::string name = UPDTEntryName(old);
    std::string cmd = UPDTDdCommand(UPDTBackupFile(name), device, 131072);
    syslog(LOG_ERR, "%s(%d): command=[%s]", func, __LINE__, cmd.c_str());
    if (UPDTExecute(cmd.c_str()) != 0)
        return false;
    KORVMTDFISMOD mod {};
    memcpy(mod.name, name.data(), name.size() < sizeof mod.name ? name.size() : sizeof mod.name - 1);
    mod.flash_base = old.flash_base;
    mod.size = old.size;
    mod.data_length = old.data_length;
    if (KORVMTDModifyFISEntry(gszDevMtdPartition, &mod) != 0) {
        syslog(LOG_ERR, "%s: KORVMTDModifyFISEntry() fail", func);
        return false;
    }
    return true;
}

}  // namespace

int UPDTRollBack(const KORVMTDFISENTRY *entries, int count)
{
    if (!entries || count <= 0) {
        syslog(LOG_ERR, "%s(%d): parameter error ", __func__, __LINE__);
        return -1;
    }
    UPDTIgnoreSignals();
    std::vector<int> order;
    for (int i = 0; i < gnPartition; ++i)
        if (strcasecmp(gPatchInfo[i].name, "FIS Directory") == 0)
            order.insert(order.begin(), i);
        else
            order.push_back(i);
    int result = 0;
    for (int i : order) {
        if (gPatchInfo[i].fneedupdate != 1) {
            syslog(LOG_ERR, "%s: skip recoverying [%s]", __func__, gPatchInfo[i].name);
            continue;
        }
        if (!RestoreOne(__func__, i, entries, count))
            result = -1;
    }
    return result;
}
