#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "autoblock_internal.h"
#include "korv/autoblock.h"
#include "korv_internal.h"
#include "korv_unique.h"

using namespace korv::autoblock;

namespace {

constexpr int kTries = 30;

}  // namespace

extern "C" int KORVAutoBlockFileOpen(const char *path, int openFlags, int lockOp)
{
    UmaskClear noUmask;
    if (!path || openFlags < 0 || lockOp < 0) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    // Each try opens the list anew, since an add may have renamed a new one over it meanwhile,
    // and any failure but a missing list is tried again.
    int err = 0;
    for (int tries = 0; tries < kTries; ++tries) {
        if (tries > 0)
            sleep(1);
        korv::UniqueFd fd(open(path, openFlags | O_CLOEXEC, 0666));
        if (!fd && errno == ENOENT) {
            KORV_ERR(KORL_ERR_NO_FILE);
            return -1;
        }
        if (fd && flock(fd.get(), lockOp) == 0)
            return fd.release();
        err = errno;
    }
    errno = err;
    KORV_LOG("Open and lock [%s] failed exceeds try count for %d(%m)", path, err);
    KORV_ERR(KORL_ERR_LOCK);
    return -1;
}
