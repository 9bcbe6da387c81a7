// The bond takes eth0's stored MTU as its own.
#include <syslog.h>

#include "korv/file.h"
#include "korv_named_lock.h"
#include "updater_config.h"

int UPDTConfigBond0Mtu(void)
{
    korv::NamedLock lock(KORL_LOCK_KORVINFO);
    char value[32] = {};
    if (lock.Take(LOCK_EX) != 0 ||
        (KORLFileGetKeyValue(KORV_INFO_CONF, "eth0_mtu", value, sizeof value, 0) > 0 &&
         KORLFileSetKeyValue(KORV_INFO_CONF, "bond0_mtu", value, "%s=\"%s\"\n") < 0)) {
        syslog(LOG_ERR, "%s:%d Failed to update [%s] in /etc/korvinfo.conf.", "updater", __LINE__, "bond0_mtu");
        return -1;
    }
    return 0;
}
