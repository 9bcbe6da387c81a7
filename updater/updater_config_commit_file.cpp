// The end of an account file's rewrite: the copy made readable to all and put in its place.
#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include "korv/error.h"
#include "korv_rewrite.h"
#include "updater_config.h"

int UPDTConfigCommitFile(korv::FileRewrite &rw, const char *renameFailed, const char *commitFailed)
{
    if (fchmod(fileno(rw.stream()), 0644) != 0) {
        syslog(LOG_ERR, "%s:%d fchmod failed. errno:%d, message:%m", "updater", __LINE__, errno);
        return -1;
    }
    if (rw.Commit() == 0)
        return 0;
    int err = errno;
    bool renamed = KORLErrGet() != KORL_ERR_RENAME;
    syslog(LOG_ERR, "%s:%d %s failed. errno:%d, message:%s", "updater", __LINE__,
           renamed ? commitFailed : renameFailed, err, strerror(err));
    // A copy that could not take the file's place is not left beside it.
    if (!renamed)
        unlink(rw.tempPath());
    return -1;
}
