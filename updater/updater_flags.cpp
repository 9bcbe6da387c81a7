// Which migrations the run makes: the table's rows applied to the installed build, and their
// steps run at their time.
#include "updater.h"
#include "updater_migration.h"

const UPDTMIGRATION *UPDTMigrationOf(UPDTFLAG flag)
{
    for (int i = 0; i < gnUPDTMigrations; ++i)
        if (gUPDTMigrations[i].flag == flag)
            return &gUPDTMigrations[i];
    return nullptr;
}

void UPDTDecideMigration(const UPDTMIGRATION &row, const UPDTFLAGINPUT &in)
{
    // The builds first: the further condition may ask the system, and only within them.
    if (in.build < row.minBuild || in.build > row.maxBuild)
        return;
    if (row.condition && !row.condition(&in))
        return;
    if (row.value)
        UPDTFlagOf(row) |= row.value;
    else
        UPDTFlagOf(row) = 0;
}

void UPDTDecideFlag(UPDTFLAG flag, const UPDTFLAGINPUT &in)
{
    for (int i = 0; i < gnUPDTMigrations; ++i)
        if (gUPDTMigrations[i].flag == flag)
            UPDTDecideMigration(gUPDTMigrations[i], in);
}

void UPDTDecideMigrations(UPDTFLAGSOURCE source, const UPDTFLAGINPUT &in, UPDTFLAG except)
{
    for (int i = 0; i < gnUPDTMigrations; ++i) {
        const UPDTMIGRATION &row = gUPDTMigrations[i];
        if (row.source == source && row.flag != except)
            UPDTDecideMigration(row, in);
    }
}

void UPDTSetUpgradeFlags(int b)
{
    UPDTDecideMigrations(UPDT_BY_BUILD, UPDTFLAGINPUT{b, nullptr, nullptr, gfJunior});
}

int UPDTRunMigrationSteps(UPDTSTEPTIME when)
{
    int result = 0;
    for (int i = 0; i < gnUPDTMigrations; ++i) {
        const UPDTMIGRATION &row = gUPDTMigrations[i];
        if (row.when != when || !row.step || !(UPDTFlagOf(row) & (row.value ? row.value : ~0)))
            continue;
        if (row.step() >= 0)
            continue;
        if (row.failure == UPDT_FAIL_RUN)
            return row.code;
        if (row.failure == UPDT_FAIL_STAGE)
            result = -1;
    }
    return result;
}
