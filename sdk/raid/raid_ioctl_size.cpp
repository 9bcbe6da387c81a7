// The byte size of an array device (BLKGETSIZE64).
#include <errno.h>

#include "korv/platform.h"
#include "korv/raid.h"
#include "korv_internal.h"

extern "C" int KORVRaidIoctlSize(int fd, uint64_t *bytes)
{
    if (!bytes) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    *bytes = 0;
    uint64_t size = 0;
    if (korv_plat_ioctl(fd, KORV_BLKGETSIZE64, &size) != 0) {
        if (errno == ENODEV) {
            KORV_ERR(KORL_ERR_NO_DEVICE);
            return -1;
        }
        KORV_LOG_DEBUG("Failed to ioctl for raid size, errno=%m");
        KORV_ERR(KORL_ERR_OTHER);
        return -1;
    }
    *bytes = size;
    return 0;
}
