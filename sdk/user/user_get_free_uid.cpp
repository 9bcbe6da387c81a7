#include "korv_account_store.h"
#include "korv_guard.h"
#include "korv_internal.h"
#include "user_internal.h"

extern "C" int KORVUserGetFreeUid(KORVUSERDB *set)
{
    return KORV_GUARDED(-1, {
        if (!set)
            return -1;
        return korv::bdb::FreeId(set->pPWDUID, KORV_BDB_KEY_CURRENT_UID, KORV_USER_UID_FIRST, KORV_USER_UID_LAST,
                                 KORV_ERR_USER_NO_FREE_UID);
    });
}
