// The table of the run's migrations. A new migration is one row here and its step's file.
#include <dirent.h>
#include <string.h>
#include <strings.h>

#include "korv/file.h"
#include "korv/net.h"
#include "updater.h"
#include "updater_config.h"
#include "updater_migration.h"
#include "updater_photo.h"
#include "updater_preflash.h"
#include "updater_redboot.h"

namespace {

const char kModel410[] = "korvadyn_powerpc_410v+_1hd";

// The models whose installed system may still have the "/writeable" layout.
const char *const kOldLayoutModels[] = {
    "pellorin_ixp420_1hd",
    "korvadyn_ixp420_1hd",
    kModel410,
    "pellorin_powerpc_1hd",
};

bool OldLayout(const UPDTFLAGINPUT *in)
{
    bool model = false;
    for (const char *m : kOldLayoutModels)
        model = model || (in->pkgUnique && strcasecmp(in->pkgUnique, m) == 0);
    if (!model)
        return false;
    DIR *dir = opendir("/writeable");
    if (!dir)
        return false;
    closedir(dir);
    return true;
}

// The junior unit of the model whose boot loader wrote a broken flash directory.
bool BrokenJuniorDirectory(const UPDTFLAGINPUT *in)
{
    return in->junior && in->orgUnique && strncasecmp(in->orgUnique, kModel410, 32) == 0;
}

// "bond0" is the only interface up and carries no MTU setting of its own yet.
bool Bond0NeedsMtu(const UPDTFLAGINPUT *)
{
    KORVNETIFINFO interfaces[8];
    memset(interfaces, 0, sizeof interfaces);
    if (KORVNetGetInterfaceInfo(interfaces, 8, 2) != 1 || strcmp(interfaces[0].szIfName, "bond0") != 0)
        return false;
    char mtu[16] = {};
    return KORLFileGetKeyValue(KORV_INFO_CONF, "bond0_mtu", mtu, sizeof mtu, 0) == 0;
}

constexpr int kFrom = UPDT_ANY_BUILD_FROM;
constexpr int kTo = UPDT_ANY_BUILD_TO;

}  // namespace

const UPDTMIGRATION gUPDTMigrations[] = {
    // Decided by the analysis, on every installed system and inside the installer (gfOldLayout's
    // row stands among the configuration steps below, in its step's place).
    {"gfRecoverFIS", 1, 284, 284, BrokenJuniorDirectory, UPDT_BY_ANALYSIS, UPDT_STEP_PRE_FLASH, UPDT_FAIL_RUN,
     UPDT_ERR_WRITE, RecoverFISDirTable_410VPlus_V284},
    // Starts set (its decision's last field): the analysis clears it for the oldest builds.
    {"gfDriverBuffer", 0, kFrom, 350, nullptr, UPDT_BY_ANALYSIS, UPDT_STEP_GUARD, UPDT_FAIL_LOGS, 0, nullptr, 1},

    // Decided by UPDTSetUpgradeFlags from the installed build, but where a row says otherwise.
    {"gfPhotoDbUpgrade", UPDT_PHOTO_DB_TABLES, 401, 424, nullptr, UPDT_BY_BUILD, UPDT_STEP_PHOTO_DB, UPDT_FAIL_LOGS,
     0, UpdatePhotoImageTables},
    {"gfPhotoDbUpgrade", UPDT_PHOTO_DB_VIDEO, 401, 481, nullptr, UPDT_BY_BUILD, UPDT_STEP_PHOTO_DB, UPDT_FAIL_LOGS,
     0, CreatePhotoVideoTables},
    {"gfDropMediaServerDb", 1, kFrom, 867, nullptr, UPDT_BY_BUILD, UPDT_STEP_PHOTO_DB, UPDT_FAIL_LOGS, 0,
     DropMediaServerDb},
    {"gfDumpPgsqlDbs", 1, kFrom, 882, nullptr, UPDT_BY_BUILD, UPDT_STEP_PHOTO_DB, UPDT_FAIL_LOGS, 0, DumpPgsqlDbs},
    {"gfRemoveRcAtalk", 1, kFrom, 107, nullptr, UPDT_BY_BUILD, UPDT_STEP_CONFIG, UPDT_FAIL_STAGE, 0,
     UPDTConfigRemoveRcAtalk},
    {"gfRemovePapdConf", 1, kFrom, 210, nullptr, UPDT_BY_BUILD, UPDT_STEP_CONFIG, UPDT_FAIL_STAGE, 0,
     UPDTConfigRemovePapdConf},
    {"gfFtpSystemAccounts", 1, kFrom, 229, nullptr, UPDT_BY_BUILD, UPDT_STEP_CONFIG, UPDT_FAIL_STAGE, 0,
     UPDTConfigFtpSystemAccounts},
    {"gfRemoveProfile", 1, kFrom, 250, nullptr, UPDT_BY_BUILD, UPDT_STEP_CONFIG, UPDT_FAIL_STAGE, 0,
     UPDTConfigRemoveProfile},
    {"gfRemoveJumboFrameRc", 1, kFrom, 251, nullptr, UPDT_BY_BUILD, UPDT_STEP_CONFIG, UPDT_FAIL_STAGE, 0,
     UPDTConfigRemoveJumboFrameRc},
    // Steps of every update and the old layout's step, in the stage's order: the analysis
    // decides these rows, also inside the installer.
    {"gfRemoveManutilConf", 1, kFrom, kTo, nullptr, UPDT_BY_ANALYSIS, UPDT_STEP_CONFIG, UPDT_FAIL_STAGE, 0,
     UPDTConfigRemoveManutilConf},
    {"gfOldLayout", 1, kFrom, 261, OldLayout, UPDT_BY_ANALYSIS, UPDT_STEP_CONFIG, UPDT_FAIL_STAGE, 0,
     UPDTConfigOldLayout},
    {"gfRemovePhpIni", 1, kFrom, kTo, nullptr, UPDT_BY_ANALYSIS, UPDT_STEP_CONFIG, UPDT_FAIL_LOGS, 0,
     UPDTConfigRemovePhpIni},
    {"gfCrontabFilters", 1, kFrom, kTo, nullptr, UPDT_BY_ANALYSIS, UPDT_STEP_CONFIG, UPDT_FAIL_LOGS, 0,
     UPDTConfigCrontabFilters},
    {"gfMtuValueCap", 1, kFrom, 308, nullptr, UPDT_BY_BUILD, UPDT_STEP_CONFIG, UPDT_FAIL_LOGS, 0,
     UPDTConfigMtuValueCap},
    {"gfMtuValueToEth0", 1, kFrom, 547, nullptr, UPDT_BY_BUILD, UPDT_STEP_CONFIG, UPDT_FAIL_LOGS, 0,
     UPDTConfigMtuValueToEth0},
    {"gfPasswdHomes", 1, kFrom, 770, nullptr, UPDT_BY_BUILD, UPDT_STEP_CONFIG, UPDT_FAIL_LOGS, 0,
     UPDTConfigPasswdHomes},
    {"gfUserConfFile", 1, kFrom, 770, nullptr, UPDT_BY_BUILD, UPDT_STEP_CONFIG, UPDT_FAIL_LOGS, 0,
     UPDTConfigUserConfFile},
    {"gfMailAccounts", 1, kFrom, 775, nullptr, UPDT_BY_BUILD, UPDT_STEP_CONFIG, UPDT_FAIL_LOGS, 0,
     UPDTConfigMailAccounts},
    {"gfBond0Mtu", 1, kFrom, 865, Bond0NeedsMtu, UPDT_BY_BUILD, UPDT_STEP_CONFIG, UPDT_FAIL_LOGS, 0,
     UPDTConfigBond0Mtu},
    {"gfFtpWriteOnly", 1, kFrom, 867, nullptr, UPDT_BY_BUILD, UPDT_STEP_CONFIG, UPDT_FAIL_LOGS, 0,
     UPDTConfigFtpWriteOnly},
    {"gfBondAlbToActiveBackup", 1, kFrom, 886, nullptr, UPDT_BY_BUILD, UPDT_STEP_CONFIG, UPDT_FAIL_LOGS, 0,
     UPDTConfigBondAlbToActiveBackup},
    {"gfFtpDenyToAutoBlock", 1, kFrom, 886, nullptr, UPDT_BY_BUILD, UPDT_STEP_CONFIG, UPDT_FAIL_LOGS, 0,
     UPDTConfigFtpDenyToAutoBlock},
    {"gfSqueezeErrmsgLinks", 1, kFrom, 887, nullptr, UPDT_BY_BUILD, UPDT_STEP_CONFIG, UPDT_FAIL_LOGS, 0,
     UPDTConfigSqueezeErrmsgLinks},
    {"gfRemoveEventTest", 1, kFrom, 902, nullptr, UPDT_BY_BUILD, UPDT_STEP_CONFIG, UPDT_FAIL_LOGS, 0,
     UPDTConfigRemoveEventTest},
    {"gfFtpPassiveRange", 1, kFrom, 659, nullptr, UPDT_BY_BUILD, UPDT_STEP_PRE_FLASH, UPDT_FAIL_RUN,
     UPDT_ERR_FTP_PORTS, UpdateFTPPassivePortRange},
    {"gfRsyncdConf", 1, kFrom, 483, nullptr, UPDT_BY_BUILD, UPDT_STEP_PRE_FLASH, UPDT_FAIL_LOGS, 0,
     UpdateRsyncdConf},
    {"gfRsyncdSecrets", 1, kFrom, 552, nullptr, UPDT_BY_BUILD, UPDT_STEP_PRE_FLASH, UPDT_FAIL_LOGS, 0,
     CheckAndUpdateRsyncdSecrets},
    {"gfSmmspGroup", 1, kFrom, 555, nullptr, UPDT_BY_BUILD, UPDT_STEP_PRE_FLASH, UPDT_FAIL_LOGS, 0,
     CheckAndUpdateSmmspGroup},
    {"gfUsbBackup", 1, kFrom, 681, nullptr, UPDT_BY_BUILD, UPDT_STEP_PRE_FLASH, UPDT_FAIL_LOGS, 0,
     ConvertUSBBackupToLocalBackup},
    {"gfPhotoEaDir", 1, kFrom, 702, nullptr, UPDT_BY_BUILD, UPDT_STEP_PHOTO, UPDT_FAIL_LOGS, 0, UpdatePhotoEaDir},
    {"gfNetBackupSets", 1, kFrom, 770, nullptr, UPDT_BY_BUILD, UPDT_STEP_PRE_FLASH, UPDT_FAIL_LOGS, 0,
     UpdateNetBackupSets},
    {"gfCodepage", 1, kFrom, 807, nullptr, UPDT_BY_BUILD, UPDT_STEP_PRE_FLASH, UPDT_FAIL_LOGS, 0,
     UpdateCodepages},
};

const int gnUPDTMigrations = static_cast<int>(sizeof gUPDTMigrations / sizeof gUPDTMigrations[0]);

// The rows' flags that the analysis, the guards and the end path read by name.
int &gfDriverBuffer = *UPDTFlagNamed("gfDriverBuffer");
int &gfRecoverFIS = *UPDTFlagNamed("gfRecoverFIS");
int &gfOldLayout = *UPDTFlagNamed("gfOldLayout");
