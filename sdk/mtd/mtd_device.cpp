// The open and the whole-partition request that the flash functions share.
#include "mtd_device.h"

#include <errno.h>
#include <fcntl.h>
#include <syslog.h>

namespace korv::mtd {

DeviceFd open_for_request(const char *func, int line, const char *device)
{
    DeviceFd fd(korv_plat_open(device, O_RDWR));
    if (!fd)
        syslog(LOG_ERR, "%s(%d): fail to open mtd device %s, errno = %d", func, line, device, errno);
    return fd;
}

int whole_partition_request(const char *func, int line, const char *device, unsigned long request,
                            const char *what)
{
    if (!device) {
        syslog(LOG_ERR, "%s(%d): parameter error", func, line);
        return -1;
    }
    DeviceFd fd = open_for_request(func, line, device);
    if (!fd)
        return -1;
    Info info;
    if (get_info(fd.get(), &info) != 0) {
        syslog(LOG_ERR, "%s(%d): Could not get MTD device info for %s, errno = %d", func, line, device, errno);
        return -1;
    }
    Range range{0, info.size()};
    if (korv_plat_ioctl(fd.get(), request, &range) != 0) {
        syslog(LOG_ERR, "Could not %s MTD device: %s, errno = %d\n", what, device, errno);
        return -1;
    }
    return 0;
}

}  // namespace korv::mtd
