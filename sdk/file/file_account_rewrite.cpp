// The account-file rewrite shared by the account databases' dumps.
#include "korv_account_rewrite.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "korv/error.h"
#include "korv_log_at.h"
#include "korv_rewrite.h"

namespace korv {

int AccountTempPath(const AccountFile &file, char *out, size_t size)
{
    int n = file.temp ? snprintf(out, size, "%s", file.temp) : snprintf(out, size, "%s.tmp", file.path);
    return n < 0 || static_cast<size_t>(n) >= size ? -1 : 0;
}

int AccountRewrite::Open(std::source_location loc)
{
    if (count_ > kMaxFiles) {
        ErrAt(KORL_ERR_BAD_PARAM, loc);
        return -1;
    }
    for (int i = 0; i < count_; i++) {
        char tmp[4096] = "";
        const AccountFile &f = files_[i];
        int fd = -1;
        if (AccountTempPath(f, tmp, sizeof tmp) == 0 && (unlink(tmp) == 0 || errno == ENOENT)) {
            // Made afresh, never through a link, and readable by nobody else until its mode is set.
            fd = open(tmp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        }
        if (fd >= 0) {
            made_[i] = true;
            struct stat st;
            int r;
            if (stat(f.path, &st) == 0)
                r = (fchown(fd, st.st_uid, st.st_gid) == 0 && fchmod(fd, st.st_mode & 07777) == 0) ? 0 : -1;
            else
                r = errno == ENOENT && fchmod(fd, f.newMode) == 0 ? 0 : -1;
            FILE *fp = r == 0 ? fdopen(fd, "w") : nullptr;
            if (fp) {
                out_[i].reset(fp);
                continue;
            }
            close(fd);
        }
        LogAt(LOG_ERR, loc, "%s[%s]", messages_.openFailed, tmp);
        ErrAt(KORL_ERR_OPEN, loc);
        Abandon();
        return -1;
    }
    return 0;
}

int AccountRewrite::PutLine(int i, const char *text, size_t len, std::source_location loc)
{
    FILE *fp = i >= 0 && i < count_ ? out_[i].get() : nullptr;
    if (!fp || fwrite(text, 1, len, fp) != len || putc('\n', fp) == EOF) {
        ErrAt(messages_.noSpaceCode && errno == ENOSPC ? KORL_ERR_NO_SPACE : KORL_ERR_WRITE, loc);
        return -1;
    }
    return 0;
}

int AccountRewrite::PutRecord(int i, const char *text, size_t len, const char *what, std::source_location loc)
{
    if (memchr(text, '\n', len) || memchr(text, '\r', len)) {
        ErrAt(KORL_ERR_MALFORMED, loc);
        LogAt(LOG_ERR, loc, "record [%s] holds a line break, korverr=0x%04X", what, KORL_ERR_MALFORMED);
        return -1;
    }
    return PutLine(i, text, len, loc);
}

int AccountRewrite::PutLine(int i, const char *text, std::source_location loc)
{
    return PutLine(i, text, strlen(text), loc);
}

int AccountRewrite::Finish(std::source_location loc)
{
    for (int i = 0; i < count_; i++) {
        FILE *fp = out_[i].get();
        if (!fp || fflush(fp) != 0 || ferror(fp)) {
            int err = errno;
            LogAt(LOG_ERR, loc, "%s errno=%d/%m", messages_.flushFailed, err);
            ErrAt(messages_.noSpaceCode && err == ENOSPC ? KORL_ERR_NO_SPACE : KORL_ERR_WRITE, loc);
            Abandon();
            return -1;
        }
        if (fsync(fileno(fp)) != 0) {
            LogAt(LOG_ERR, loc, "fsync() failed!! errno=%d/%m", errno);
            ErrAt(KORL_ERR_WRITE, loc);
            Abandon();
            return -1;
        }
        if (out_[i].close() != 0) {
            ErrAt(KORL_ERR_WRITE, loc);
            Abandon();
            return -1;
        }
    }
    finished_ = true;
    return 0;
}

void AccountRewrite::Abandon()
{
    if (finished_)
        return;
    for (int i = 0; i < count_ && i < kMaxFiles; i++) {
        out_[i].reset();
        char tmp[4096];
        if (made_[i] && AccountTempPath(files_[i], tmp, sizeof tmp) == 0)
            unlink(tmp);
        made_[i] = false;
    }
}

int AccountRenameTemps(const AccountFile *files, int count, std::source_location loc, bool log, int *failed)
{
    for (int i = 0; i < count; i++) {
        char tmp[4096];
        struct stat st;
        if (AccountTempPath(files[i], tmp, sizeof tmp) != 0 || lstat(tmp, &st) != 0)
            continue;
        if (rename(tmp, files[i].path) != 0) {
            int err = errno;
            if (log)
                LogAt(LOG_WARNING, loc, "rename %s file failed!", tmp);
            if (failed)
                *failed = i;
            ErrAt(KORL_ERR_RENAME, loc);
            errno = err;
            return -1;
        }
    }
    return 0;
}

int AccountRemoveTemps(const AccountFile *files, int count, std::source_location loc, bool log,
                       void (*report)(int index, int err))
{
    int result = 0;
    for (int i = 0; i < count; i++) {
        char tmp[4096];
        struct stat st;
        if (AccountTempPath(files[i], tmp, sizeof tmp) != 0 || lstat(tmp, &st) != 0)
            continue;
        if (unlink(tmp) != 0) {
            if (log)
                LogAt(LOG_WARNING, loc, "remove %s file failed!", tmp);
            else if (report)
                report(i, errno);
            ErrAt(KORL_ERR_UNLINK_TEMP, loc);
            result = -1;
        }
    }
    return result;
}

}  // namespace korv
