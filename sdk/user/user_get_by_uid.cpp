#include <string.h>

#include "korv_bdb.h"
#include "korv_guard.h"
#include "korv_internal.h"
#include "korv_locked_lookup.h"
#include "user_internal.h"

using namespace korv::user;

extern "C" int KORVUserGetByUid(int uid, KORVUSER **ppUser)
{
    return KORV_GUARDED(-1, {
        if (!ppUser) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        korv::LockedLookup<KORVUSERDB> db(KORL_LOCK_PW, KORVUserDBOpen, KORVUserDBClose);
        if (db.Begin() != 0)
            return -1;
        std::string name;
        int r = ReadLine(db.get()->pPWDUID, IdKey(uid), name);
        if (r > 0)
            KORV_ERR(KORV_ERR_USER_NOT_FOUND);
        if (r == 0)
            r = KORVUserDBGet(db.get(), name.c_str(), ppUser);
        return db.End() != 0 || r != 0 ? -1 : 0;
    });
}
