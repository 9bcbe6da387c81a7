// A file held under flock(2), taken without blocking and tried again within a bound while
// another process holds it. Each caller keeps its own bound, pause and messages:
//
//   korv::LockedFile lock(path, LOCK_EX | LOCK_NB, {.tries = 30, .pause = 1000000});
//   auto open = [&] { return open(path, O_RDONLY | O_CLOEXEC); };
//   switch (lock.Take(open, korv::LockedFile::Reopen::EachTry)) ...
//   int fd = lock.fd();                    // locked; unlocked and closed on scope exit
//
// Nothing here records an error code or writes a message; err() keeps the errno of the failure.
#pragma once

#include <errno.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

#include "korv_unique.h"

namespace korv {

// How often a lock is tried and how long is waited in between.
struct LockBound {
    int tries;                    // attempts in all, the first one included
    useconds_t pause;             // after a failed attempt, before the next one
    int quick = 0;                // failed attempts at the start that are tried again at once
    bool pauseAfterLast = false;  // the last failed attempt is paused after too
    bool whileBusy = true;        // only a lock held elsewhere is tried again; other failures end it
};

class LockedFile {
public:
    enum class Reopen {
        Never,         // the descriptor opened once is tried again
        EachTry,       // every attempt opens the file anew (a missing file ends it at once)
        WhenReplaced,  // a lock on a file that is no longer at the path is dropped and taken anew
    };
    enum class Status { None, Held, Busy, Missing, Failed };

    LockedFile(const char *path, int op, LockBound bound) : path_(path), op_(op), bound_(bound) {}
    LockedFile(const LockedFile &) = delete;
    LockedFile &operator=(const LockedFile &) = delete;
    ~LockedFile() { Unlock(); }

    // open() gives a descriptor of the path, or -1 with errno. Held, or why not, and then no
    // descriptor is kept: Busy when the bound ran out (the lock stayed taken elsewhere, or
    // EachTry could not open the file), Missing when EachTry found no file, Failed when the open
    // or the lock failed otherwise (or the file was replaced under every lock taken).
    template <typename Open>
    Status Take(Open &&open, Reopen reopen = Reopen::Never)
    {
        for (int attempt = 0;;) {
            if (!fd_) {
                fd_.reset(open());
                if (!fd_) {
                    err_ = errno;
                    if (reopen != Reopen::EachTry)
                        return End(Status::Failed);
                    if (err_ == ENOENT)
                        return End(Status::Missing);
                    if (!Failed(attempt++))
                        return End(Status::Busy);
                    continue;
                }
            }
            if (flock(fd_.get(), op_) == 0) {
                if (reopen != Reopen::WhenReplaced || AtPath()) {
                    err_ = 0;
                    return status_ = Status::Held;
                }
                fd_.reset();
                if (++attempt >= bound_.tries)
                    return End(Status::Failed);
                continue;  // the new file is opened at once
            }
            err_ = errno;
            if (bound_.whileBusy && err_ != EWOULDBLOCK && err_ != EINTR)
                return End(Status::Failed);
            if (reopen == Reopen::EachTry)
                fd_.reset();
            if (!Failed(attempt++))
                return End(Status::Busy);
        }
    }
    // Locks a descriptor the caller opened.
    Status Take(UniqueFd fd)
    {
        int given = fd.release();
        return Take([&] { return std::exchange(given, -1); });
    }

    Status status() const { return status_; }
    bool held() const { return status_ == Status::Held; }
    int fd() const { return fd_.get(); }
    int err() const { return err_; }
    // The locked descriptor, for a caller that unlocks and closes it itself.
    UniqueFd Release()
    {
        status_ = Status::None;
        return UniqueFd(fd_.release());
    }
    // LOCK_UN and close: 0, or the failing call's -1.
    int Unlock()
    {
        if (!fd_)
            return 0;
        const bool held = status_ == Status::Held;
        status_ = Status::None;
        int r = held ? flock(fd_.get(), LOCK_UN) : 0;
        return fd_.close() != 0 ? -1 : r;
    }

private:
    // A take that ended without the lock keeps no descriptor.
    Status End(Status status)
    {
        fd_.reset();
        return status_ = status;
    }
    // After failed attempt number `attempt`: pauses as the bound says; false when no try is left.
    bool Failed(int attempt) const
    {
        const bool last = attempt + 1 >= bound_.tries;
        if (attempt >= bound_.quick && (!last || bound_.pauseAfterLast))
            usleep(bound_.pause);
        return !last;
    }
    bool AtPath() const
    {
        struct stat held {}, named {};
        if (fstat(fd_.get(), &held) != 0 || stat(path_, &named) != 0)
            return false;
        return held.st_dev == named.st_dev && held.st_ino == named.st_ino;
    }

    const char *path_;
    int op_;
    LockBound bound_;
    UniqueFd fd_;
    Status status_ = Status::None;
    int err_ = 0;
};

}  // namespace korv
