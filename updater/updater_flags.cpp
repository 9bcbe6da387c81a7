// Which configuration migrations the run makes, from the build number of the installed firmware.
#include <string.h>

#include "korv/file.h"
#include "korv/net.h"
#include "updater.h"

namespace {

// "bond0" is the only interface up and carries no MTU setting of its own yet.
bool Bond0NeedsMtu()
{
    KORVNETIFINFO interfaces[8];
    memset(interfaces, 0, sizeof interfaces);
    if (KORVNetGetInterfaceInfo(interfaces, 8, 2) != 1 || strcmp(interfaces[0].szIfName, "bond0") != 0)
        return false;
    char mtu[16] = {};
    return KORLFileGetKeyValue(KORV_INFO_CONF, "bond0_mtu", mtu, sizeof mtu, 0) == 0;
}

}  // namespace

void UPDTSetUpgradeFlags(int b)
{
    if (401 <= b && b <= 424)
        gfPhotoDbUpgrade |= UPDT_PHOTO_DB_TABLES;
    if (401 <= b && b <= 481)
        gfPhotoDbUpgrade |= UPDT_PHOTO_DB_VIDEO;
    if (b < 868)
        gfDropMediaServerDb = 1;
    if (b <= 882)
        gfDumpPgsqlDbs = 1;
    if (b <= 107)
        gfRemoveRcAtalk = 1;
    if (b <= 210)
        gfRemovePapdConf = 1;
    if (b <= 229)
        gfFtpSystemAccounts = 1;
    if (b <= 250)
        gfRemoveProfile = 1;
    if (b <= 251)
        gfRemoveJumboFrameRc = 1;
    if (b <= 308)
        gfMtuValueCap = 1;
    if (b < 548)
        gfMtuValueToEth0 = 1;
    if (b <= 770)
        gfPasswdHomes = 1;
    if (b <= 770)
        gfUserConfFile = 1;
    if (b < 776)
        gfMailAccounts = 1;
    if (b <= 865 && Bond0NeedsMtu())
        gfBond0Mtu = 1;
    if (b < 868)
        gfFtpWriteOnly = 1;
    if (b <= 886)
        gfBondAlbToActiveBackup = 1;
    if (b <= 886)
        gfFtpDenyToAutoBlock = 1;
    if (b < 888)
        gfSqueezeErrmsgLinks = 1;
    if (b <= 902)
        gfRemoveEventTest = 1;
    if (b < 660)
        gfFtpPassiveRange = 1;
    if (b < 484)
        gfRsyncdConf = 1;
    if (b <= 552)
        gfRsyncdSecrets = 1;
    if (b < 556)
        gfSmmspGroup = 1;
    if (b <= 681)
        gfUsbBackup = 1;
    if (b <= 702)
        gfPhotoEaDir = 1;
    if (b <= 770)
        gfNetBackupSets = 1;
    if (b < 808)
        gfCodepage = 1;
}
