#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <string>

#include "eventlog_internal.h"
#include "korv_io.h"
#include "korv_le32.h"
#include "korv_lock_retry.h"

namespace korv::eventlog {

int gLogMaxSize = 65536;

namespace {

bool SameFile(int fd, const char *path)
{
    struct stat held {}, named {};
    if (fstat(fd, &held) != 0 || stat(path, &named) != 0)
        return false;
    return held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

bool WordGet(int fd, off_t at, uint32_t *value)
{
    unsigned char b[4];
    if (!ReadAt(fd, b, sizeof b, at))
        return false;
    *value = Le32Get(b);
    return true;
}

bool WordSet(int fd, const char *path, off_t at, uint32_t value)
{
    unsigned char b[4];
    Le32Put(b, value);
    return WriteAt(fd, path, b, sizeof b, at);
}

}  // namespace

UniqueFd OpenLocked(const char *path, int flags, mode_t mode, bool *lockBusy)
{
    *lockBusy = false;
    int opens = 0;
    // A shrink renames its copy over the log while holding the old file's lock: whoever waited
    // on that lock holds a file that is no longer the log, and waits on the new one instead.
    for (int files = 0; files < kTries; ++files) {
        UniqueFd fd(open(path, flags | O_CLOEXEC, mode));
        while (!fd && ++opens < kTries) {
            sleep(1);
            fd.reset(open(path, flags | O_CLOEXEC, mode));
        }
        if (!fd)
            return fd;
        LockedFile lock(LOCK_EX | LOCK_NB, {.tries = kTries, .pause = 1000000});
        const LockedFile::Status status = lock.Take(std::move(fd));
        if (status != LockedFile::Status::Held) {
            *lockBusy = status == LockedFile::Status::Busy;
            return UniqueFd();
        }
        if (SameFile(lock.fd(), path))
            return lock.Release();
    }
    return UniqueFd();
}

bool ReadAt(int fd, void *buf, size_t n, off_t at)
{
    return ReadFullAt(fd, buf, n, {nullptr, uint64_t(at)}).ok();
}

bool WriteAt(int fd, const char *path, const void *buf, size_t n, off_t at)
{
    IoResult r = WriteAllAt(fd, buf, n, {path, uint64_t(at)});
    if (r.ok())
        return true;
    syslog(LOG_ERR, "sdk/korvlog1: %s", r.Describe().c_str());
    errno = r.err;
    return false;
}

bool HeadGet(int fd, uint32_t *head)
{
    return WordGet(fd, 8, head);
}

bool TailGet(int fd, uint32_t *tail)
{
    return WordGet(fd, 12, tail);
}

bool HeadSet(int fd, const char *path, uint32_t head)
{
    if (!WordSet(fd, path, 8, head) || fsync(fd) != 0) {
        syslog(LOG_ERR, "sdk/korvlog1: line 160");
        return false;
    }
    return true;
}

bool TailSet(int fd, const char *path, uint32_t tail)
{
    if (fsync(fd) != 0 || !WordSet(fd, path, 12, tail)) {
        syslog(LOG_ERR, "sdk/korvlog1: line 138");
        return false;
    }
    return true;
}

bool HeaderInit(int fd, const char *path)
{
    char magic[4];
    if (ReadAt(fd, magic, sizeof magic, 0) && memcmp(magic, "KORV", 4) == 0)
        return true;
    if (!WriteAt(fd, path, "KORV", 4, 0)) {
        syslog(LOG_ERR, "sdk/korvlog1: line 99");
        return false;
    }
    if (!WordSet(fd, path, 8, kHeaderSize)) {
        syslog(LOG_ERR, "sdk/korvlog1: line 104");
        return false;
    }
    if (!WordSet(fd, path, 12, kHeaderSize)) {
        syslog(LOG_ERR, "sdk/korvlog1: line 110");
        return false;
    }
    return true;
}

At RecordAt(int fd, uint32_t offset, uint32_t limit, uint32_t *length)
{
    unsigned char b[2];
    if (!ReadAt(fd, b, sizeof b, offset))
        return At::End;
    const uint32_t n = uint32_t(b[0]) | uint32_t(b[1]) << 8;
    if (n == 0)
        return At::End;
    if (n < kFixedSize || offset > limit || n > limit - offset)
        return At::Corrupt;
    *length = n;
    return At::Record;
}

}  // namespace korv::eventlog
