// The updater's run state as the in-process tests see it: the migration flags with their names,
// from the product's own table, and a reset to the values of a fresh process (a test program may
// run several cases in one process).
#pragma once

#include <string.h>

#include <string>
#include <vector>

#include "updater.h"
#include "updater_migration.h"

namespace updatertest {

struct FlagRef {
    const char *name;
    int *flag;
};

// The flags that UPDTSetUpgradeFlags decides, each once, in table order.
inline const std::vector<FlagRef> &migration_flags()
{
    static const std::vector<FlagRef> flags = [] {
        std::vector<FlagRef> out;
        for (int i = 0; i < gnUPDTMigrations; ++i) {
            const UPDTMIGRATION &row = gUPDTMigrations[i];
            bool seen = false;
            for (const FlagRef &f : out)
                seen = seen || f.flag == &UPDTFlagOf(row);
            if (row.source == UPDT_BY_BUILD && !seen)
                out.push_back({row.name, &UPDTFlagOf(row)});
        }
        return out;
    }();
    return flags;
}

// The names of the migration flags that are not 0, in table order.
inline std::vector<std::string> flags_set()
{
    std::vector<std::string> names;
    for (const auto &f : migration_flags())
        if (*f.flag)
            names.push_back(f.name);
    return names;
}

inline void reset_run_state()
{
    UPDTResetRunState();
    strcpy(gszVolume, "/volume1");
    strcpy(gszWorkDir, "/volume1/upd@te");
}

}  // namespace updatertest
