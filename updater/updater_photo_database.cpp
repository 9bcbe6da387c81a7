// The database steps of the migration table's database rows, then the re-index, which runs
// whenever the database steps do.
#include "updater_migration.h"
#include "updater_photo.h"

int UpdatePhotoDatabase(void)
{
    UPDTRunMigrationSteps(UPDT_STEP_PHOTO_DB);
    UPDTRunCommand("/usr/korv/bin/korvindex -R all");
    return 0;
}
