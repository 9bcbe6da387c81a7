// A descriptor held under flock(2), taken without blocking and tried again within a bound while
// another process holds it. Each caller opens its file and keeps its own bound and messages:
//
//   korv::LockedFile lock(LOCK_EX | LOCK_NB, {.tries = 101, .pause = 50000});
//   if (lock.Take(korv::UniqueFd(open(path, O_RDWR | O_CLOEXEC))) != korv::LockedFile::Status::Held) ...
//   int fd = lock.fd();                    // locked; unlocked and closed on scope exit
//
// Nothing here records an error code or writes a message; err() keeps the errno of the failure.
#pragma once

#include <errno.h>
#include <sys/file.h>
#include <unistd.h>

#include <utility>

#include "korv_unique.h"

namespace korv {

// How often a lock is tried and how long is waited in between.
struct LockBound {
    int tries;          // attempts in all, the first one included
    useconds_t pause;   // after a failed attempt, before the next one
};

class LockedFile {
public:
    enum class Status { None, Held, Busy, Failed };

    LockedFile(int op, LockBound bound) : op_(op), bound_(bound) {}
    LockedFile(const LockedFile &) = delete;
    LockedFile &operator=(const LockedFile &) = delete;
    ~LockedFile() { Unlock(); }

    // Locks the descriptor, and keeps it only when Held. Only a lock held elsewhere is tried
    // again: Busy when it stayed so for the whole bound, Failed at once when flock failed
    // otherwise (an empty descriptor included).
    Status Take(UniqueFd fd)
    {
        fd_ = std::move(fd);
        for (int attempt = 1;; ++attempt) {
            if (flock(fd_.get(), op_) == 0) {
                err_ = 0;
                return status_ = Status::Held;
            }
            err_ = errno;
            if (err_ != EWOULDBLOCK && err_ != EINTR)
                return End(Status::Failed);
            if (attempt >= bound_.tries)
                return End(Status::Busy);
            usleep(bound_.pause);
        }
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

    int op_;
    LockBound bound_;
    UniqueFd fd_;
    Status status_ = Status::None;
    int err_ = 0;
};

}  // namespace korv
