// The SqueezeCenter package's own MySQL error-message files give way to links to the system's,
// which the new firmware keeps current.
#include <errno.h>
#include <syslog.h>
#include <unistd.h>

#include "updater.h"
#include "updater_config.h"

namespace {

struct ErrmsgFile {
    const char *package;  // the package's file
    const char *system;   // the system's file it becomes a link to
    const char *removeFailed;
    const char *linkFailed;
};

const ErrmsgFile kFiles[] = {
    {"/var/packages/SqueezeCenter/target/MySQL/errmsg.sys", "/usr/korv/mysql/share/mysql/english/errmsg.sys",
     "%s(%d) Failed to remove errmsg.sys in Squeeze Center.",
     "%s(%d) Failed to link errmsg.sys in Squeeze Center from system."},
    {"/var/packages/SqueezeCenter/target/MySQL/errmsg.txt", "/usr/korv/mysql/share/mysql/errmsg.txt",
     "%s(%d) Failed to remove errmsg.txt in Squeeze Center.",
     "%s(%d) Failed to link errmsg.txt in Squeeze Center from system."},
};

// 0, or -1 after a message.
int LinkToSystem(const ErrmsgFile &f)
{
    char target[2048];
    // Only a file that exists and is no link yet is replaced.
    if (readlink(f.package, target, sizeof target) >= 0 || errno != EINVAL)
        return 0;
    int result = 0;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    if (unlink(f.package) != 0) {
        syslog(LOG_ERR, f.removeFailed, "updater", __LINE__);
        result = -1;
    }
    if (!korv::proc::Succeeded(UPDTRunCommand("ln -s %s %s", {f.system, f.package}))) {
        syslog(LOG_ERR, f.linkFailed, "updater", __LINE__);
        result = -1;
    }
#pragma GCC diagnostic pop
    return result;
}

}  // namespace

int UPDTConfigSqueezeErrmsgLinks(void)
{
    int result = 0;
    for (const ErrmsgFile &f : kFiles)
        if (LinkToSystem(f) != 0)
            result = -1;
    return result;
}
