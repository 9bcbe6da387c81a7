// An array's health from its md description and its member list.
#include "korv/raid.h"
#include "korv_internal.h"

namespace {

// Members an md level survives losing.
int64_t Tolerance(const KORVMDARRAYINFO *array)
{
    switch (array->level) {
    case 5: return 1;
    case 6: return 2;
    case 1: return int64_t{array->raidDisks} - 1;
    default: return 0;
    }
}

}  // namespace

extern "C" int KORVRaidDecideStatus(const KORVMDARRAYINFO *array, const KORVRAIDDISK *disks, int *status)
{
    if (!array || !status) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    int inSync = 0;
    bool error = !disks;
    for (const KORVRAIDDISK *d = disks; d; d = d->next) {
        if (d->state == KORV_RAID_DISK_ERROR)
            error = true;
        else if (d->state == KORV_RAID_DISK_IN_SYNC)
            ++inSync;
    }
    // Faulty members and spares count as missing.
    int64_t missing = int64_t{array->raidDisks} - inSync;
    if (error)
        *status = KORV_RAID_STATUS_CRASHED;
    else if (missing <= 0)
        *status = KORV_RAID_STATUS_NORMAL;
    else if (missing <= Tolerance(array))
        *status = KORV_RAID_STATUS_DEGRADED;
    else
        *status = KORV_RAID_STATUS_CRASHED;
    return 0;
}
