// The updater's run state as the in-process tests see it: every migration flag by name, and a
// reset to the values of a fresh process (a test program may run several cases in one process).
#pragma once

#include <string.h>

#include <string>
#include <vector>

#include "updater.h"

namespace updatertest {

struct FlagRef {
    const char *name;
    int *flag;
};

inline const std::vector<FlagRef> &migration_flags()
{
    static const std::vector<FlagRef> flags = {
        {"gfPhotoDbUpgrade", &gfPhotoDbUpgrade},
        {"gfDropMediaServerDb", &gfDropMediaServerDb},
        {"gfDumpPgsqlDbs", &gfDumpPgsqlDbs},
        {"gfRemoveRcAtalk", &gfRemoveRcAtalk},
        {"gfRemovePapdConf", &gfRemovePapdConf},
        {"gfFtpSystemAccounts", &gfFtpSystemAccounts},
        {"gfRemoveProfile", &gfRemoveProfile},
        {"gfRemoveJumboFrameRc", &gfRemoveJumboFrameRc},
        {"gfMtuValueCap", &gfMtuValueCap},
        {"gfMtuValueToEth0", &gfMtuValueToEth0},
        {"gfPasswdHomes", &gfPasswdHomes},
        {"gfUserConfFile", &gfUserConfFile},
        {"gfMailAccounts", &gfMailAccounts},
        {"gfBond0Mtu", &gfBond0Mtu},
        {"gfFtpWriteOnly", &gfFtpWriteOnly},
        {"gfBondAlbToActiveBackup", &gfBondAlbToActiveBackup},
        {"gfFtpDenyToAutoBlock", &gfFtpDenyToAutoBlock},
        {"gfSqueezeErrmsgLinks", &gfSqueezeErrmsgLinks},
        {"gfRemoveEventTest", &gfRemoveEventTest},
        {"gfFtpPassiveRange", &gfFtpPassiveRange},
        {"gfRsyncdConf", &gfRsyncdConf},
        {"gfRsyncdSecrets", &gfRsyncdSecrets},
        {"gfSmmspGroup", &gfSmmspGroup},
        {"gfUsbBackup", &gfUsbBackup},
        {"gfPhotoEaDir", &gfPhotoEaDir},
        {"gfNetBackupSets", &gfNetBackupSets},
        {"gfCodepage", &gfCodepage},
    };
    return flags;
}

// The names of the migration flags that are not 0, in table order.
inline std::vector<std::string> flags_set()
{
    std::vector<std::string> names;
    for (const auto &f : migration_flags())
        if (*f.flag)
            names.push_back(f.name);
    return names;
}

inline void reset_run_state()
{
    for (const auto &f : migration_flags())
        *f.flag = 0;
    gfGroupUpdate = gfJunior = gfInstaller = gfRecoverFIS = gfOldLayout = 0;
    gfDriverBuffer = 1;
    strcpy(gszVolume, "/volume1");
    strcpy(gszWorkDir, "/volume1/upd@te");
}

}  // namespace updatertest
