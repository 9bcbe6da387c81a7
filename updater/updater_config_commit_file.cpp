// The end of an account file's rewrite: the copy on disk, readable to all, and put in its place.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include "korv/error.h"
#include "korv_rewrite.h"
#include "updater_config.h"

namespace {

int Failed(const char *what)
{
    int err = errno;
    syslog(LOG_ERR, "%s:%d %s failed. errno:%d, message:%s", "updater", __LINE__, what, err, strerror(err));
    return -1;
}

}  // namespace

int UPDTConfigCommitFile(korv::FileRewrite &rw, const UPDTCOMMITSTEPS &steps)
{
    FILE *out = rw.stream();
    if (fflush(out) != 0)
        return Failed(steps.flush);
    if (fsync(fileno(out)) != 0)
        return Failed(steps.sync);
    if (fchmod(fileno(out), 0644) != 0)
        return Failed("fchmod");
    if (rw.Commit() == 0)
        return 0;
    if (KORLErrGet() != KORL_ERR_RENAME)
        return Failed(steps.commit);
    Failed(steps.rename);
    // A copy that could not take the file's place is not left beside it.
    unlink(rw.tempPath());
    return -1;
}
