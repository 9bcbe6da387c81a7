// The backup of the flash before anything changes: every partition of the flash directory as
// one file in "b@ckup", and the end of that directory once the flash is settled.
#include <sys/stat.h>
#include <syslog.h>

#include "updater.h"
#include "updater_flash.h"
#include "updater_patch.h"

std::string UPDTBackupFile(const std::string &name)
{
    return std::string(gszWorkDir) + "/" UPDT_BACKUP_DIR "/mtd_" + name;
}

int UPDTBackupOldPartition(const KORVMTDFISENTRY *entries, int count, char stage)
{
    if (!entries || count <= 0) {
        syslog(LOG_ERR, "%s(%d): parameter error ", __func__, __LINE__);
        return -1;
    }
    std::string cmd = korv::proc::ShellCommand("/bin/rm -rf %s/%s; /bin/mkdir -p %s/%s",
                                               {gszWorkDir, UPDT_BACKUP_DIR, gszWorkDir, UPDT_BACKUP_DIR});
    syslog(LOG_ERR, "szCmd=[%s]", cmd.c_str());
    if (UPDTExecute(cmd.c_str()) != 0)
        return -1;
    for (int i = 0; i < count; ++i) {
        std::string name = UPDTEntryName(entries[i]);
        const char *device = SzUPDTGetDeviceByName(name.c_str());
        if (!device) {
            syslog(LOG_ERR, "%s(%d): fail to get device path", __func__, __LINE__);
            return -1;
        }
        cmd = UPDTDdCommand(device, UPDTBackupFile(name), 16384);
        syslog(LOG_ERR, "%s(%d): command=[%s]", __func__, __LINE__, cmd.c_str());
        if (UPDTExecute(cmd.c_str()) != 0)
            return -1;
        UPDTSetProgress(stage, 30 + 5 * i);
    }
    return 0;
}

int UPDTRemoveBackup(void)
{
    std::string cmd = korv::proc::ShellCommand("/bin/rm -rf %s/%s", {gszWorkDir, UPDT_BACKUP_DIR});
    syslog(LOG_ERR, "szCmd=[%s]", cmd.c_str());
    return UPDTExecute(cmd.c_str());
}

void UPDTKeepBackup(const char *func)
{
    // The flash holds neither firmware whole: these files are what can still put it back.
    std::string dir = std::string(gszWorkDir) + "/" UPDT_BACKUP_DIR;
    syslog(LOG_ERR, "%s(%d): the flash could not be restored; its backup is kept in [%s]", func, __LINE__,
           dir.c_str());
    UPDTLogFormat("The flash could not be restored; its backup is kept in %s", dir.c_str());
}

int UPDTRefuseOldBackup(const char *func)
{
    // A "b@ckup" that outlived its run is what a failed rollback or a killed run left: it may be
    // the only copy of the old firmware, and this run would remove it and back up the flash as
    // it now is.
    std::string dir = std::string(gszWorkDir) + "/" UPDT_BACKUP_DIR;
    struct stat st;
    if (lstat(dir.c_str(), &st) != 0)
        return 0;
    // What the owner does next, in the same line: only they can tell which firmware the flash holds
    // (the new one after a run killed in stage C, the old one after a failed copy into the folder).
    syslog(LOG_ERR,
           "%s(%d): a backup of the flash from an earlier run is in [%s]; it is kept and nothing is updated: when the "
           "flash holds one firmware whole, the old or the new, remove it, else write the old firmware back from it; "
           "then run the update again",
           func, __LINE__, dir.c_str());
    UPDTLogFormat("A backup of the flash from an earlier run is in %s; it is kept and nothing is updated", dir.c_str());
    std::string sentence = "A copy of the old firmware from an earlier update is kept in " + dir +
                           ". Remove it when the flash holds one firmware whole, the old or the new, else have the "
                           "unit restored from it; then update again.";
    UPDTSetExtraMessage(sentence.c_str());
    return UPDT_ERR_BACKUP;
}
