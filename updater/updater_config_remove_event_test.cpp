// The settings' leftover "eventtest" key removed.
#include <syslog.h>

#include "korv/error.h"
#include "korv/file.h"
#include "korv_named_lock.h"
#include "updater_config.h"

int UPDTConfigRemoveEventTest(void)
{
    korv::NamedLock lock(KORL_LOCK_KORVINFO);
    if (lock.Take(LOCK_EX) != 0 || KORLFileRemoveKey(KORV_INFO_CONF, "eventtest") <= 0) {
        syslog(LOG_ERR, "%s:%d Fail to remove key [eventtest] from %s, korverr=[0x%04X]", "updater", __LINE__,
               KORV_INFO_CONF, KORLErrGet());
        return -1;
    }
    return 0;
}
