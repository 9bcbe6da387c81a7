#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>
#include <syslog.h>

#include "backup_internal.h"
#include "korv/backup.h"
#include "korv/file.h"

using namespace korv::backup;

extern "C" int NetBackupDelSecret(const char *name)
{
    if (!name)
        return -1;
    if (!RsyncNameFits(name)) {
        syslog(LOG_ERR, "%s %s(%d) : bad parameters", __FILE_NAME__, __func__, __LINE__);
        return -1;
    }
    struct stat st;
    if (stat(KORV_RSYNCD_SECRETS, &st) != 0) {
        int err = errno;
        syslog(LOG_ERR, "%s %s(%d): stat(%s) failed! error_code[%d]=[%m]\n", __FILE_NAME__, __func__, __LINE__,
               KORV_RSYNCD_SECRETS, err);
        return -1;
    }
    char key[16];
    snprintf(key, sizeof key, "%s:", name);
    if (KORLFileSetLine(KORV_RSYNCD_SECRETS, key, nullptr, OP_MATCH_PREFIX) < 0) {
        syslog(LOG_ERR, "%s %s(%d): KORLFileSetLine(szFile=[%s], szKey=[%s]) failed (Delete Failed)", __FILE_NAME__,
               __func__, __LINE__, KORV_RSYNCD_SECRETS, name);
        return -1;
    }
    return 0;
}
