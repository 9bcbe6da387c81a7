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

// A row's flag by its member of the run's flags: a name no member has does not build.
#define UPDT_FLAG(member) #member, &UPDTFLAGS::member

constexpr UPDTMIGRATION gUPDTMigrations[] = {
    // Decided by the analysis, on every installed system and inside the installer (gfOldLayout's
    // row stands among the configuration steps below, in its step's place).
    {UPDT_FLAG(gfRecoverFIS), 1, 284, 284, BrokenJuniorDirectory, UPDT_BY_ANALYSIS, UPDT_STEP_PRE_FLASH, UPDT_FAIL_RUN,
     UPDT_ERR_WRITE, RecoverFISDirTable_410VPlus_V284},
    // Starts set: the analysis clears it for the oldest builds.
    {UPDT_FLAG(gfDriverBuffer), 0, kFrom, 350, nullptr, UPDT_BY_ANALYSIS, UPDT_STEP_GUARD, UPDT_FAIL_LOGS, 0, nullptr},

    // Decided by UPDTSetUpgradeFlags from the installed build, but where a row says otherwise.
    {UPDT_FLAG(gfPhotoDbUpgrade), UPDT_PHOTO_DB_TABLES, 401, 424, nullptr, UPDT_BY_BUILD, UPDT_STEP_PHOTO_DB,
     UPDT_FAIL_LOGS, 0, UpdatePhotoImageTables},
    {UPDT_FLAG(gfPhotoDbUpgrade), UPDT_PHOTO_DB_VIDEO, 401, 481, nullptr, UPDT_BY_BUILD, UPDT_STEP_PHOTO_DB,
     UPDT_FAIL_LOGS, 0, CreatePhotoVideoTables},
    {UPDT_FLAG(gfDropMediaServerDb), 1, kFrom, 867, nullptr, UPDT_BY_BUILD, UPDT_STEP_PHOTO_DB, UPDT_FAIL_LOGS, 0,
     DropMediaServerDb},
    {UPDT_FLAG(gfDumpPgsqlDbs), 1, kFrom, 882, nullptr, UPDT_BY_BUILD, UPDT_STEP_PHOTO_DB, UPDT_FAIL_LOGS, 0,
     DumpPgsqlDbs},
    {UPDT_FLAG(gfRemoveRcAtalk), 1, kFrom, 107, nullptr, UPDT_BY_BUILD, UPDT_STEP_CONFIG, UPDT_FAIL_STAGE, 0,
     UPDTConfigRemoveRcAtalk},
    {UPDT_FLAG(gfRemovePapdConf), 1, kFrom, 210, nullptr, UPDT_BY_BUILD, UPDT_STEP_CONFIG, UPDT_FAIL_STAGE, 0,
     UPDTConfigRemovePapdConf},
    {UPDT_FLAG(gfFtpSystemAccounts), 1, kFrom, 229, nullptr, UPDT_BY_BUILD, UPDT_STEP_CONFIG, UPDT_FAIL_STAGE, 0,
     UPDTConfigFtpSystemAccounts},
    {UPDT_FLAG(gfRemoveProfile), 1, kFrom, 250, nullptr, UPDT_BY_BUILD, UPDT_STEP_CONFIG, UPDT_FAIL_STAGE, 0,
     UPDTConfigRemoveProfile},
    {UPDT_FLAG(gfRemoveJumboFrameRc), 1, kFrom, 251, nullptr, UPDT_BY_BUILD, UPDT_STEP_CONFIG, UPDT_FAIL_STAGE, 0,
     UPDTConfigRemoveJumboFrameRc},
    // Steps of every update and the old layout's step, in the stage's order: the analysis
    // decides these rows, also inside the installer.
    {UPDT_FLAG(gfRemoveManutilConf), 1, kFrom, kTo, nullptr, UPDT_BY_ANALYSIS, UPDT_STEP_CONFIG, UPDT_FAIL_STAGE, 0,
     UPDTConfigRemoveManutilConf},
    {UPDT_FLAG(gfOldLayout), 1, kFrom, 261, OldLayout, UPDT_BY_ANALYSIS, UPDT_STEP_CONFIG, UPDT_FAIL_STAGE, 0,
     UPDTConfigOldLayout},
    {UPDT_FLAG(gfRemovePhpIni), 1, kFrom, kTo, nullptr, UPDT_BY_ANALYSIS, UPDT_STEP_CONFIG, UPDT_FAIL_LOGS, 0,
     UPDTConfigRemovePhpIni},
    {UPDT_FLAG(gfCrontabFilters), 1, kFrom, kTo, nullptr, UPDT_BY_ANALYSIS, UPDT_STEP_CONFIG, UPDT_FAIL_LOGS, 0,
     UPDTConfigCrontabFilters},
    {UPDT_FLAG(gfMtuValueCap), 1, kFrom, 308, nullptr, UPDT_BY_BUILD, UPDT_STEP_CONFIG, UPDT_FAIL_LOGS, 0,
     UPDTConfigMtuValueCap},
    {UPDT_FLAG(gfMtuValueToEth0), 1, kFrom, 547, nullptr, UPDT_BY_BUILD, UPDT_STEP_CONFIG, UPDT_FAIL_LOGS, 0,
     UPDTConfigMtuValueToEth0},
    {UPDT_FLAG(gfPasswdHomes), 1, kFrom, 770, nullptr, UPDT_BY_BUILD, UPDT_STEP_CONFIG, UPDT_FAIL_LOGS, 0,
     UPDTConfigPasswdHomes},
    {UPDT_FLAG(gfUserConfFile), 1, kFrom, 770, nullptr, UPDT_BY_BUILD, UPDT_STEP_CONFIG, UPDT_FAIL_LOGS, 0,
     UPDTConfigUserConfFile},
    {UPDT_FLAG(gfMailAccounts), 1, kFrom, 775, nullptr, UPDT_BY_BUILD, UPDT_STEP_CONFIG, UPDT_FAIL_LOGS, 0,
     UPDTConfigMailAccounts},
    {UPDT_FLAG(gfBond0Mtu), 1, kFrom, 865, Bond0NeedsMtu, UPDT_BY_BUILD, UPDT_STEP_CONFIG, UPDT_FAIL_LOGS, 0,
     UPDTConfigBond0Mtu},
    {UPDT_FLAG(gfFtpWriteOnly), 1, kFrom, 867, nullptr, UPDT_BY_BUILD, UPDT_STEP_CONFIG, UPDT_FAIL_LOGS, 0,
     UPDTConfigFtpWriteOnly},
    {UPDT_FLAG(gfBondAlbToActiveBackup), 1, kFrom, 886, nullptr, UPDT_BY_BUILD, UPDT_STEP_CONFIG, UPDT_FAIL_LOGS, 0,
     UPDTConfigBondAlbToActiveBackup},
    {UPDT_FLAG(gfFtpDenyToAutoBlock), 1, kFrom, 886, nullptr, UPDT_BY_BUILD, UPDT_STEP_CONFIG, UPDT_FAIL_LOGS, 0,
     UPDTConfigFtpDenyToAutoBlock},
    {UPDT_FLAG(gfSqueezeErrmsgLinks), 1, kFrom, 887, nullptr, UPDT_BY_BUILD, UPDT_STEP_CONFIG, UPDT_FAIL_LOGS, 0,
     UPDTConfigSqueezeErrmsgLinks},
    {UPDT_FLAG(gfRemoveEventTest), 1, kFrom, 902, nullptr, UPDT_BY_BUILD, UPDT_STEP_CONFIG, UPDT_FAIL_LOGS, 0,
     UPDTConfigRemoveEventTest},
    {UPDT_FLAG(gfFtpPassiveRange), 1, kFrom, 659, nullptr, UPDT_BY_BUILD, UPDT_STEP_PRE_FLASH, UPDT_FAIL_RUN,
     UPDT_ERR_FTP_PORTS, UpdateFTPPassivePortRange},
    {UPDT_FLAG(gfRsyncdConf), 1, kFrom, 483, nullptr, UPDT_BY_BUILD, UPDT_STEP_PRE_FLASH, UPDT_FAIL_LOGS, 0,
     UpdateRsyncdConf},
    {UPDT_FLAG(gfRsyncdSecrets), 1, kFrom, 552, nullptr, UPDT_BY_BUILD, UPDT_STEP_PRE_FLASH, UPDT_FAIL_LOGS, 0,
     CheckAndUpdateRsyncdSecrets},
    {UPDT_FLAG(gfSmmspGroup), 1, kFrom, 555, nullptr, UPDT_BY_BUILD, UPDT_STEP_PRE_FLASH, UPDT_FAIL_LOGS, 0,
     CheckAndUpdateSmmspGroup},
    {UPDT_FLAG(gfUsbBackup), 1, kFrom, 681, nullptr, UPDT_BY_BUILD, UPDT_STEP_PRE_FLASH, UPDT_FAIL_LOGS, 0,
     ConvertUSBBackupToLocalBackup},
    {UPDT_FLAG(gfPhotoEaDir), 1, kFrom, 702, nullptr, UPDT_BY_BUILD, UPDT_STEP_PHOTO, UPDT_FAIL_LOGS, 0,
     UpdatePhotoEaDir},
    {UPDT_FLAG(gfNetBackupSets), 1, kFrom, 770, nullptr, UPDT_BY_BUILD, UPDT_STEP_PRE_FLASH, UPDT_FAIL_LOGS, 0,
     UpdateNetBackupSets},
    {UPDT_FLAG(gfCodepage), 1, kFrom, 807, nullptr, UPDT_BY_BUILD, UPDT_STEP_PRE_FLASH, UPDT_FAIL_LOGS, 0,
     UpdateCodepages},
};

#undef UPDT_FLAG

constexpr int gnUPDTMigrations = static_cast<int>(sizeof gUPDTMigrations / sizeof gUPDTMigrations[0]);
