#include <ctype.h>
#include <errno.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>

#include "korv_pid_file.h"
#include "korv_unique.h"

namespace korv::proc {

PidFile ReadPidFile(const char *path)
{
    PidFile f;
    korv::UniqueFile fp(path ? fopen(path, "r") : nullptr);
    if (!fp) {
        f.err = path ? errno : EINVAL;
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
