// The patch plan of both flash engines: for each partition of the layout, its image, place, size
// and spare erase blocks; the lookups by partition name; and the adjustment that moves erase
// blocks to a partition whose image outgrew it.
#pragma once

#include <stdint.h>

#include <string>

#include "korv/mtd.h"
#include "updater.h"

// A flash-directory name as text: its 16 bytes up to the first NUL, none when it fills them.
std::string UPDTEntryName(const KORVMTDFISENTRY &entry);

// Fills gPatchInfo from the flash directory (count entries) and the package; gEraseBlockSize
// from the directory's device. 0, or -1 after a message.
int UPDTInitPatchInfo(const KORVMTDFISENTRY *entries, int count);

// One entry of the plan from its directory entry and its image in the working directory, with
// its "PATCHINFO: " line (label "part" or "partition") and messages as `func`. The erase blocks
// of eraseBlock bytes (not 0) its data needs.
int64_t UPDTFillPatchEntry(const char *func, UPDTPATCHINFO *entry, const KORVMTDFISENTRY *dir,
                           const char *label, uint32_t eraseBlock);

// The first directory entry named `name` (case ignored); -1 after a message.
int GetIdxByName(const char *name, const KORVMTDFISENTRY *entries, int count);
// The MTD device of a partition of gDevMap (case ignored); null after a message.
const char *SzUPDTGetDeviceByName(const char *name);
// 1 when one of the first count entries has a negative balance.
int UPDTIsNeedResize(const UPDTPATCHINFO *table, int count);
// 1 for the partitions that are never moved, resized or donors.
int UPDTIsFixedPartition(const char *name);
// Moves erase blocks from donors so that no balance is negative, then moves and marks the
// partitions that change. 0, or -1 after a message.
int ErrUPDTAdjustPartitionSize(UPDTPATCHINFO *table, int count);
// The same over erase blocks of eraseBlock bytes, messages as `func`.
int UPDTAdjustPlan(const char *func, UPDTPATCHINFO *table, int count, uint32_t eraseBlock);
// After the adjustment: 0 when the plan can be written as it stands, -1 after a message when a
// fixed partition was given blocks, or a moved or resized partition would be empty, leave the
// flash the directory spans, or overlap another directory entry.
int ErrUPDTCheckPatchPlan(const UPDTPATCHINFO *table, int count, const KORVMTDFISENTRY *entries, int nEntries);
