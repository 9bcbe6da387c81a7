#include "group_internal.h"
#include "korv_account_store.h"
#include "korv_guard.h"
#include "korv_internal.h"

extern "C" int KORVGroupGetFreeGid(KORVGROUPDB *set)
{
    return KORV_GUARDED(-1, {
        if (!set || !set->pGRPGID)
            return -1;
        return korv::bdb::FreeId(set->pGRPGID, KORV_BDB_KEY_CURRENT_GID, KORV_GROUP_GID_FIRST, KORV_GROUP_GID_LAST,
                                 KORV_ERR_GROUP_NO_FREE_GID);
    });
}
