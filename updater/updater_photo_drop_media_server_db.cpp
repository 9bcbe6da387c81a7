// The media server's old database, which the new firmware no longer has.
#include "updater_photo.h"

int DropMediaServerDb(void)
{
    UPDTRunCommand("su -l admin -c \"/usr/korv/pgsql/bin/dropdb mediaserver\"");
    return 0;
}
