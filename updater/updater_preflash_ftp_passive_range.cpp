// The FTP passive range: at most 128 ports, the high end lowered to fit.
#include <stdio.h>
#include <stdlib.h>
#include <syslog.h>

#include "korv/file.h"
#include "updater.h"
#include "updater_preflash.h"

int UpdateFTPPassivePortRange(void)
{
    char buf[128] = {};
    if (KORLFileGetKeyValue(KORV_INFO_CONF, "ftplowport", buf, sizeof buf, 0) < 0) {
        syslog(LOG_ERR, "%s:%d(%s) KORLFileGetKeyValue(SZF_KORV_INFO, SZK_FTP_LOW_PORT) fail", UPDT_SOURCE, __LINE__,
               __func__);
        return -1;
    }
    long low = strtol(buf, nullptr, 10);
    buf[0] = '\0';
    if (KORLFileGetKeyValue(KORV_INFO_CONF, "ftphighport", buf, sizeof buf, 0) < 0) {
        syslog(LOG_ERR, "%s:%d(%s) KORLFileGetKeyValue(SZF_KORV_INFO, SZK_FTP_HIGH_PORT) fail", UPDT_SOURCE,
               __LINE__, __func__);
        return -1;
    }
    long high = strtol(buf, nullptr, 10);
    if (high - low <= 127)
        return 0;
    snprintf(buf, sizeof buf, "%d", static_cast<int>(low + 127));
    if (KORVINFOSetKeyValue("ftphighport", buf) < 0) {
        syslog(LOG_ERR, "%s:%d(%s) KORVINFOSetKeyValue(SZK_FTP_HIGH_PORT, szBuf=[%s]) fail", UPDT_SOURCE, __LINE__,
               __func__, buf);
        return -1;
    }
    return 0;
}
