// The stored jumbo-frame size of old builds lowered to what the new driver takes.
#include <string.h>
#include <syslog.h>

#include "korv_settings.h"
#include "updater_config.h"

int UPDTConfigMtuValueCap(void)
{
    korv::LockedSettings settings;
    if (settings.Lock() != 0) {
        syslog(LOG_ERR, "%s(%d) Failed to update MTUValue in /etc/korvinfo.conf.", "updater", __LINE__);
        return -1;
    }
    char value[32] = {};
    if (settings.Get("MTUValue", value, sizeof value) <= 0)
        return 0;
    const char *capped = strcmp(value, "4074") == 0 ? "4000" : strcmp(value, "9000") == 0 ? "8000" : nullptr;
    if (!capped)
        return 0;
    if (settings.Set("MTUValue", capped) < 0) {
        syslog(LOG_ERR, "%s(%d) Failed to update MTUValue in /etc/korvinfo.conf.", "updater", __LINE__);
        return -1;
    }
    return 0;
}
