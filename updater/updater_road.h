// The one road of a flash update, over a small record per flash engine: the directory read,
// the plan, the backup, the write, the configuration stage, the rollback and the "b@ckup" policy
// are the road's; what the engines do and where they differ is their record's.
#pragma once

#include "korv/mtd.h"
#include "korv_malloc_ptr.h"

// One run of the road.
struct UPDTFLASHROAD {
    char *stage;                               // the caller's stage letter, advanced by the road
    const char *func;                          // the name the road's messages carry
    korv::MallocPtr<KORVMTDFISENTRY> entries;  // the flash directory as read before the write
    int nEntries = 0;
    bool changed = false;                      // the write changed the flash (its rollback has work)
    int repartitioned = 0;                     // the write cut the flash anew (MSys)
};

struct UPDTFLASHENGINE {
    // The flash directory into road->entries. 0, or the exit code after a message.
    int (*readDirectory)(UPDTFLASHROAD *road);
    // The plan from the directory (gPatchInfo). 0, or -1 after a message.
    int (*initPlan)(const KORVMTDFISENTRY *entries, int count);
    // The images onto the flash; sets road->changed from the first change on. 0, or -1.
    int (*write)(UPDTFLASHROAD *road);
    // The old flash back from "b@ckup". 0, or -1.
    int (*rollBack)(UPDTFLASHROAD *road);
    bool preFlashMigrations;  // the migrations before the flash run on this road
    bool photoSteps;          // the photo steps run before the configuration stage
    bool handOverAfterFailure;  // "hda1.tgz" goes to the volume at the road's end, also after a failure
    bool shutdownMark;        // ".NormalShutdown" is made after the configuration stage
    const char *func;         // the name the road's messages carry
};

extern const UPDTFLASHENGINE gUPDTRedBootEngine;
extern const UPDTFLASHENGINE gUPDTMSysEngine;

// The whole road from the pre-flash migrations to the end of stage R, messages as the engine's
// `func`. The exit code.
int UPDTRunFlashRoad(const UPDTFLASHENGINE &engine, char *stage);
