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
#include "korv_io.h"
#include "korv_malloc_ptr.h"
#include "korv_unique.h"
#include "updater.h"

namespace {

constexpr int kLockRetries = 20;
constexpr useconds_t kLockPause = 337;

// The file opened for update, else created; never through a link, which would let another
// process point the updater's writes elsewhere, and never waiting: a FIFO opens at once and its
// writes fail rather than wait for a reader. A file with a second name could be any file of the
// device, so it is not written. A file made anew is emptied only once it is known to be ours
// alone.
korv::UniqueFd OpenStatusFile(const char *path)
{
    korv::UniqueFd fd(open(path, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    bool created = false;
    if (!fd) {
        fd.reset(open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666));
        created = true;
    }
    struct stat st {};
    if (!fd || fstat(fd.get(), &st) != 0 || (S_ISREG(st.st_mode) && st.st_nlink > 1))
        return {};
    if (created && S_ISREG(st.st_mode) && ftruncate(fd.get(), 0) != 0)
        return {};
    return fd;
}

// The progress text last written, and the file as that write left it: the same text again into
// the same, untouched file is not written.
struct LastProgress {
    std::string text;
    dev_t dev = 0;
    ino_t ino = 0;
    struct timespec mtime {};
    off_t size = 0;
};
LastProgress gLastProgress;

bool SameFile(const struct stat &st, const LastProgress &last)
{
    return st.st_dev == last.dev && st.st_ino == last.ino && st.st_size == last.size &&
           st.st_mtim.tv_sec == last.mtime.tv_sec && st.st_mtim.tv_nsec == last.mtime.tv_nsec;
}

}  // namespace

int UPDTWriteStatusFile(const char *path, const char *text, int retry)
{
    if (!path || !text)
        return -1;
    korv::UniqueFd fd = OpenStatusFile(path);
    if (!fd)
        return -1;
    // The reader holds the lock only for a moment: one try, then a few quick retries, the first at
    // once and each failed one followed by a short pause; a value still locked out is skipped
    // rather than the update held up.
    bool locked = flock(fd.get(), LOCK_EX | LOCK_NB) == 0;
    for (int i = 0; !locked && retry && i < kLockRetries; ++i) {
        locked = flock(fd.get(), LOCK_EX | LOCK_NB) == 0;
        if (!locked)
            usleep(kLockPause);
    }
    if (!locked)
        return -2;
    // Written out before the lock goes, so a reader never sees a value half there. At the file's
    // start, where the open left the descriptor: a FIFO has no offset to write at.
    const int result = korv::WriteAll(fd.get(), text, strlen(text), {path, 0}).ok() ? 0 : -3;
    flock(fd.get(), LOCK_UN);
    return result;
}

int UPDTSetProgress(char stage, int value)
{
    char text[32];
    snprintf(text, sizeof text, "%c:%d:      ", stage, value);
    struct stat st {};
    if (text == gLastProgress.text && lstat(UPDT_PROGRESS_FILE, &st) == 0 && SameFile(st, gLastProgress))
        return 0;
    gLastProgress.text.clear();
    int result = UPDTWriteStatusFile(UPDT_PROGRESS_FILE, text, 1);
    if (result == 0 && lstat(UPDT_PROGRESS_FILE, &st) == 0)
        gLastProgress = {text, st.st_dev, st.st_ino, st.st_mtim, st.st_size};
    return result;
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
