// The old single "MTUValue" setting becomes eth0's own "eth0_mtu".
#include <syslog.h>

#include "korv/error.h"
#include "korv/file.h"
#include "korv_named_lock.h"
#include "updater_config.h"

int UPDTConfigMtuValueToEth0(void)
{
    korv::NamedLock lock(KORL_LOCK_KORVINFO);
    if (lock.Take(LOCK_EX) != 0) {
        syslog(LOG_ERR, "%s(%d) Failed to update MTUValue in /etc/korvinfo.conf.", "updater", __LINE__);
        return -1;
    }
    char value[32] = {};
    int n = KORLFileGetKeyValue(KORV_INFO_CONF, "MTUValue", value, sizeof value, 0);
    // The old key stays until its value is stored under the new one.
    if (n > 0 && KORLFileSetKeyValue(KORV_INFO_CONF, "eth0_mtu", value, "%s=\"%s\"\n") < 0) {
        syslog(LOG_ERR, "%s(%d) Failed to update MTUValue in /etc/korvinfo.conf.", "updater", __LINE__);
        return -1;
    }
    if (n >= 0 && KORLFileRemoveKey(KORV_INFO_CONF, "MTUValue") < 0) {
        syslog(LOG_ERR, "%s(%d) Failed to update MTUValue in /etc/korvinfo.conf.", "updater", __LINE__);
        return -1;
    }
    return 0;
}
