// What main holds for itself through the run, shared by its own steps (start-up, guards, the
// road up to the flash and the end path). Their messages name "main".
#pragma once

#include <stdlib.h>

#include "korv_unique.h"

#define UPDT_MAIN "main"

struct UPDTMAINSTATE {
    char stage = 'A';                         // 'A', 'P', 'C' or 'R'
    korv::UniqueFd callerDir;                 // "." as the caller left it
    char szSavedMtu[16] = {};                 // eth0's MTU before the updater lowered it
    bool fRestoreMtu = false;
    int code = 0;
};

// Guards before the flash: the MTU and the driver buffer, or a fresh boot. 0 or the code.
int UPDTGuardFlash(UPDTMAINSTATE *m);
// Puts eth0's saved MTU back when the guard lowered it.
void UPDTRestoreMtu(UPDTMAINSTATE *m);
// The flash road chosen by system call 401, through its stages to the hand-over. The code.
int UPDTFlashRoad(UPDTMAINSTATE *m);
// The clean-shutdown mark of the RedBoot road: "/.NormalShutdown", or in the installer
// "/tmpRoot/.NormalShutdown" once the system partition is mounted there.
void UPDTMarkNormalShutdown(void);
// Driver buffer, the caller's directory (unless skipCallerDir), the failure
// line, the MTU, the final progress. The code to exit with.
int UPDTEndPath(UPDTMAINSTATE *m, bool skipCallerDir = false);
