// Whether the model keeps its system partition on a RAID array, as the factory settings say.
#include <strings.h>
#include <syslog.h>

#include "korv/raid.h"
#include "korv_command.h"

namespace {

const char kCommand[] = "/bin/get_key_value /etc.defaults/korvinfo.conf supportraid";

}  // namespace

extern "C" int KORVConfSupportRaid(void)
{
    char value[8];
    int got = korv::proc::FirstLine(kCommand, value, sizeof value);
    if (got < 0) {
        syslog(LOG_ERR, "%s:%d Failed to popen cmd = '%s', errno=%m", __FILE_NAME__, __LINE__, kCommand);
        return 0;
    }
    if (got == 0)
        return 0;
    return strncasecmp(value, "yes", 3) == 0 ? 1 : 0;
}
