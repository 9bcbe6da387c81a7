// The stored jumbo-frame size of old builds lowered to what the new driver takes.
#include <string.h>
#include <syslog.h>

#include "korv/file.h"
#include "korv_named_lock.h"
#include "updater_config.h"

int UPDTConfigMtuValueCap(void)
{
    korv::NamedLock lock(KORL_LOCK_KORVINFO);
    if (lock.Take(LOCK_EX) != 0) {
        syslog(LOG_ERR, "%s(%d) Failed to update MTUValue in /etc/korvinfo.conf.", "updater", __LINE__);
        return -1;
    }
    char value[32] = {};
    if (KORLFileGetKeyValue(KORV_INFO_CONF, "MTUValue", value, sizeof value, 0) <= 0)
        return 0;
    const char *capped = strcmp(value, "4074") == 0 ? "4000" : strcmp(value, "9000") == 0 ? "8000" : nullptr;
    if (!capped)
        return 0;
    if (KORLFileSetKeyValue(KORV_INFO_CONF, "MTUValue", capped, "%s=\"%s\"\n") < 0) {
        syslog(LOG_ERR, "%s(%d) Failed to update MTUValue in /etc/korvinfo.conf.", "updater", __LINE__);
        return -1;
    }
    return 0;
}
