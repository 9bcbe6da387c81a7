// The manual-utility settings of old builds; the new firmware has none.
#include "updater_config.h"

int UPDTConfigRemoveManutilConf(void)
{
    return UPDTConfigRemoveFile("/usr/korv/etc/manutil.conf", "update [/usr/korv/etc/manutil.conf]");
}
