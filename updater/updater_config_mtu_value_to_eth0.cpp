// The old single "MTUValue" setting becomes eth0's own "eth0_mtu".
#include <syslog.h>

#include "korv_settings.h"
#include "updater_config.h"

int UPDTConfigMtuValueToEth0(void)
{
    korv::LockedSettings settings;
    if (settings.Lock() != 0) {
        syslog(LOG_ERR, "%s(%d) Failed to update MTUValue in /etc/korvinfo.conf.", "updater", __LINE__);
        return -1;
    }
    char value[32] = {};
    int n = settings.Get("MTUValue", value, sizeof value);
    // The old key stays until its value is stored under the new one.
    if (n > 0 && settings.Set("eth0_mtu", value) < 0) {
        syslog(LOG_ERR, "%s(%d) Failed to update MTUValue in /etc/korvinfo.conf.", "updater", __LINE__);
        return -1;
    }
    if (n >= 0 && settings.Remove("MTUValue") < 0) {
        syslog(LOG_ERR, "%s(%d) Failed to update MTUValue in /etc/korvinfo.conf.", "updater", __LINE__);
        return -1;
    }
    return 0;
}
