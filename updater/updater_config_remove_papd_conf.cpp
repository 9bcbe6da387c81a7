// The AppleTalk printer settings of old builds.
#include "updater_config.h"

int UPDTConfigRemovePapdConf(void)
{
    return UPDTConfigRemoveFile("/usr/korv/etc/papd.conf", "update [/usr/korv/etc/papd.conf]");
}
