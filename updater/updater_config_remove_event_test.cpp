// The settings' leftover "eventtest" key removed.
#include <syslog.h>

#include "korv/error.h"
#include "korv_settings.h"
#include "updater_config.h"

int UPDTConfigRemoveEventTest(void)
{
    korv::LockedSettings settings;
    if (settings.Lock() != 0 || settings.Remove("eventtest") <= 0) {
        syslog(LOG_ERR, "%s:%d Fail to remove key [eventtest] from %s, korverr=[0x%04X]", "updater", __LINE__,
               KORV_INFO_CONF, KORLErrGet());
        return -1;
    }
    return 0;
}
