// The installed php.ini; the new firmware brings its own defaults.
#include "updater_config.h"

int UPDTConfigRemovePhpIni(void)
{
    return UPDTConfigRemoveFile("/usr/korv/etc/php.ini", "remove /usr/korv/etc/php.ini");
}
