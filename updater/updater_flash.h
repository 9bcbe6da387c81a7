// What both flash engines share: the backup of the partitions in "b@ckup", its removal or
// keeping at the end, the signals ignored while the flash changes, and the hand-over of the
// package's data archive.
#pragma once

#include <string>

#include "korv/mtd.h"

#define UPDT_BACKUP_DIR "b@ckup"

// "%s/b@ckup/mtd_%s" of gszWorkDir and a partition name as the flash directory spells it.
std::string UPDTBackupFile(const std::string &name);

// Copies every partition of the flash directory into a new "b@ckup" of the working directory,
// progress 30, 35, ... of `stage`, one value per entry. 0, or -1 after a message.
int UPDTBackupOldPartition(const KORVMTDFISENTRY *entries, int count, char stage = 'P');

// A "b@ckup" already in the working directory: where it is, in syslog, the update log and the
// message file, as `func`, and the code 15; else 0.
int UPDTRefuseOldBackup(const char *func);

// "b@ckup" removed (after a successful write or rollback): the command's result.
int UPDTRemoveBackup(void);
// "b@ckup" kept (after a failed rollback): where it is, in syslog and the update log, as `func`.
void UPDTKeepBackup(const char *func);

// From the first flash change on, a lost terminal or a dead poller must not end the run with the
// flash half-written: SIGHUP, SIGINT, SIGTERM and SIGPIPE are ignored for the rest of it.
void UPDTIgnoreSignals(void);

// "hda1.tgz" of the working directory moved to the volume as "KorvUpgrade.tar.gz", when there is
// one; a failure is logged as `func` and the run goes on.
void UPDTHandOverArchive(const char *func);
