// The configuration stage (stage C): the configuration rows of the migration table, in order.
#include "updater_config.h"
#include "updater_migration.h"

int UPDTUpdateConfig(void)
{
    return UPDTRunMigrationSteps(UPDT_STEP_CONFIG) == 0 ? 0 : -1;
}
