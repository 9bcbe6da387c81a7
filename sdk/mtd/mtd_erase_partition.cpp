#include "korv/mtd.h"
#include "mtd_device.h"

extern "C" int KORVMTDErasePartition(const char *device)
{
    return korv::mtd::whole_partition_request(__func__, __LINE__, device, KORV_MEMERASE, "erase");
}
