// The record of the temporary copies that FileRewrite makes beside the files it replaces
// ("/etc/crontab.XXXXXX"). A process killed while a copy is open leaves it behind; the next
// process that keeps a record at the same path removes exactly what the old one names.
//
// The record holds one line per event, each on the medium before the event it announces:
//   "+PATH"          a copy is about to be made at PATH (before it exists);
//   "*PATH"          the same for the copy of a file that does not exist yet;
//   "=DEV INO PATH"  it was made: the device and inode it has, before it gets its first byte;
//   "-PATH"          it was renamed or removed, or its name was taken by another file.
#pragma once

#include <stddef.h>

namespace korv {

// Longest record the sweep reads: a run makes few copies, and a damaged record must not cost
// the next run its memory or time. What lies beyond is logged and ignored.
constexpr size_t kStagingRecordBound = 256 * 1024;

// Removes the copies that an earlier record at path leaves open, then opens a new record there:
// from now on every copy a FileRewrite of this process makes is noted in it. Nothing while a
// record is open. Failures are only logged.
//
// A line names a copy only when it holds no control byte, its path is absolute with no "." or
// ".." part and no linked folder on the way, the copy stands beside an existing file whose name
// it extends by ".XXXXXX" (unless the record named it as the copy of a new file), and it is a
// plain file of this user with one name that is the file noted: the device and inode of its "="
// line, or, when the kill came before that line, an empty file of mode 0600 made no earlier than
// the record's last line. Only a record that is a plain file of this user that no one else may
// write is read.
void StagingRecordBegin(const char *path);
// Closes and removes the open record (every copy is renamed or removed by then); nothing when
// none is open.
void StagingRecordEnd();

// The notes of one copy. Nothing when no record is open, or when the record belongs to another
// process (a child forked by the one that opened it writes nothing into it).
void StagingRecordNamed(const char *tempPath, bool newFile);
void StagingRecordMade(const char *tempPath, int fd);
void StagingRecordDone(const char *tempPath);

}  // namespace korv
