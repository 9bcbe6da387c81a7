#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>

#include "autoblock_internal.h"
#include "korv/autoblock.h"
#include "korv_internal.h"
#include "korv_lock_retry.h"

using namespace korv::autoblock;

extern "C" int KORVAutoBlockFileOpen(const char *path, int openFlags, int lockOp)
{
    UmaskClear noUmask;
    if (!path || openFlags < 0 || lockOp < 0) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    // Each try opens the list anew: an add may have renamed a new one over it meanwhile.
    korv::LockedFile lock(path, lockOp, {.tries = 30, .pause = 1000000, .whileBusy = false});
    auto open_ = [&] { return open(path, openFlags | O_CLOEXEC, 0666); };
    switch (lock.Take(open_, korv::LockedFile::Reopen::EachTry)) {
    case korv::LockedFile::Status::Held:
        return lock.Release().release();
    case korv::LockedFile::Status::Missing:
        KORV_ERR(KORL_ERR_NO_FILE);
        return -1;
    default:
        break;
    }
    errno = lock.err();
    KORV_LOG("Open and lock [%s] failed exceeds try count for %d(%m)", path, lock.err());
    KORV_ERR(KORL_ERR_LOCK);
    return -1;
}
