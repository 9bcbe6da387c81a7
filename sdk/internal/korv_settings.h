// The device settings, "/etc/korvinfo.conf", read and changed under their named lock
// `lock_korvinfo`: shared for reading, exclusive for changing, 5 seconds unless told.
//
//   korv::LockedSettings settings;              // LOCK_EX, 5 s
//   if (settings.Lock() != 0) return -1;        // 0x0400
//   if (settings.Set("key", "value") < 0) ...   // the writer's code
//   if (settings.Unlock() != 0) ...             // 0x0500
//
// Values are written as key="value" lines. An edit needs the exclusive hold of Lock(): without
// it the file is left alone and the edit fails with 0x0400. A change left without Unlock() is
// released on scope exit. The one-call forms take and release the lock around a single change or
// read.
#pragma once

#include <source_location>

#include "korv/file.h"
#include "korv/file_lock.h"
#include "korv_named_lock.h"

namespace korv {

class LockedSettings {
public:
    explicit LockedSettings(int op = LOCK_EX, int timeout = NamedLock::kTimeout,
                            std::source_location loc = std::source_location::current())
        : lock_(KORL_LOCK_KORVINFO, loc), op_(op), timeout_(timeout)
    {
    }

    int Lock() { return lock_.Take(op_, timeout_); }
    int Unlock() { return lock_.Release(); }

    // The reads, made while Lock() holds.
    // KORLFileGetKeyValue's result: the value's length, 0 when absent, -1 on failure.
    int Get(const char *key, char *value, int size) const
    {
        return KORLFileGetKeyValue(KORV_INFO_CONF, key, value, size, 0);
    }
    // KORLFileCheckKeyValue's result: 1 when key's value is value ignoring ASCII case, else 0.
    int Check(const char *key, const char *value) const
    {
        return KORLFileCheckKeyValue(KORV_INFO_CONF, key, value, 0);
    }
    // KORLFileGetKeys's result over key="value" lines: the keys in *values, or -1.
    int GetKeys(PKORLSZLIST wanted, PKORLSZHASH *values) const
    {
        return KORLFileGetKeys(KORV_INFO_CONF, wanted, values, "=");
    }

    // The edits: only under the exclusive hold, else -1 (0x0400).
    // KORLFileSetKeyValue's result: 1, or -1.
    int Set(const char *key, const char *value) const
    {
        return Editing() ? KORLFileSetKeyValue(KORV_INFO_CONF, key, value, KORL_KEY_FORMAT_QUOTED) : -1;
    }
    // KORLFileRemoveKey's result: lines removed, 0 when none, -1.
    int Remove(const char *key) const { return Editing() ? KORLFileRemoveKey(KORV_INFO_CONF, key) : -1; }
    // KORLFileSetKeys's result: the lines changed, dropped and added, or -1.
    int SetKeys(PKORLSZHASH set, PKORLSZHASH remove = nullptr) const
    {
        return Editing() ? KORLFileSetKeys(KORV_INFO_CONF, set, remove, KORL_KEY_FORMAT_QUOTED) : -1;
    }

    // One key set under the exclusive lock: 0 when the set and the release succeeded, else -1.
    static int SetOne(const char *key, const char *value,
                      std::source_location loc = std::source_location::current())
    {
        LockedSettings settings(LOCK_EX, NamedLock::kTimeout, loc);
        if (settings.Lock() != 0)
            return -1;
        int set = settings.Set(key, value);
        int unlocked = settings.Unlock();
        return set > 0 && unlocked == 0 ? 0 : -1;
    }
    // One key removed under the exclusive lock: the lines removed, 0 when none, or -1 (also when
    // the lock could not be released).
    static int RemoveOne(const char *key, std::source_location loc = std::source_location::current())
    {
        LockedSettings settings(LOCK_EX, NamedLock::kTimeout, loc);
        if (settings.Lock() != 0)
            return -1;
        int removed = settings.Remove(key);
        int unlocked = settings.Unlock();
        return unlocked == 0 ? removed : -1;
    }
    // One key read under the shared lock, waiting up to timeout seconds: Get's result, or -1 when
    // the lock could not be had. A failed release is recorded (0x0500); the value read stands.
    static int GetOne(const char *key, char *value, int size, int timeout = NamedLock::kTimeout,
                      std::source_location loc = std::source_location::current())
    {
        LockedSettings settings(LOCK_SH, timeout, loc);
        if (settings.Lock() != 0)
            return -1;
        int got = settings.Get(key, value, size);
        settings.Unlock();
        return got;
    }

private:
    // Whether this editor holds the lock exclusively; else 0x0400 is recorded where it was made.
    bool Editing() const
    {
        if (lock_.held() && (op_ & LOCK_EX))
            return true;
        ErrAt(KORL_ERR_LOCK, lock_.where());
        return false;
    }

    NamedLock lock_;
    int op_;
    int timeout_;
};

}  // namespace korv
