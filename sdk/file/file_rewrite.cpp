// The temporary-file rewrite shared by every writer that replaces a file as a whole.
#include "korv_rewrite.h"

#include <fcntl.h>
#include <stdint.h>
#include <string.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "korv/error.h"
#include "korv/hash.h"
#include "korv/string.h"
#include "korv_malloc_ptr.h"
#include "korv_staging_record.h"

namespace korv {

void ErrAt(int code, const std::source_location &loc)
{
    const char *file = loc.file_name();
    if (const char *slash = strrchr(file, '/'))
        file = slash + 1;
    KORLErrSetEx(code, file, static_cast<int>(loc.line()));
}

mode_t CreationMode()
{
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

int FileRewrite::Begin(int targetFd, std::source_location loc)
{
    newFile_ = false;
    struct stat st;
    if (fstat(targetFd, &st) != 0) {
        ErrAt(KORL_ERR_STAT, loc);
        return -1;
    }
    if (S_ISDIR(st.st_mode)) {
        ErrAt(KORL_ERR_OPEN, loc);
        return -1;
    }
    return Open(st.st_mode & 07777, st.st_uid, st.st_gid, loc);
}

int FileRewrite::BeginNew(mode_t mode, uid_t uid, gid_t gid, std::source_location loc)
{
    newFile_ = true;
    return Open(mode & 07777, uid, gid, loc);
}

namespace {

// Six letters and digits for a copy's name, as mkstemp picks them: from the kernel's random
// source, or where it has none from the clock, the process and a count.
void RandomSuffix(char *out)
{
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static uint64_t count;
    uint64_t bits = 0;
    if (getrandom(&bits, sizeof bits, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bits)) {
        struct timespec ts = {};
        clock_gettime(CLOCK_REALTIME, &ts);
        bits = (static_cast<uint64_t>(ts.tv_sec) << 30) ^ static_cast<uint64_t>(ts.tv_nsec) ^
               (static_cast<uint64_t>(getpid()) << 20) ^ (++count * 0x9E3779B97F4A7C15ull);
        bits ^= bits >> 31;
        bits *= 0xBF58476D1CE4E5B9ull;
        bits ^= bits >> 27;
    }
    for (int i = 0; i < 6; ++i, bits /= 62)
        out[i] = kLetters[bits % 62];
}

}  // namespace

int FileRewrite::Open(mode_t mode, uid_t uid, gid_t gid, const std::source_location &loc)
{
    if (!path_ || out_ || pending_) {
        ErrAt(KORL_ERR_BAD_PARAM, loc);
        return -1;
    }
    int n = snprintf(temp_, sizeof temp_, "%s.XXXXXX", path_);
    // A cut name would not end in the six letters of a copy, or would name another file.
    if (n < 0 || static_cast<size_t>(n) >= sizeof temp_) {
        temp_[0] = '\0';
        ErrAt(KORL_ERR_BAD_PARAM, loc);
        return -1;
    }
    // As mkstemp makes its file, but the staging record names each copy before it exists, so
    // that a kill at any point leaves no copy it does not name; a name that was taken is done.
    UniqueFd fd;
    for (int tries = 0; !fd; ++tries) {
        RandomSuffix(temp_ + n - 6);
        StagingRecordNamed(temp_, newFile_);
        fd.reset(open(temp_, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (fd)
            break;
        int err = errno;
        StagingRecordDone(temp_);
        if (err != EEXIST || tries >= 100) {
            ErrAt(KORL_ERR_OPEN, loc);
            return -1;
        }
    }
    pending_ = true;
    StagingRecordMade(temp_, fd.get());
    FILE *fp = fdopen(fd.get(), "w");
    if (!fp) {
        ErrAt(KORL_ERR_OPEN, loc);
        fd.reset();
        Abandon();
        return -1;
    }
    fd.release();
    out_.reset(fp);
    mode_ = mode;
    uid_ = uid;
    gid_ = gid;
    last_ = -1;
    return 0;
}

int FileRewrite::Put(const char *data, size_t n, std::source_location loc)
{
    if (!out_) {
        ErrAt(KORL_ERR_WRITE, loc);
        return -1;
    }
    if (n == 0)
        return 0;
    if (fwrite(data, 1, n, out_.get()) != n) {
        ErrAt(KORL_ERR_WRITE, loc);
        return -1;
    }
    last_ = static_cast<unsigned char>(data[n - 1]);
    return 0;
}

int FileRewrite::Put(const char *text, std::source_location loc)
{
    return Put(text, strlen(text), loc);
}

int FileRewrite::PutLine(const char *text, std::source_location loc)
{
    return Put(text, strlen(text), loc) < 0 ? -1 : Put("\n", 1, loc);
}

int FileRewrite::PutKeyLine(const char *format, const char *key, const char *value,
                            std::source_location loc)
{
    if (!KeyLineFormatOk(format)) {
        ErrAt(KORL_ERR_BAD_PARAM, loc);
        return -1;
    }
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    int n = snprintf(nullptr, 0, format, key, value);
    if (n < 0) {
        ErrAt(KORL_ERR_WRITE, loc);
        return -1;
    }
    korv::MallocPtr<char> line(static_cast<char *>(malloc(static_cast<size_t>(n) + 1)));
    if (!line) {
        ErrAt(KORL_ERR_NO_MEMORY, loc);
        return -1;
    }
    snprintf(line.get(), static_cast<size_t>(n) + 1, format, key, value);
#pragma GCC diagnostic pop
    return Put(line.get(), static_cast<size_t>(n), loc);
}

int FileRewrite::EndLine(std::source_location loc)
{
    if (last_ >= 0 && last_ != '\n')
        return Put("\n", 1, loc);
    return 0;
}

int FileRewrite::Commit(CommitStep *failed, std::source_location loc)
{
    if (failed)
        *failed = CommitStep::kNone;
    if (!out_) {
        ErrAt(KORL_ERR_WRITE, loc);
        return -1;
    }
    // errno stays the failed step's, for the caller's message.
    auto fail = [&](CommitStep step, int code) {
        int err = errno;
        if (failed)
            *failed = step;
        ErrAt(code, loc);
        if (step == CommitStep::kRename) {
            // The copy is complete; it stays for whoever looks into the failure.
            pending_ = false;
            StagingRecordDone(temp_);
        } else {
            Abandon();
        }
        errno = err;
        return -1;
    };
    FILE *fp = out_.get();
    int fd = fileno(fp);
    if (fflush(fp) != 0)
        return fail(CommitStep::kFlush, KORL_ERR_WRITE);
    if (fsync(fd) != 0)
        return fail(CommitStep::kSync, KORL_ERR_WRITE);
    if (fchown(fd, uid_, gid_) != 0)
        return fail(CommitStep::kOwner, KORL_ERR_WRITE);
    if (fchmod(fd, mode_) != 0)
        return fail(CommitStep::kMode, KORL_ERR_WRITE);
    if (out_.close() != 0)
        return fail(CommitStep::kClose, KORL_ERR_WRITE);
    if (rename(temp_, path_) != 0)
        return fail(CommitStep::kRename, KORL_ERR_RENAME);
    pending_ = false;
    StagingRecordDone(temp_);
    return 0;
}

void FileRewrite::Abandon()
{
    out_.reset();
    if (pending_) {
        unlink(temp_);
        pending_ = false;
        StagingRecordDone(temp_);
    }
}

bool KeyLineFormatOk(const char *format)
{
    return format && HashFileFormatCheck(format) == 1;
}

bool KeyLineKeyOk(const char *key)
{
    if (!key || !*key || strchr(key, '=') || key[0] == '#' || key[0] == ';' || BreaksLine(key))
        return false;
    // What KORLStrTrimSpace would take away: white space at either end, then enclosing quotes.
    size_t len = strlen(key);
    auto first = static_cast<unsigned char>(key[0]), last = static_cast<unsigned char>(key[len - 1]);
    if (StrIsSpace(first) || StrIsSpace(last))
        return false;
    return !(len >= 2 && first == '"' && last == '"');
}

bool BreaksLine(const char *text, bool brackets)
{
    if (!text)
        return false;
    for (const char *p = text; *p; ++p) {
        if (*p == '\n' || *p == '\r')
            return true;
        if (brackets && (*p == '[' || *p == ']'))
            return true;
    }
    return false;
}

}  // namespace korv
