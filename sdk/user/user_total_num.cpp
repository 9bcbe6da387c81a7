#include <stdlib.h>

#include "korv/file.h"
#include "korv_guard.h"
#include "korv_internal.h"
#include "korv_sz_holders.h"
#include "user_internal.h"

extern "C" int KORVUserTotalNum(int kindMask)
{
    if (!(kindMask & (KORV_USER_ENUM_LOCAL | KORV_USER_ENUM_DOMAIN))) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    korv::ListHolder names(PslKORLSzListAlloc(KORL_SZLIST_MIN_SIZE));
    if (!names)
        return -1;
    return KORVUserEnum(names.addr(), kindMask & (KORV_USER_ENUM_LOCAL | KORV_USER_ENUM_DOMAIN));
}

extern "C" int KORVUserAvailableNum(void)
{
    int count = KORVUserTotalNum(KORV_USER_ENUM_LOCAL | KORV_USER_ENUM_DOMAIN);
    if (count < 0)
        return -1;
    char value[33] = "";
    int r = KORLFileGetKeyValue("/etc.defaults/korvinfo.conf", "maxaccounts", value, sizeof value, 0);
    if (r < 0)
        return -1;
    if (r == 0 || !*value)
        return 0;
    return atoi(value) - count;
}
