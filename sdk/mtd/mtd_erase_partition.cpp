#include <errno.h>
#include <fcntl.h>
#include <syslog.h>

#include "korv/mtd.h"
#include "mtd_device.h"

extern "C" int KORVMTDErasePartition(const char *device)
{
    using namespace korv::mtd;
    if (!device) {
        syslog(LOG_ERR, "%s(%d): parameter error", __func__, __LINE__);
        return -1;
    }
    DeviceFd fd(device, O_RDWR);
    if (!fd.ok()) {
        syslog(LOG_ERR, "%s(%d): fail to open mtd device %s, errno = %d", __func__, __LINE__, device, errno);
        return -1;
    }
    Info info;
    if (get_info(fd.get(), &info) != 0) {
        syslog(LOG_ERR, "%s(%d): Could not get MTD device info for %s, errno = %d", __func__, __LINE__, device,
               errno);
        return -1;
    }
    // One request for the whole partition; the driver erases block by block.
    Range range{0, info.size()};
    if (korv_plat_ioctl(fd.get(), KORV_MEMERASE, &range) != 0) {
        syslog(LOG_ERR, "Could not erase MTD device: %s, errno = %d\n", device, errno);
        return -1;
    }
    return 0;
}
