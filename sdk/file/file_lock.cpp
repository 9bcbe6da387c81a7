#include <fcntl.h>
#include <unistd.h>

#include "file_lock_table.h"
#include "korv/file_lock.h"
#include "korv_internal.h"
#include "korv_unique.h"

namespace {

constexpr long long kRetryMs = 50;

enum class Attempt { Obtained, Busy, Refused };

// Opens a lock file for the hold itself: close-on-exec, so programs started while it is held
// do not keep the lock alive, and never through a symbolic link.
FILE *open_lock_file(const char *path)
{
    korv::UniqueFd fd(open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd)
        return nullptr;
    FILE *fp = fdopen(fd.get(), "r");
    if (fp)
        fd.release();
    return fp;
}

bool holds_shared_only(int op)
{
    return (op & LOCK_SH) && !(op & LOCK_EX);
}

// One walk of the table; on anything but success the holds of this walk are given back.
Attempt try_once(unsigned int wanted, int op)
{
    unsigned int touched = 0;
    for (KORLLOCKFILE *entry = gKORLLockFiles; entry->bit != 0; ++entry) {
        if (!(entry->bit & wanted))
            continue;
        if (entry->fp) {
            // A shared hold cannot turn exclusive by adding a hold: the caller would write
            // under a lock that other readers share. Waiting would only wait for ourselves.
            if (holds_shared_only(entry->heldOp) && (op & LOCK_EX)) {
                ErrKORLFileUnlock(touched);
                return Attempt::Refused;
            }
            ++entry->refCount;
            touched |= entry->bit;
            continue;
        }
        FILE *fp = open_lock_file(entry->path);
        if (!fp)
            continue;  // stays missing for this attempt
        if (flock(fileno(fp), op) != 0) {
            fclose(fp);
            ErrKORLFileUnlock(touched);
            return Attempt::Busy;
        }
        entry->fp = fp;
        entry->refCount = 1;
        entry->heldOp = op;
        touched |= entry->bit;
    }
    if (touched == wanted)
        return Attempt::Obtained;
    ErrKORLFileUnlock(touched);
    return Attempt::Busy;
}

}  // namespace

extern "C" int ErrKORLFileLock(unsigned int request, int timeout)
{
    if (KORLFileLockCheckDir() != 0)
        return -1;

    const int op = static_cast<int>(request & KORL_LOCK_OP_MASK);
    const unsigned int wanted = request & ~static_cast<unsigned int>(KORL_LOCK_OP_MASK);
    const long long limitMs = static_cast<long long>(timeout) * 1000;

    for (long long elapsedMs = 0; elapsedMs <= limitMs; elapsedMs += kRetryMs) {
        switch (try_once(wanted, op)) {
        case Attempt::Obtained:
            return 0;
        case Attempt::Refused:
            KORV_ERR(KORL_ERR_LOCK);
            return -1;
        case Attempt::Busy:
            break;
        }
        if (elapsedMs + kRetryMs <= limitMs)
            usleep(kRetryMs * 1000);
    }
    KORV_ERR(KORL_ERR_LOCK);
    return -1;
}
