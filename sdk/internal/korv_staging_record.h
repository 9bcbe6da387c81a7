// The record of the temporary copies that FileRewrite makes beside the files it replaces
// ("/etc/crontab.XXXXXX"). A process killed while a copy is open leaves it behind, mode 0600;
// the next process that keeps a record at the same path removes exactly what the old one names.
//
// The record holds one line per event: "+" and the path as soon as a copy exists (on the medium
// before the copy gets its first byte), "-" and the path once it is renamed or removed.
#pragma once

namespace korv {

// Removes the copies that an earlier record at path leaves open (only plain files of this user
// with one name and the rewrite's form of name, and only when the record is a plain file of this
// user that no one else may write), then opens a new record there: from now on every copy a
// FileRewrite of this process makes is noted in it. Nothing while a record is open. Failures are
// only logged.
void StagingRecordBegin(const char *path);
// Closes and removes the open record (every copy is renamed or removed by then); nothing when
// none is open.
void StagingRecordEnd();

// Notes one copy in the open record: made as soon as it exists, !made once it is renamed over
// its target or removed (or kept after a failed rename). Nothing when no record is open.
void StagingRecordNote(const char *tempPath, bool made);

}  // namespace korv
