#include "korv/mtd.h"
#include "mtd_device.h"

// Lock and unlock both report as KORVMTDILock.
extern "C" int KORVMTDILock(const char *device, int mode)
{
    return korv::mtd::whole_partition_request(__func__, __LINE__, device,
                                              mode == 1 ? KORV_MEMLOCK : KORV_MEMUNLOCK, "lock/unlock");
}

extern "C" int KORVMTDLockPartition(const char *device)
{
    return KORVMTDILock(device, 1);
}

extern "C" int KORVMTDUnlockPartition(const char *device)
{
    return KORVMTDILock(device, 0);
}
