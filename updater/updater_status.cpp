// The status files that the user interface follows: progress, the message for the user and the
// update log.
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "korv/error.h"
#include "korv/file.h"
#include "korv/log.h"
#include "korv_malloc_ptr.h"
#include "korv_unique.h"
#include "updater.h"

namespace {

constexpr int kLockRetries = 20;
constexpr useconds_t kLockPause = 337;

// The file opened for update, else created; never through a link, which would let another
// process point the updater's writes elsewhere.
korv::UniqueFile OpenStatusFile(const char *path)
{
    int fd = open(path, O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    const char *mode = "r+";
    if (fd < 0) {
        fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
        mode = "w";
    }
    if (fd < 0)
        return {};
    korv::UniqueFile fp(fdopen(fd, mode));
    if (!fp)
        close(fd);
    return fp;
}

}  // namespace

int UPDTWriteStatusFile(const char *path, const char *text, int retry)
{
    if (!path || !text)
        return -1;
    korv::UniqueFile fp = OpenStatusFile(path);
    if (!fp)
        return -1;
    int fd = fileno(fp.get());
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (!retry)
            return -2;
        // The reader holds the lock only for a moment: a few quick retries, then the value is
        // skipped rather than the update held up.
        bool locked = false;
        for (int i = 0; i < kLockRetries && !locked; ++i) {
            locked = flock(fd, LOCK_EX | LOCK_NB) == 0;
            if (!locked)
                usleep(kLockPause);
        }
        if (!locked)
            return -2;
    }
    // Written out before the lock goes, so a reader never sees a value half there.
    int result = fputs(text, fp.get()) < 0 || fflush(fp.get()) != 0 ? -3 : 0;
    flock(fd, LOCK_UN);
    return result;
}

int UPDTSetProgress(char stage, int value)
{
    char text[32];
    snprintf(text, sizeof text, "%c:%d:      ", stage, value);
    return UPDTWriteStatusFile(UPDT_PROGRESS_FILE, text, 1);
}

int UPDTSetMessage(const char *key, const char *value)
{
    if (!key || !value)
        return -1;
    std::string text = std::string(key) + "=\"" + value + "\"";
    return UPDTWriteStatusFile(UPDT_MESSAGE_FILE, text.c_str(), 1);
}

int UPDTSetExtraMessage(const char *sentence)
{
    if (KORLFileSetKeyValue(UPDT_MESSAGE_FILE, "extramsg", sentence, KORL_KEY_FORMAT_QUOTED) > 0)
        return 1;
    syslog(LOG_ERR, "%s:%d can not set [extramsg] in %s, korverr=0x%04X", UPDT_SOURCE, __LINE__, UPDT_MESSAGE_FILE,
           KORLErrGet());
    return -1;
}

void UPDTLogInit(void)
{
    struct stat st {};
    if (stat(UPDT_LOG_FILE, &st) == 0 && static_cast<int64_t>(st.st_size) > UPDT_LOG_CLEAR_SIZE)
        KORLErrorLogClear(UPDT_LOG_FILE);
}

void UPDTLog(const char *text)
{
    if (!text)
        return;
    char stamp[64] = {};
    time_t now = time(nullptr);
    struct tm tm {};
    if (localtime_r(&now, &tm))
        strftime(stamp, sizeof stamp, "%Y/%m/%d %H:%M:%S", &tm);
    // Sized from the stamp as written: a year past 9999 makes it longer than usual.
    size_t size = strlen(stamp) + 1 + strlen(text) + 1;
    korv::MallocPtr<char> line(static_cast<char *>(malloc(size)));
    if (!line)
        return;
    snprintf(line.get(), size, "%s\t%s", stamp, text);
    KORLErrorLogSet(UPDT_LOG_FILE, line.get());
}

void UPDTLogFormat(const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    char *text = nullptr;
    int n = vasprintf(&text, format, ap);
    va_end(ap);
    if (n < 0)
        return;
    korv::MallocPtr<char> owned(text);
    UPDTLog(owned.get());
}
