#include "korv_account_store.h"
#include "korv_internal.h"
#include "user_internal.h"

extern "C" int KORVUserDBCheckExists(KORVUSERDB *set, const char *key, int keyLen, char *storedName, int cbStoredName)
{
    if (!set) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return 0;
    }
    return korv::bdb::AccountExists(set->pPWDName, key, keyLen, storedName, cbStoredName, KORV_ERR_USER_NOT_FOUND);
}
