// The jumbo-frame start script of old builds; the MTU is set from the settings now.
#include "updater_config.h"

int UPDTConfigRemoveJumboFrameRc(void)
{
    return UPDTConfigRemoveFile("/usr/korv/etc/rc.d/S78JumboFrame.sh", "remove /usr/korv/etc/rc.d");
}
