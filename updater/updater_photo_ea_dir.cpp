// The thumbnail folders' rights. find puts each folder's path in place of "{}" as one argument
// of chmod: the braces stay bare, so the path reaches chmod without quotes around it.
#include "updater_photo.h"

int UpdatePhotoEaDir(void)
{
    UPDTRunCommand("/usr/bin/find /var/services/photo/ -type d -name @eaDir -exec /bin/chmod -R 777 {} \\;");
    return 0;
}
