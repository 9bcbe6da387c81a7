// What must hold before the flash is touched: on newer installed builds eth0's MTU lowered and the
// flash driver's transfer buffer granted; on older ones a fresh boot.
#include <errno.h>
#include <string.h>
#include <strings.h>
#include <syslog.h>

#include "korv/error.h"
#include "korv/file.h"
#include "korv/net.h"
#include "korv/platform.h"
#include "updater.h"
#include "updater_main.h"

namespace {

constexpr long kMaxUptime = 300;

// eth0 runs at an MTU of 1500 while the flash is written; the stored value comes back at the end.
void LowerMtu(UPDTMAINSTATE *m)
{
    memset(m->szSavedMtu, 0, sizeof m->szSavedMtu);
    m->fRestoreMtu = false;
    char support[8] = {};
    if (KORLFileGetKeyValue("/etc.defaults/korvinfo.conf", "supportMTU", support, sizeof support, 0) <= 0 ||
        strcasecmp(support, "yes") != 0)
        return;
    if (KORLFileGetKeyValue(KORV_INFO_CONF, "eth0_mtu", m->szSavedMtu, sizeof m->szSavedMtu, 0) <= 0 ||
        strcmp(m->szSavedMtu, "1500") == 0)
        return;
    // Even a setter that failed may have stored "1500" already: the old value goes back in any case.
    m->fRestoreMtu = true;
    if (KORVNetSetMTUValue("1500", "eth0") < 0)
        syslog(LOG_ERR, "%s(%d): fail to set the MTU of eth0 to 1500, korverr=0x%04X", UPDT_MAIN, __LINE__,
               KORLErrGet());
}

// system call 405 with 1: 0, or the exit code after the messages.
int AllocDriverBuffer()
{
    if (korv_plat_driver_buffer(1) == 0)
        return 0;
    int err = errno;
    syslog(LOG_ERR, "%s(%d): fail to malloc mtd driver buffer, error = %d", UPDT_MAIN, __LINE__, err);
    if (err == ENOSYS)
        return 0;  // a kernel without the call writes without the buffer
    UPDTSetExtraMessage("Please reboot the system and upgrade immediately.");
    return UPDT_ERR_DRIVER_BUFFER;
}

}  // namespace

void UPDTRestoreMtu(UPDTMAINSTATE *m)
{
    if (!m->fRestoreMtu)
        return;
    if (KORVNetSetMTUValue(m->szSavedMtu, "eth0") < 0)
        syslog(LOG_ERR, "%s(%d): fail to set the MTU of eth0 back to %s, korverr=0x%04X", UPDT_MAIN, __LINE__,
               m->szSavedMtu, KORLErrGet());
    m->fRestoreMtu = false;
}

int UPDTGuardFlash(UPDTMAINSTATE *m)
{
    if (gUPDTFlags.gfDriverBuffer) {
        LowerMtu(m);
        return AllocDriverBuffer();
    }
    if (!gfJunior && !gfInstaller) {
        long uptime = 0;
        if (korv_plat_uptime(&uptime) != 0 || uptime > kMaxUptime) {
            UPDTSetExtraMessage("To perform upgrade task, you have to REBOOT your Vaultmere first.");
            return UPDT_ERR_REBOOT;
        }
    }
    return 0;
}
