// The old "/writeable" layout: its start script and mount table go, and its configurations and
// logs are saved on the data volume for the new firmware.
#include <errno.h>
#include <string.h>
#include <syslog.h>

#include <string>

#include "updater.h"
#include "updater_config.h"

namespace {

// One command through the shell; a status other than 0 is logged with errno. 0, or -1.
int Run(const char *format)
{
    std::string cmd;
    if (UPDTRunCommand(format, {gszVolume}, &cmd) == 0)
        return 0;
    int err = errno;
    syslog(LOG_ERR, "%s:%d(%s) Failed to execute szCmd=[%s], errno=(%d)[%s]", "updater", __LINE__,
           "UPDTUpdateConfig", cmd.c_str(), err, strerror(err));
    return -1;
}

}  // namespace

int UPDTConfigOldLayout(void)
{
    int result = 0;
    if (UPDTConfigRemoveFile("/etc/rc", "remove /etc/rc") != 0)
        result = -1;
    if (UPDTConfigRemoveFile("/etc/fstab", "remove /etc/fstab") != 0)
        result = -1;
    // The copy runs even when the folder could not be made: cp reports what is missing.
    if (Run("/bin/mkdir -p %s/s@vedconfig") != 0)
        result = -1;
    if (Run("/bin/cp -a /writeable/configs/* /writeable/logs/* %s/s@vedconfig") != 0)
        result = -1;
    return result;
}
