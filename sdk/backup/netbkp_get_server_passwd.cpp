#include <stdio.h>
#include <string.h>
#include <syslog.h>

#include "backup_internal.h"
#include "korv/backup.h"
#include "korv/file.h"

using namespace korv::backup;

extern "C" int KORVNetBackupGetServerPasswd(const char *name, char *buf, int size)
{
    if (!name || !buf || size <= 0)
        return -1;
    const char *account = RsyncAccount(name);
    if (!RsyncNameFits(account)) {
        syslog(LOG_ERR, "%s(%d):can not get rsync server password! ", __FILE_NAME__, __LINE__);
        return -1;
    }
    char key[16];
    snprintf(key, sizeof key, "%s:", account);
    // The name stands at the start of its line: "root:" must not find "xroot:".
    char line[3090];
    if (KORLFileGetLine(KORV_RSYNCD_SECRETS, key, line, sizeof line, OP_MATCH_PREFIX) <= 0) {
        syslog(LOG_ERR, "%s(%d):can not get rsync server password! ", __FILE_NAME__, __LINE__);
        return -1;
    }
    const char *colon = strchr(line, ':');
    if (!colon) {
        syslog(LOG_ERR, "%s(%d): %s format error! ", __FILE_NAME__, __LINE__, KORV_RSYNCD_SECRETS);
        return -1;
    }
    memset(buf, 0, static_cast<size_t>(size));
    strncpy(buf, colon + 1, static_cast<size_t>(size) - 1);
    return 0;
}
