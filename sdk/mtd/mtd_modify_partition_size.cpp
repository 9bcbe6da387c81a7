#include <errno.h>
#include <stdint.h>
#include <syslog.h>

#include "korv/mtd.h"
#include "mtd_device.h"

extern "C" int KORVMTDModifyPartitionSize(const char *device, unsigned int flashBase, unsigned int size)
{
    using namespace korv::mtd;
    if (!device) {
        syslog(LOG_ERR, "%s(%d): parameter error", __func__, __LINE__);
        return -1;
    }
    DeviceFd fd = open_for_request(__func__, __LINE__, device);
    if (!fd)
        return -1;
    // The driver's partition-size record: {u32 flash base, u32 size}.
    struct {
        uint32_t flash_base;
        uint32_t size;
    } record{flashBase, size};
    static_assert(sizeof record == 8);
    if (korv_plat_ioctl(fd.get(), KORV_MTD_SET_PARTITION, &record) != 0) {
        syslog(LOG_ERR, "Failed to set the mtd info of %s by ioctl, errno = %d\n", device, errno);
        return -1;
    }
    return 0;
}
