#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include "eventlog_internal.h"
#include "korv_le32.h"

namespace {

using namespace korv::eventlog;

// The file each class shrinks, whatever "/etc/korvlog.conf" names.
const char *const kChangeSizeFiles[9] = {
    nullptr,
    "/var/log/korvsys.log",
    "/var/log/korvman1.log",
    "/var/log/korvconn.log",
    nullptr,
    "/var/log/korvbackup.log",
    "/var/log/korvcopy.log",
    "/var/log/korvnetbkp.log",
    "/var/log/korvsur.log",
};

// Records longer than this are not carried into the shrunk file.
constexpr uint32_t kCopyBuffer = 256;

int gTempCounter = 0;

int LogTempNameGet(const char *path, char *buffer, size_t size)
{
    char suffix[128];
    snprintf(suffix, sizeof suffix, "%d-%d", int(getpid()), gTempCounter++);
    const int n = snprintf(buffer, size, "%s%s", path, suffix);
    return n < 0 || size_t(n) >= size ? -1 : 0;
}

// Copies the records of [from, limit) to out (the file outPath) at *outAt, in order, up to the
// segment's end.
bool CopySegment(int in, uint32_t from, uint32_t limit, int out, const char *outPath, uint32_t *outAt,
                 const char *failure)
{
    char buf[kCopyBuffer];
    uint32_t len = 0;
    for (uint32_t at = from; at < limit && RecordAt(in, at, limit, &len) == At::Record; at += len) {
        if (len >= kCopyBuffer)
            continue;
        if (!ReadAt(in, buf, len, at))
            return true;  // a short record ends the data
        if (!WriteAt(out, outPath, buf, len, *outAt)) {
            syslog(LOG_ERR, "%s", failure);
            return false;
        }
        *outAt += len;
    }
    return true;
}

// Keeps the newest records of path in a new unwrapped file of at most maxSize bytes. The
// writers' lock on the old file is held until the new one has replaced it, so that no record
// appended meanwhile is lost.
int LogCopyToSize(int maxSize, const char *path)
{
    bool busy = false;
    korv::UniqueFd in = OpenLocked(path, O_RDONLY | O_NONBLOCK, 0, &busy);
    if (!in)
        return -1;
    struct stat st {};
    if (fstat(in.get(), &st) != 0)
        return -1;
    const off_t excess = st.st_size - off_t(maxSize);
    if (excess <= 0)
        return 0;  // another process shrank it first
    const uint32_t fileSize = st.st_size > 0xFFFFFFFF ? 0xFFFFFFFF : uint32_t(st.st_size);

    uint32_t head = 0, tail = 0;
    if (!HeadGet(in.get(), &head) || !TailGet(in.get(), &tail) || head < kHeaderSize || tail < kHeaderSize ||
        head > fileSize || tail > fileSize)
        head = tail = kHeaderSize;
    bool wrapped = head > tail;

    off_t dropped = 0;
    uint32_t len = 0;
    while (dropped < excess) {
        if (RecordAt(in.get(), head, wrapped ? fileSize : tail, &len) != At::Record) {
            if (!wrapped)
                break;
            head = kHeaderSize;
            wrapped = false;
            continue;
        }
        head += len;
        dropped += len;
        if (!wrapped && head >= tail)
            break;
    }

    char temp[1024];
    if (LogTempNameGet(path, temp, sizeof temp) != 0)
        return -1;
    korv::UniqueFd out;
    for (int tries = 0; tries < kTries; ++tries) {
        out.reset(open(temp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
        if (out)
            break;
        if (errno == EEXIST) {
            // A copy left by an earlier failed rename: another name.
            if (LogTempNameGet(path, temp, sizeof temp) != 0)
                return -1;
            continue;
        }
        sleep(1);
    }
    if (!out)
        return -1;
    struct RemoveTemp {
        const char *name;
        bool armed = true;
        ~RemoveTemp()
        {
            if (armed)
                unlink(name);
        }
    } removeTemp{temp};

    unsigned char header[kHeaderSize] = {'K', 'O', 'R', 'V'};
    korv::Le32Put(header + 8, kHeaderSize);
    korv::Le32Put(header + 12, kHeaderSize);
    if (!WriteAt(out.get(), temp, header, sizeof header, 0))
        return -1;
    uint32_t outAt = kHeaderSize;
    if (wrapped) {
        if (!CopySegment(in.get(), head, fileSize, out.get(), temp, &outAt, "sdk/korvlog1 : line 533") ||
            !CopySegment(in.get(), kHeaderSize, tail, out.get(), temp, &outAt, "sdk/korvlog1 : line 533"))
            return -1;
    } else {
        char failure[64];
        snprintf(failure, sizeof failure, "sdk/korvlog1 : line %d", 162);
        if (!CopySegment(in.get(), head, tail, out.get(), temp, &outAt, failure))
            return -1;
    }
    if (!TailSet(out.get(), temp, outAt) || fsync(out.get()) != 0 || out.close() != 0)
        return -1;
    if (rename(temp, path) != 0) {
        removeTemp.armed = false;  // the whole copy stays beside the log
        return -1;
    }
    removeTemp.armed = false;
    chmod(path, 0600);
    return 0;  // closing the old file releases the lock
}

}  // namespace

extern "C" int KORVLogChangeSize(int maxSize, int logClass)
{
    if (logClass < 0 || logClass > 8 || !kChangeSizeFiles[logClass])
        return 0;
    const char *path = kChangeSizeFiles[logClass];
    struct stat st {};
    if (stat(path, &st) != 0) {
        syslog(LOG_ERR, "KORVLogChangeSize : logfile %s not existed", path);
        return 0;
    }
    if (st.st_size <= off_t(maxSize))
        return 0;
    return LogCopyToSize(maxSize, path);
}
