// What must hold before the flash is touched: on newer installed builds eth0's MTU lowered and the
// flash driver's transfer buffer granted; on older ones a fresh boot.
#include <errno.h>
#include <syslog.h>

#include "korv/platform.h"
#include "updater.h"
#include "updater_main.h"

namespace {

constexpr long kMaxUptime = 300;

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

int UPDTGuardFlash(UPDTMAINSTATE *m)
{
    if (gfDriverBuffer)
        return AllocDriverBuffer();
    if (!gfJunior && !gfInstaller) {
        long uptime = 0;
        if (korv_plat_uptime(&uptime) != 0 || uptime > kMaxUptime) {
            UPDTSetExtraMessage("To perform upgrade task, you have to REBOOT your Vaultmere first.");
            return UPDT_ERR_REBOOT;
        }
    }
    (void)m;
    return 0;
}
