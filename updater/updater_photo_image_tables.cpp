// The photo database's image and user tables of the builds before the column changes.
#include "updater_photo.h"

int UpdatePhotoImageTables(void)
{
    UPDTRunCommand("su -l admin -c \"/usr/korv/pgsql/bin/psql photo -c 'ALTER TABLE photo_image ALTER timetaken "
                   "TYPE varchar(64)'\"");
    UPDTRunCommand("su -l admin -c \"/usr/korv/pgsql/bin/psql photo -c 'ALTER TABLE photo_user ADD COLUMN admin "
                   "bool DEFAULT false'\"");
    return 0;
}
