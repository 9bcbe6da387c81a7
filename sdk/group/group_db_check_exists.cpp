#include "group_internal.h"
#include "korv_account_store.h"
#include "korv_internal.h"

extern "C" int KORVGroupDBCheckExists(KORVGROUPDB *set, const char *upperName, int upperLen, char *outName, int outSize)
{
    if (!set) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return 0;
    }
    return korv::bdb::AccountExists(set->pGRPName, upperName, upperLen, outName, outSize, KORV_ERR_GROUP_NOT_FOUND);
}
