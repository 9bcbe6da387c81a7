// The md driver's description of an array (GET_ARRAY_INFO).

#include "korv/platform.h"
#include "korv/raid.h"
#include "korv_internal.h"
#include "raid_internal.h"

extern "C" int KORVRaidIoctlInfo(int fd, KORVMDARRAYINFO *out)
{
    if (!out) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    return korv::raid::MdIoctl(fd, KORV_MD_GET_ARRAY_INFO, out, "raid status");
}
