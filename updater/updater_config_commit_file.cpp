// The end of an account file's rewrite: the copy on disk and put in its place, a failed step
// reported in the step's own words.
#include <errno.h>
#include <string.h>
#include <syslog.h>

#include "korv_rewrite.h"
#include "updater_config.h"

int UPDTConfigCommitFile(korv::FileRewrite &rw, const UPDTCOMMITSTEPS &steps)
{
    using Step = korv::FileRewrite::CommitStep;
    Step failed = Step::kNone;
    if (rw.Commit(&failed) == 0)
        return 0;
    int err = errno;
    const char *what = steps.commit;
    switch (failed) {
    case Step::kFlush:
        what = steps.flush;
        break;
    case Step::kSync:
        what = steps.sync;
        break;
    case Step::kMode:
        what = "fchmod";
        break;
    case Step::kRename:
        what = steps.rename;
        break;
    case Step::kNone:
    case Step::kOwner:
    case Step::kClose:
        break;
    }
    syslog(LOG_ERR, "%s:%d %s failed. errno:%d, message:%s", "updater", __LINE__, what, err, strerror(err));
    return -1;
}
