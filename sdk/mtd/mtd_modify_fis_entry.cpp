#include <errno.h>
#include <syslog.h>

#include "korv/mtd.h"
#include "mtd_device.h"

extern "C" int KORVMTDModifyFISEntry(const char *device, const KORVMTDFISMOD *entry)
{
    using namespace korv::mtd;
    if (!device || !entry) {
        syslog(LOG_ERR, "%s(%d): parameter error", __func__, __LINE__);
        return -1;
    }
    DeviceFd fd = open_for_request(__func__, __LINE__, device);
    if (!fd)
        return -1;
    // Sent unchanged; a copy because the request's argument is not const.
    KORVMTDFISMOD record = *entry;
    if (korv_plat_ioctl(fd.get(), KORV_MTD_SET_FIS_ENTRY, &record) != 0) {
        syslog(LOG_ERR, "%s: Failed to set the mtd info of %s by ioctl, errno = %d\n", __func__, device, errno);
        return -1;
    }
    return 0;
}
