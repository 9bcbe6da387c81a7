// The bond takes eth0's stored MTU as its own.
#include <syslog.h>

#include "korv_settings.h"
#include "updater_config.h"

int UPDTConfigBond0Mtu(void)
{
    korv::LockedSettings settings;
    char value[32] = {};
    if (settings.Lock() != 0 ||
        (settings.Get("eth0_mtu", value, sizeof value) > 0 && settings.Set("bond0_mtu", value) < 0)) {
        syslog(LOG_ERR, "%s:%d Failed to update [%s] in /etc/korvinfo.conf.", "updater", __LINE__, "bond0_mtu");
        return -1;
    }
    return 0;
}
