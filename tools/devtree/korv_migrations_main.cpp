// korv-migrations BUILD: the migrations an update from the installed build BUILD makes on this
// unit, as the updater decides them: each row of its migration table that the build sets, with
// the builds it covers and when its step runs.
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "sandbox_guard.h"
#include "updater.h"
#include "updater_migration.h"

namespace {

std::string Builds(const UPDTMIGRATION &row)
{
    if (row.minBuild == UPDT_ANY_BUILD_FROM)
        return "up to " + std::to_string(row.maxBuild);
    return std::to_string(row.minBuild) + " to " + std::to_string(row.maxBuild);
}

const char *When(UPDTSTEPTIME when)
{
    switch (when) {
    case UPDT_STEP_GUARD:
        return "a guard before the flash";
    case UPDT_STEP_PRE_FLASH:
        return "before the flash";
    case UPDT_STEP_PHOTO:
        return "the photo folders";
    case UPDT_STEP_PHOTO_DB:
        return "the photo databases";
    case UPDT_STEP_CONFIG:
        return "the configuration stage";
    }
    return "?";
}

}  // namespace

int main(int argc, char **argv)
{
    char *end = nullptr;
    long build = argc == 2 ? strtol(argv[1], &end, 10) : 0;
    if (argc != 2 || !end || *end || end == argv[1]) {
        fprintf(stderr, "usage: %s BUILD\n", argv[0]);
        return 2;
    }
    if (!korv_inside_sandbox()) {
        fprintf(stderr, "%s: refusing to run outside the device sandbox\n", argv[0]);
        return 2;
    }
    // Each row alone on a cleared flag: a flag of several bits shows each of its rows.
    UPDTFLAGINPUT in{static_cast<int>(build), nullptr, nullptr, 0};
    int count = 0;
    for (int i = 0; i < gnUPDTMigrations; ++i) {
        const UPDTMIGRATION &row = gUPDTMigrations[i];
        if (row.source != UPDT_BY_BUILD)
            continue;
        int &flag = UPDTFlagOf(row);
        int kept = flag;
        flag = 0;
        UPDTDecideMigration(row, in);
        bool set = (flag & row.value) != 0;
        flag = kept;
        if (!set)
            continue;
        ++count;
        std::string name = row.name;
        for (int j = 0; j < gnUPDTMigrations; ++j)
            if (j != i && gUPDTMigrations[j].flag == row.flag) {
                char bits[16];
                snprintf(bits, sizeof bits, " 0x%X", static_cast<unsigned>(row.value));
                name += bits;
                break;
            }
        printf("%-26s builds %-12s %s%s\n", name.c_str(), Builds(row).c_str(), When(row.when),
               row.step || row.when == UPDT_STEP_GUARD ? "" : " (its step is not built yet)");
    }
    if (count == 0)
        printf("no migration: build %ld is newer than every migration's builds\n", build);
    return 0;
}
