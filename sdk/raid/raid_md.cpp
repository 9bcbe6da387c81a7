// The md path and the md driver's requests, as every RAID function takes them.
#include <errno.h>
#include <stdio.h>

#include "korv/platform.h"
#include "korv/raid.h"
#include "korv_internal.h"
#include "korv_log_at.h"
#include "korv_rewrite.h"
#include "raid_internal.h"

namespace korv::raid {

int MdIndex(const char *mdPath, int *md, std::source_location loc)
{
    if (sscanf(mdPath, "/dev/md%d", md) != 1) {
        LogAt(LOG_DEBUG, loc, "invalide path %s, errno=%m", mdPath);
        ErrAt(KORV_ERR_RAID_NOT_MD, loc);
        return -1;
    }
    return 0;
}

int MdIoctl(int fd, unsigned long request, void *arg, const char *what, std::source_location loc)
{
    if (korv_plat_ioctl(fd, request, arg) == 0)
        return 0;
    // ENODEV: the array does not run; the caller tells that from a failure.
    if (errno == ENODEV) {
        ErrAt(KORL_ERR_NO_DEVICE, loc);
        return -1;
    }
    LogAt(LOG_DEBUG, loc, "Failed to ioctl for %s, errno=%m", what);
    ErrAt(KORL_ERR_OTHER, loc);
    return -1;
}

}  // namespace korv::raid
