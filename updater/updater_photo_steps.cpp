// The start of stage C: the photo rows of the migration table, then the database service and
// the database rows. Nothing here changes the update's result.
#include <syslog.h>

#include "korv/proc.h"
#include "updater_migration.h"
#include "updater_photo.h"

bool UPDTPhotoDatabaseWanted(void)
{
    for (int i = 0; i < gnUPDTMigrations; ++i) {
        const UPDTMIGRATION &row = gUPDTMigrations[i];
        if (row.when == UPDT_STEP_PHOTO_DB && (UPDTFlagOf(row) & row.value))
            return true;
    }
    return false;
}

void UPDTUpdatePhoto(void)
{
    UPDTRunMigrationSteps(UPDT_STEP_PHOTO);
    if (!UPDTPhotoDatabaseWanted())
        return;
    if (KORLProcExec(UPDT_PGSQL_RC, "start", nullptr, nullptr, nullptr) < 0)
        syslog(LOG_ERR, "%s: %d: failed to start postgre database.", "updater", __LINE__);
    UpdatePhotoDatabase();
}
