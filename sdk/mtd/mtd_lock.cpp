#include <errno.h>
#include <fcntl.h>
#include <syslog.h>

#include "korv/mtd.h"
#include "mtd_device.h"

extern "C" int KORVMTDILock(const char *device, int mode)
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
    Range range{0, info.size()};
    if (korv_plat_ioctl(fd.get(), mode == 1 ? KORV_MEMLOCK : KORV_MEMUNLOCK, &range) != 0) {
        syslog(LOG_ERR, "Could not lock/unlock MTD device: %s, errno = %d\n", device, errno);
        return -1;
    }
    return 0;
}

extern "C" int KORVMTDLockPartition(const char *device)
{
    return KORVMTDILock(device, 1);
}

extern "C" int KORVMTDUnlockPartition(const char *device)
{
    return KORVMTDILock(device, 0);
}
