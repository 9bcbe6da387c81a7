// The rsync daemon's configuration: no chroot, and the secrets file readable by its group only.
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <vector>

#include "korv/file.h"
#include "updater.h"
#include "updater_preflash.h"

namespace {

const char kConf[] = "/etc/rsyncd.conf";
const char kSecrets[] = "/etc/rsyncd.secrets";
const char kLockKey[] = "lock file =";
const char kNoChroot[] = "use chroot = no";

}  // namespace

int UpdateRsyncdConf(void)
{
    char line[64] = {};
    int found = KORLFileGetLine(kConf, kNoChroot, line, sizeof line, 0);
    if (found == 0) {
        // The mode first when the line will go in: a run killed between the two leaves the mode
        // alone changed, and the next one finds the line missing and does both.
        std::vector<char> lockLine(4096);
        if (KORLFileGetLine(kConf, kLockKey, lockLine.data(), static_cast<int>(lockLine.size()), 0) > 0)
            chmod(kConf, 0644);
        if (KORLFileAddLine(kConf, kLockKey, kNoChroot, OP_FIND_PREFIX) <= 0)
            syslog(LOG_ERR,
                   "%s %s(%d) : KORLFileAddLine(szFile=[%s] szKey=[%s] szLine=[%s] flag=OP_FIND_PREFIX) fail",
                   UPDT_SOURCE, __func__, __LINE__, kConf, kLockKey, kNoChroot);
        else
            chmod(kConf, 0644);
    }
    chmod(kSecrets, 0640);
    // Not looked at: a unit without rsync accounts may have no secrets file.
    int ignored = chown(kSecrets, 0, 25);
    (void)ignored;
    return 0;
}
