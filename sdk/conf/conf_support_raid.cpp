// Whether the model keeps its system partition on a RAID array, as the factory settings say.
#include <stdio.h>
#include <strings.h>
#include <syslog.h>

#include "korv/raid.h"
#include "korv_unique.h"

namespace {

const char kCommand[] = "/bin/get_key_value /etc.defaults/korvinfo.conf supportraid";

}  // namespace

extern "C" int KORVConfSupportRaid(void)
{
    korv::UniquePipe pipe(popen(kCommand, "re"));
    if (!pipe) {
        syslog(LOG_ERR, "%s:%d Failed to popen cmd = '%s', errno=%m", __FILE_NAME__, __LINE__, kCommand);
        return 0;
    }
    char value[8] = {};
    if (!fgets(value, sizeof value, pipe.get()))
        return 0;
    return strncasecmp(value, "yes", 3) == 0 ? 1 : 0;
}
