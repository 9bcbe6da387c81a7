#include <syslog.h>

#include "korv/schedule.h"
#include "korv_internal.h"

extern "C" int KORVScheduleRemove(const char *command)
{
    if (!command || !*command) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    if (KORVCrontabUpdate(command, nullptr) < 0) {
        syslog(LOG_ERR, "%s(%d): fail to remove schedule to /etc/crontab", __func__, __LINE__);
        return -1;
    }
    return 0;
}
