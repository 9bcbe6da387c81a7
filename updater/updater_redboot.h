// The flash engine of a unit whose partitions a RedBoot flash directory lists: the write with
// its three attempts, the copy and the verify, the rollback from "b@ckup", the repair of a known
// broken directory, and the locking of every partition.
#pragma once

#include <stdint.h>

#include "korv/mtd.h"

// Writes every entry of gPatchInfo marked for it, after the size adjustment when one is needed.
// entries and count are the flash directory read before; the progress goes to `stage`;
// *changed (when given) becomes true once the flash is touched. 0, or -1 after a message.
int UPDTDoPatch(const KORVMTDFISENTRY *entries, int count, char stage = 'P', bool *changed = nullptr);
// The image file onto the device in chunks of `chunk` bytes; exactly `length` bytes. 0 or -1.
int UPDTCopyFile(const char *file, const char *device, int64_t length, int chunk, char stage = 'P');
// The device against the image file in chunks of `chunk` bytes. 0 or -1.
int UPDTVerifyFile(const char *file, const char *device, int64_t length, int chunk, char stage = 'P');
// Puts every marked entry back: its old place, size, contents and directory entry. 0 or -1.
int UPDTRollBack(const KORVMTDFISENTRY *entries, int count);
// Rewrites the directory device gszDevMtdPartition with the built-in junior table. 0 or -1.
int RecoverFISDirTable_410VPlus_V284(void);
// Locks (1) or unlocks (any other value) every partition of gDevMap but "RedBoot Config" and
// "FIS Directory". 0 or -1.
int UPDTLockAll(int lock);
int UPDTUnlockAllPartitions(void);
int UPDTLockAllPartitions(void);
