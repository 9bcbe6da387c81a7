// The byte size of an array device (BLKGETSIZE64).

#include "korv/platform.h"
#include "korv/raid.h"
#include "korv_internal.h"
#include "raid_internal.h"

extern "C" int KORVRaidIoctlSize(int fd, uint64_t *bytes)
{
    if (!bytes) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    *bytes = 0;
    uint64_t size = 0;
    if (korv::raid::MdIoctl(fd, KORV_BLKGETSIZE64, &size, "raid size") != 0)
        return -1;
    *bytes = size;
    return 0;
}
