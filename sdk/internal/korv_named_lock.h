// One hold of named locks (the lock files under "/tmp/lock/") for the length of a scope: taken
// non-blocking and retried for the timeout, released on every way out.
//
//   korv::NamedLock lock(KORL_LOCK_KORVINFO);
//   if (lock.Take(LOCK_EX) != 0) return -1;    // 0x0400, recorded by the lock
//   ...
//   return lock.Release() != 0 ? -1 : 0;       // 0x0500 recorded at the caller
//
// A release left to the destructor records its failure the same way; only its result is lost.
#pragma once

#include <source_location>

#include "korv/error.h"
#include "korv/file_lock.h"
#include "korv_rewrite.h"

namespace korv {

class NamedLock {
public:
    static constexpr int kTimeout = 5;

    explicit NamedLock(unsigned bits, std::source_location loc = std::source_location::current())
        : bits_(bits & ~static_cast<unsigned>(KORL_LOCK_OP_MASK)), loc_(loc)
    {
    }
    NamedLock(const NamedLock &) = delete;
    NamedLock &operator=(const NamedLock &) = delete;
    ~NamedLock() { Release(); }

    // op is LOCK_SH or LOCK_EX; LOCK_NB is always added. 0, or -1 when not every lock could be had.
    int Take(int op, int timeout = kTimeout)
    {
        if (held_)
            return 0;
        if (ErrKORLFileLock(bits_ | static_cast<unsigned>(op) | LOCK_NB, timeout) != 0)
            return -1;
        held_ = true;
        return 0;
    }
    bool held() const { return held_; }
    // 0 (also when nothing is held), or -1 with 0x0500 when a lock could not be released.
    int Release()
    {
        if (!held_)
            return 0;
        held_ = false;
        if (ErrKORLFileUnlock(bits_) != 0) {
            ErrAt(KORL_ERR_UNLOCK, loc_);
            return -1;
        }
        return 0;
    }
    const std::source_location &where() const { return loc_; }

private:
    unsigned bits_;
    std::source_location loc_;
    bool held_ = false;
};

}  // namespace korv
