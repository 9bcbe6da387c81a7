// The shell profile of old builds; the new firmware brings its own.
#include "updater_config.h"

int UPDTConfigRemoveProfile(void)
{
    return UPDTConfigRemoveFile("/etc/profile", "remove /etc/profile");
}
