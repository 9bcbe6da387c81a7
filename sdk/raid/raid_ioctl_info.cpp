// The md driver's description of an array (GET_ARRAY_INFO).
#include <errno.h>

#include "korv/platform.h"
#include "korv/raid.h"
#include "korv_internal.h"

extern "C" int KORVRaidIoctlInfo(int fd, KORVMDARRAYINFO *out)
{
    if (!out) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    if (korv_plat_ioctl(fd, KORV_MD_GET_ARRAY_INFO, out) != 0) {
        // ENODEV: the array does not run; the caller tells that from a failure.
        if (errno == ENODEV) {
            KORV_ERR(KORL_ERR_NO_DEVICE);
            return -1;
        }
        KORV_LOG_DEBUG("Failed to ioctl for raid status, errno=%m");
        KORV_ERR(KORL_ERR_OTHER);
        return -1;
    }
    return 0;
}
