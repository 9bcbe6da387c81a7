// The MSys flash engine: a flash of eight partitions cut and reached through requests on
// "/dev/mtd0", written with dd in 16 KiB units.
#pragma once

#include <stdint.h>

#include "korv/mtd.h"

#define UPDT_MSYS_PARTITIONS 8
#define UPDT_MSYS_UNIT 16384u  // the erase unit, and the unit of every block count
#define UPDT_MSYS_UNITS 967    // units of the whole flash

// The eight partitions' sizes and data lengths, with names from the plan and places summed
// from the sizes. 8, or -1.
int UPDTMSysGetPartitionInfo(KORVMTDFISENTRY *entries);
// Fills gPatchInfo from the eight entries, by position, in 16 KiB units. 0, or -1.
int UPDTMSysInitPatchInfo(const KORVMTDFISENTRY *entries, int count);
// Re-partitions the whole flash into eight partitions of the given unit counts. 0, or -1.
int UPDTMSysFormat(const uint32_t *blockCounts, int count);
// Re-partitions when an image no longer fits, then writes the images, progress in `stage`.
// *repartitioned is set once the flash has new partitions, *changed (when given) once the flash
// is touched. 0, or -1.
int UPDTMSysDoPatch(const KORVMTDFISENTRY *entries, int count, int *repartitioned, char stage = 'P',
                    bool *changed = nullptr);
// The old partitioning (when the write changed it) and every partition's old contents. 0, or -1.
int UPDTMSysRollBack(const KORVMTDFISENTRY *entries, int count, int repartitioned, char stage = 'P');
