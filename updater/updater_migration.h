// The migrations of a run as one constant table: per row the flag it decides (the run's
// UPDTFLAGS holds the decisions), the installed builds it covers, any further condition, when its
// step runs, what a failure of the step means and the step itself (empty until it is built).
#pragma once

#include <limits.h>

#include "updater.h"

// A flag of the run: its member of UPDTFLAGS.
typedef int UPDTFLAGS::*UPDTFLAG;

// What a row's condition may look at besides the build number.
struct UPDTFLAGINPUT {
    int build;              // the installed build number
    const char *orgUnique;  // the installed model identity (the analysis' rows only)
    const char *pkgUnique;  // the package's model identity (the analysis' rows only)
    int junior;
};

// Who decides a row: UPDTSetUpgradeFlags on an installed system, or the analysis itself (also
// inside the installer).
enum UPDTFLAGSOURCE { UPDT_BY_BUILD, UPDT_BY_ANALYSIS };

// When the row's step runs.
enum UPDTSTEPTIME {
    UPDT_STEP_GUARD,     // no step: main's guards before the flash read the flag
    UPDT_STEP_PRE_FLASH, // before the flash is read (RedBoot road)
    UPDT_STEP_PHOTO,     // after the write, before the configuration stage (RedBoot road)
    UPDT_STEP_PHOTO_DB,  // then, with the database service started, UpdatePhotoDatabase's steps
    UPDT_STEP_CONFIG,    // the configuration stage
};

// What a failed step means.
enum UPDTSTEPFAILURE {
    UPDT_FAIL_LOGS,   // only its own messages; the run goes on
    UPDT_FAIL_STAGE,  // the configuration stage fails (code 17) once every step has run
    UPDT_FAIL_RUN,    // the run ends at once with the row's code
};

struct UPDTMIGRATION {
    const char *name;        // the flag's name, as the tools print it
    UPDTFLAG flag;           // the flag it decides; the rows of a flag of several bits share it
    int value;               // bits the row sets; 0: the row clears a flag that starts at 1
    int minBuild, maxBuild;  // the installed builds it covers, both included
    bool (*condition)(const UPDTFLAGINPUT *in);  // null: the builds alone decide
    UPDTFLAGSOURCE source;
    UPDTSTEPTIME when;
    UPDTSTEPFAILURE failure;
    int code;                // the exit code of UPDT_FAIL_RUN
    int (*step)(void);       // negative on failure; null: nothing to run yet
};

#define UPDT_ANY_BUILD_FROM INT_MIN
#define UPDT_ANY_BUILD_TO INT_MAX

extern const UPDTMIGRATION gUPDTMigrations[];
extern const int gnUPDTMigrations;

// The run's decision of the flag that row decides.
inline int &UPDTFlagOf(const UPDTMIGRATION &row)
{
    return gUPDTFlags.*row.flag;
}
// The row that decides `flag` (the first, for a flag of several bits); null when none does.
const UPDTMIGRATION *UPDTMigrationOf(UPDTFLAG flag);
// Applies one row to its flag when its builds and condition hold for `in`.
void UPDTDecideMigration(const UPDTMIGRATION &row, const UPDTFLAGINPUT &in);
// Applies every row of `flag` (the analysis decides the old layout before its checks of it).
void UPDTDecideFlag(UPDTFLAG flag, const UPDTFLAGINPUT &in);
// Applies every row of `source` in table order, but those of `except`.
void UPDTDecideMigrations(UPDTFLAGSOURCE source, const UPDTFLAGINPUT &in, UPDTFLAG except = nullptr);
// Runs the steps of the rows of `when` whose flag is set, in table order. 0; the code of a
// UPDT_FAIL_RUN step that failed (the later steps do not run); or -1 when a UPDT_FAIL_STAGE
// step failed (the later steps still run).
int UPDTRunMigrationSteps(UPDTSTEPTIME when);
