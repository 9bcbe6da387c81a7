// The ring file's pieces shared by the writer and the shrink: the locked open, positioned reads
// and writes that check their counts, the header fields and the walk over record lengths.
#pragma once

#include <stdint.h>
#include <sys/types.h>

#include "korv/eventlog.h"
#include "korv_unique.h"

namespace korv::eventlog {

constexpr uint32_t kHeaderSize = KORV_LOG_HEADER_SIZE;
constexpr uint32_t kFixedSize = KORV_LOG_RECORD_FIXED;
constexpr uint32_t kMarkerSize = KORV_LOG_END_MARKER;
// The smallest maximum that holds the header, one record and the end marker.
constexpr int kMinMaxSize = int(kHeaderSize + kFixedSize + kMarkerSize);
// open and flock are tried this often, one second apart.
constexpr int kTries = 11;

// The maximum size of the log being written, set by KORVLogSet1 before every write.
extern int gLogMaxSize;

// Opens path with flags (mode for a new file), then takes the writers' exclusive lock; a file
// that a shrink replaced meanwhile is opened anew, so the lock is always on the file at path.
// Invalid when the file cannot be opened (*lockBusy false) or stays locked (*lockBusy true).
UniqueFd OpenLocked(const char *path, int flags, mode_t mode, bool *lockBusy);

bool ReadAt(int fd, void *buf, size_t n, off_t at);
// A failed write is logged with path, the file fd has open, and the byte range.
bool WriteAt(int fd, const char *path, const void *buf, size_t n, off_t at);

// Head and tail of the header; false when 4 bytes cannot be read.
bool HeadGet(int fd, uint32_t *head);
bool TailGet(int fd, uint32_t *tail);
// The head is written and then synced; the tail is written after a sync of the records.
bool HeadSet(int fd, const char *path, uint32_t head);
bool TailSet(int fd, const char *path, uint32_t tail);
// "KORV" with head = tail = 16 unless the magic is there already; false on a write failure.
bool HeaderInit(int fd, const char *path);

// What stands at an offset of a walk: a record of `length` bytes, the end of the data (an end
// marker or the end of the file), or bytes that are no record (a length below the fixed part, or
// one that runs past `limit`).
enum class At { Record, End, Corrupt };
At RecordAt(int fd, uint32_t offset, uint32_t limit, uint32_t *length);

}  // namespace korv::eventlog
