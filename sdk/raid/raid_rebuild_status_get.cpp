// Whether an array is being rebuilt, from the md driver's own rebuild-status request.
#include <string.h>

#include "korv/platform.h"
#include "korv/raid.h"
#include "korv_internal.h"
#include "raid_internal.h"

extern "C" int KORVRaidRebuildStatusGet(int fd, KORVRAIDREBUILD *out)
{
    if (!out || fd < 0) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    uint32_t words[3] = {};
    if (korv::raid::MdIoctl(fd, KORV_MD_REBUILD_STATUS, words, "sync status") != 0)
        return -1;
    memset(out, 0, sizeof *out);
    if (words[0] == 0) {
        out->state = KORV_RAID_REBUILD_NONE;
    } else if (words[1] == 0) {
        out->state = KORV_RAID_REBUILD_PENDING;
    } else {
        out->state = KORV_RAID_REBUILD_RUNNING;
        out->done = static_cast<int>(words[1]);
        out->total = static_cast<int>(words[2]);
    }
    return 0;
}
