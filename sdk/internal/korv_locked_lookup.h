// A reader's visit to one of the account or share databases: its named lock taken shared
// (non-blocking, retried for 5 seconds), the database opened and checked, and on every way out the
// database closed and the lock released.
//
//   korv::LockedLookup<KORVUSERDB> db(KORL_LOCK_PW, KORVUserDBOpen, KORVUserDBClose);
//   if (db.Begin() != 0) return -1;           // 0x0400 lock, 0x0900 open
//   ... db.get() ...
//   return db.End() != 0 ? -1 : result;       // 0x0500 when the lock cannot be released
//
// A writer passes LOCK_EX as op: the same visit with the locks held exclusively. Close() ends the
// database's part early (its files complete on disk) while the locks are still held.
//
// Codes are recorded at the calling function.
#pragma once

#include <source_location>

#include "korv/file_lock.h"
#include "korv_named_lock.h"
#include "korv_rewrite.h"

namespace korv {

template <typename Set>
class LockedLookup {
public:
    LockedLookup(unsigned lockBits, Set *(*open)(), void (*close)(Set *), int op = LOCK_SH,
                 std::source_location loc = std::source_location::current())
        : lock_(lockBits, loc), op_(op), open_(open), close_(close), loc_(loc)
    {
    }
    LockedLookup(const LockedLookup &) = delete;
    LockedLookup &operator=(const LockedLookup &) = delete;
    ~LockedLookup() { End(); }

    int Begin()
    {
        if (lock_.Take(op_) != 0) {
            ErrAt(KORL_ERR_LOCK, loc_);
            return -1;
        }
        set_ = open_();
        if (!set_) {
            ErrAt(KORL_ERR_OPEN, loc_);
            return -1;
        }
        return 0;
    }
    Set *get() const { return set_; }
    Set **addr() { return &set_; }
    void Close()
    {
        if (set_)
            close_(set_);
        set_ = nullptr;
    }
    // 0, or -1 when the lock could not be released.
    int End()
    {
        Close();
        return lock_.Release();
    }

private:
    NamedLock lock_;
    int op_;
    Set *(*open_)();
    void (*close_)(Set *);
    std::source_location loc_;
    Set *set_ = nullptr;
};

}  // namespace korv
