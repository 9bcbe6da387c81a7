#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <new>
#include <string>

#include "eventlog_internal.h"
#include "korv/error.h"
#include "korv/file.h"
#include "korv/user.h"
#include "korv_le32.h"

namespace {

using namespace korv::eventlog;

struct LogClass {
    const char *fileKey;
    const char *sizeKey;
    const char *defaultFile;
    int defaultMax;
};

// Indexed by class; class 4 has no log.
const LogClass kClasses[9] = {
    {},
    {"syslogfile", "syslogfilesize_MAX", "/var/log/korvsys.log", 131072},
    {"syslogfile", "syslogfilesize_MAX", "/var/log/korvsys.log", 131072},
    {"connlogfile", "connlogfilesize_MAX", "/var/log/korvconn.log", 65536},
    {},
    {"bkplogfile", "bkplogfilesize_MAX", "/var/log/korvbackup.log", 65536},
    {"copylogfile", "copylogfilesize_MAX", "/var/log/korvcopy.log", 65536},
    {"netbkplogfile", "netbkplogfilesize_MAX", "/var/log/korvnetbkp.log", 65536},
    {"surlogfile", "surlogfilesize_MAX", "/var/log/korvsur.log", 65536},
};

char gUserName[256];

const char *LogUserNameGet()
{
    memset(gUserName, 0, sizeof gUserName);
    if (const char *env = getenv("USERNAME")) {
        snprintf(gUserName, sizeof gUserName, "%s", env);
    } else {
        KORVUSER *user = nullptr;
        if (KORVUserGetByUid(int(geteuid()), &user) == 0 && user && user->szName)
            snprintf(gUserName, sizeof gUserName, "%s", user->szName);
        KORVUserFree(user);
    }
    if (strcmp(gUserName, "root") == 0)
        snprintf(gUserName, sizeof gUserName, "admin");
    return gUserName;
}

void Put16(std::string &rec, size_t at, size_t v)
{
    rec[at] = char(v & 0xFF);
    rec[at + 1] = char((v >> 8) & 0xFF);
}

// The record in its stored form; empty when its texts do not fit the 16-bit length fields.
std::string LogRecordBuild(int level, unsigned eventCode, const char *const texts[4])
{
    const char *parts[6] = {program_invocation_short_name, LogUserNameGet(), texts[0], texts[1], texts[2],
                            texts[3]};
    size_t lengths[6];
    size_t total = kFixedSize;
    for (int i = 0; i < 6; ++i) {
        lengths[i] = strlen(parts[i]);
        total += lengths[i];
        if (total > 0xFFFF)
            return {};
    }
    std::string rec(kFixedSize, '\0');
    Put16(rec, 0, total);
    Put16(rec, 2, unsigned(level) & 0xFFFF);
    korv::Le32Put(&rec[4], uint32_t(time(nullptr)));
    Put16(rec, 8, lengths[0]);
    Put16(rec, 10, lengths[1]);
    korv::Le32Put(&rec[12], eventCode);
    for (int i = 0; i < 4; ++i)
        Put16(rec, 16 + 2 * size_t(i), lengths[2 + i]);
    for (int i = 0; i < 6; ++i)
        rec.append(parts[i], lengths[i]);
    return rec;
}

// The caller's last error stays as it was across the readers and the user lookup, which record
// codes of their own (a missing key is 0x2000).
class ErrorKept {
public:
    ErrorKept() : code_(KORLErrGet()), file_(KORLErrFileGet()), line_(KORLErrLineGet()) {}
    ErrorKept(const ErrorKept &) = delete;
    ErrorKept &operator=(const ErrorKept &) = delete;
    ~ErrorKept()
    {
        if (KORLErrGet() != code_ || KORLErrFileGet() != file_ || KORLErrLineGet() != line_)
            KORLErrSetEx(code_, file_, line_);
    }

private:
    int code_;
    const char *file_;
    int line_;
};

uint32_t RoomAfter(uint32_t tail, uint32_t max)
{
    return tail >= max - kMarkerSize ? 0 : max - tail - kMarkerSize;
}

bool WriteMarker(int fd, const char *path, uint32_t at, const char *failure)
{
    static const char marker[kMarkerSize] = {0, 0};
    if (!WriteAt(fd, path, marker, sizeof marker, at)) {
        syslog(LOG_ERR, "%s", failure);
        return false;
    }
    return true;
}

// Every old record has been dropped: the ring is made empty at 16 (tail first, so that no
// moment shows old bytes as records) and the new record goes there.
bool EmptyRing(int fd, const char *path, uint32_t *head, uint32_t *tail)
{
    if (!TailSet(fd, path, kHeaderSize) || !HeadSet(fd, path, kHeaderSize))
        return false;
    *head = *tail = kHeaderSize;
    return true;
}

void LogCorrupt(const char *path, uint32_t at)
{
    syslog(LOG_ERR, "logfile %s holds no record at %u", path, unsigned(at));
}

// Where the record of len bytes goes, dropping the oldest records as needed and writing the head
// as it moves; false ends the write.
bool MakeRoom(int fd, const char *path, uint32_t len, uint32_t max, uint32_t fileSize, uint32_t *head,
              uint32_t *tail)
{
    uint32_t h = *head, t = *tail, n = 0;
    if (t >= h) {
        if (RoomAfter(t, max) >= len)
            return true;
        if (!WriteMarker(fd, path, t, "sdk/korvlog1 : lline 349"))
            return false;
        for (uint32_t freed = 0; freed <= len;) {
            if (h == t)
                return EmptyRing(fd, path, head, tail);
            if (RecordAt(fd, h, t, &n) != At::Record) {
                LogCorrupt(path, h);
                return false;
            }
            h += n;
            freed += n;
            if (!HeadSet(fd, path, h))
                return false;
        }
        *head = h;
        *tail = kHeaderSize;
        return true;
    }

    // Wrapped: the old segment runs from head to its end marker (or the file end), the newer one
    // from 16 to tail.
    uint32_t gap = h - t;
    uint32_t limit = fileSize;
    bool secondEnd = false;
    while (gap <= len) {
        const At at = RecordAt(fd, h, limit, &n);
        if (at == At::Corrupt) {
            LogCorrupt(path, h);
            return false;
        }
        if (at == At::Record) {
            h += n;
            gap += n;
            if (!HeadSet(fd, path, h))
                return false;
            continue;
        }
        // The end of the segment being dropped. A second one in this write means every record
        // has gone.
        if (secondEnd || t == kHeaderSize)
            return EmptyRing(fd, path, head, tail);
        secondEnd = true;
        uint32_t first = 0;
        if (RecordAt(fd, kHeaderSize, t, &first) != At::Record) {
            syslog(LOG_ERR, "sdk/korvlog1 : lline %d", 150);
            return false;
        }
        if (RoomAfter(t, max) >= len) {
            // The rest of the old segment goes; the newer one stays and the record follows it.
            if (!HeadSet(fd, path, kHeaderSize))
                return false;
            *head = kHeaderSize;
            return true;
        }
        if (!WriteMarker(fd, path, t, "sdk/korvlog1 : lline 410"))
            return false;
        // The newer segment, now ended by that marker, is dropped from its first record on; the
        // record goes at 16.
        limit = t;
        h = kHeaderSize + first;
        gap = first;
        t = kHeaderSize;
        if (!HeadSet(fd, path, h))
            return false;
    }
    *head = h;
    *tail = t;
    return true;
}

int LogRingWrite(const char *path, const std::string &rec)
{
    bool busy = false;
    korv::UniqueFd fd = OpenLocked(path, O_RDWR | O_NONBLOCK | O_CREAT, 0600, &busy);
    if (!fd) {
        if (!busy)
            syslog(LOG_ERR, "logfile %s open error while writing!", path);
        return -1;
    }
    // Every failure below closes the file, which releases the lock.
    if (!HeaderInit(fd.get(), path))
        return -1;
    struct stat st {};
    if (fstat(fd.get(), &st) != 0)
        return -1;
    const uint32_t fileSize = st.st_size > 0xFFFFFFFF ? 0xFFFFFFFF : uint32_t(st.st_size);
    uint32_t head = 0, tail = 0;
    // A header whose offsets point outside the file describes no records: the ring starts anew.
    if (!HeadGet(fd.get(), &head) || !TailGet(fd.get(), &tail) || head < kHeaderSize ||
        tail < kHeaderSize || head > fileSize || tail > fileSize) {
        if (!HeadSet(fd.get(), path, kHeaderSize) || !TailSet(fd.get(), path, kHeaderSize))
            return -1;
        head = tail = kHeaderSize;
    }

    const uint32_t len = uint32_t(rec.size());
    const uint32_t max = uint32_t(gLogMaxSize);
    if (!MakeRoom(fd.get(), path, len, max, fileSize, &head, &tail))
        return -1;
    if (!WriteAt(fd.get(), path, rec.data(), len, tail)) {
        syslog(LOG_ERR, "sdk/korvlog1 : line 335");
        return -1;
    }
    if (!TailSet(fd.get(), path, tail + len))
        return -1;
    flock(fd.get(), LOCK_UN);
    if (fd.close() != 0)
        return -1;
    chmod(path, 0600);
    return 0;
}

// strtol as on the 32-bit device: saturated to the int range.
int SizeValue(const char *text)
{
    long v = strtol(text, nullptr, 10);
    if (v > INT_MAX)
        return INT_MAX;
    if (v < INT_MIN)
        return INT_MIN;
    return int(v);
}

}  // namespace

extern "C" int KORVLogSet1(int logClass, int level, unsigned int eventCode, const char *s1, const char *s2,
                           const char *s3, const char *s4)
{
    if (logClass < 1 || logClass > 8) {
        syslog(LOG_ERR, "logclass error!");
        return -1;
    }
    if (logClass == 4)
        return -1;
    const LogClass &cls = kClasses[logClass];
    const int sizeClass = logClass == 2 ? 1 : logClass;

    struct stat st {};
    bool changeSize = true;
    const bool confMissing = stat(KORV_LOG_CONF, &st) != 0;
    if (confMissing) {
        if (KORVLogSetLogConf() != 0)
            return -1;
        gLogMaxSize = cls.defaultMax;
    }
    ErrorKept kept;
    if (!confMissing) {
        if (logClass >= 3)
            syslog(LOG_INFO, "KORV : log file %s opened", KORV_LOG_CONF);
        char size[11];
        gLogMaxSize = cls.defaultMax;
        changeSize = false;
        // A maximum that cannot hold the header, one record and the end marker counts as absent.
        if (KORLFileGetKeyValue(KORV_LOG_CONF, cls.sizeKey, size, sizeof size, 0) > 0 &&
            SizeValue(size) >= kMinMaxSize) {
            gLogMaxSize = SizeValue(size);
            changeSize = true;
        }
    }

    const char *texts[4] = {s1, s2, s3, s4};
    for (const char *&text : texts) {
        if (!text)
            text = "";
        else if (!*text)
            text = " ";
    }
    std::string rec;
    try {
        rec = LogRecordBuild(level, eventCode, texts);
    } catch (const std::bad_alloc &) {
        syslog(LOG_ERR, "out of memory for a record of class %d", logClass);
        return -1;
    }
    // Refused before any file is touched: a record over 65535 bytes, or one that the ring cannot
    // hold between its header and the end marker.
    if (rec.empty() || rec.size() > size_t(gLogMaxSize) - kHeaderSize - kMarkerSize) {
        syslog(LOG_ERR, "record of class %d does not fit its log", logClass);
        return -1;
    }

    if (changeSize)
        KORVLogChangeSize(gLogMaxSize, sizeClass);

    char file[32];
    const char *path = file;
    if (KORLFileGetKeyValue(KORV_LOG_CONF, cls.fileKey, file, sizeof file, 0) <= 0)
        path = cls.defaultFile;
    return LogRingWrite(path, rec) == 0 ? 0 : -1;
}
