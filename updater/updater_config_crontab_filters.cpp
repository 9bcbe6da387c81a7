// Two schedule lines of old builds taken out of "/etc/crontab": the photo database's vacuumdb and
// the clean-up of the web logs. Each is a grep into a copy beside the crontab, put in its place
// only when grep went through the whole file.
#include <fcntl.h>
#include <sys/wait.h>
#include <syslog.h>

#include "korv_rewrite.h"
#include "korv_unique.h"
#include "updater.h"
#include "updater_config.h"

namespace {

const char kSource[] = "updater";
const char kCrontab[] = "/etc/crontab";

enum class Filtered { Done, FilterFailed, MoveFailed };

// The crontab without the lines that match pattern.
Filtered Filter(const char *pattern)
{
    korv::UniqueFd in(open(kCrontab, O_RDONLY | O_CLOEXEC));
    if (!in)
        return Filtered::FilterFailed;
    korv::FileRewrite out(kCrontab);
    if (out.Begin(in.get()) < 0 || fflush(out.stream()) != 0)
        return Filtered::FilterFailed;
    int status = UPDTRunCommand("grep -v %s /etc/crontab > %s", {pattern, out.tempPath()});
    // 1 only says that every line matched: the copy is empty, and complete.
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) > 1)
        return Filtered::FilterFailed;
    if (out.Commit() < 0)
        return Filtered::MoveFailed;
    return Filtered::Done;
}

}  // namespace

int UPDTConfigCrontabFilters(void)
{
    int result = 0;
    if (Filter("vacuumdb") != Filtered::Done) {
        syslog(LOG_ERR, "%s(%d) Failed to remove vacuumdb from crontab.", kSource, __LINE__);
        result = -1;
    }
    switch (Filter("/bin/rm -f /var/log/\\*.html")) {
    case Filtered::Done:
        break;
    case Filtered::FilterFailed:
        syslog(LOG_ERR, "%s(%d) Failed to remove \"rm -f /var/log/\\*.html\" from crontab.", kSource, __LINE__);
        result = -1;
        break;
    case Filtered::MoveFailed:
        syslog(LOG_ERR, "%s(%d) Failed to remove \"rm -f /var/log/*.html\" from crontab.", kSource, __LINE__);
        result = -1;
        break;
    }
    return result;
}
