// One file of the installed system removed by the configuration stage.
#include <errno.h>
#include <string.h>
#include <syslog.h>
#include <unistd.h>

#include "updater_config.h"

int UPDTConfigRemoveFile(const char *path, const char *what)
{
    if (unlink(path) == 0 || errno == ENOENT)
        return 0;
    int err = errno;
    syslog(LOG_ERR, "%s:%d(%s) Failed to %s, errno=(%d)[%s]", "updater", __LINE__, "UPDTUpdateConfig", what, err,
           strerror(err));
    return -1;
}
