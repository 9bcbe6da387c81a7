#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <syslog.h>

#include "korv/mtd.h"
#include "mtd_device.h"

extern "C" int KORVMTDGetDeviceInfo(const char *device, void *info, unsigned int infoSize)
{
    using namespace korv::mtd;
    if (!device || !info || infoSize < KORV_MTD_INFO_SIZE) {
        syslog(LOG_ERR, "%s(%d): parameter error", __func__, __LINE__);
        return -1;
    }
    memset(info, 0, infoSize);
    DeviceFd fd(korv_plat_open(device, O_RDONLY));
    if (!fd) {
        syslog(LOG_ERR, "%s(%d): fail to open mtd device, errno = %d", __func__, __LINE__, errno);
        return -1;
    }
    Info record;
    if (get_info(fd.get(), &record) != 0) {
        syslog(LOG_ERR, "%s(%d): fail to get mtd size, errno = %d", __func__, __LINE__, errno);
        return -1;
    }
    memcpy(info, record.bytes, sizeof record.bytes);
    return 0;
}
