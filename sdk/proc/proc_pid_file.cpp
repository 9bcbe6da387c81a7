#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/stat.h>

#include "korv_pid_file.h"
#include "korv_unique.h"

namespace korv::proc {

namespace {

// The pid file opened for reading when it is a plain file (not a link): null with errno set
// otherwise. A FIFO there is never waited on.
FILE *OpenPlain(const char *path)
{
    if (!path) {
        errno = EINVAL;
        return nullptr;
    }
    korv::UniqueFd fd(open(path, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    if (!fd)
        return nullptr;
    struct stat st;
    if (fstat(fd.get(), &st) != 0)
        return nullptr;
    if (!S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return nullptr;
    }
    FILE *fp = fdopen(fd.get(), "r");
    if (fp)
        fd.release();
    return fp;
}

}  // namespace

PidFile ReadPidFile(const char *path)
{
    PidFile f;
    korv::UniqueFile fp(OpenPlain(path));
    if (!fp) {
        f.err = errno;
        f.state = f.err == ENOENT ? PidFile::State::Missing : PidFile::State::Unreadable;
        return f;
    }
    int c = fgetc(fp.get());
    if (c == EOF) {
        f.err = ferror(fp.get()) ? errno : 0;
        f.state = PidFile::State::Empty;
        return f;
    }
    while (c != EOF && isspace(c))
        c = fgetc(fp.get());
    bool negative = false, sign = false;
    if (c == '+' || c == '-') {
        sign = true;
        negative = c == '-';
        c = fgetc(fp.get());
    }
    if (c == EOF || !isdigit(c)) {
        f.state = PidFile::State::NoNumber;
        return f;
    }
    uint64_t number = 0;
    bool overflow = false;
    for (; c != EOF && isdigit(c); c = fgetc(fp.get())) {
        number = number * 10 + static_cast<uint64_t>(c - '0');
        if (number > UINT32_MAX) {
            overflow = true;
            number = UINT32_MAX;
        }
    }
    uint32_t v = static_cast<uint32_t>(number);
    if (overflow)
        v = UINT32_MAX;
    else if (negative)
        v = 0u - v;
    while (c != EOF && isspace(c))
        c = fgetc(fp.get());
    f.state = PidFile::State::Number;
    f.pid = static_cast<int>(v);
    f.plain = !sign && !overflow;
    f.alone = c == EOF && !ferror(fp.get());
    return f;
}

PidSignal SignalPidFile(const char *path, int signal)
{
    PidSignal s;
    const PidFile f = ReadPidFile(path);
    s.err = f.err;
    switch (f.state) {
    case PidFile::State::Missing:
        s.outcome = PidSignal::Outcome::NoFile;
        return s;
    case PidFile::State::Unreadable:
        s.outcome = PidSignal::Outcome::CannotOpen;
        return s;
    case PidFile::State::Empty:
        s.outcome = PidSignal::Outcome::Empty;
        return s;
    case PidFile::State::NoNumber:
    case PidFile::State::Number:
        break;
    }
    if (!f.Signallable()) {
        s.outcome = PidSignal::Outcome::NoPid;
        return s;
    }
    s.pid = f.pid;
    if (kill(f.pid, signal) == 0) {
        s.outcome = PidSignal::Outcome::Sent;
        return s;
    }
    s.err = errno;
    s.outcome = errno == ESRCH ? PidSignal::Outcome::NoProcess : PidSignal::Outcome::KillFailed;
    return s;
}

}  // namespace korv::proc
