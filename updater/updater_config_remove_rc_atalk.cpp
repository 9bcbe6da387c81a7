// The AppleTalk start script of old builds.
#include "updater_config.h"

int UPDTConfigRemoveRcAtalk(void)
{
    return UPDTConfigRemoveFile("/usr/korv/etc/rc.atalk", "update [/usr/korv/etc/rc.atalk]");
}
