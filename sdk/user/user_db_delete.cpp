#include <stdlib.h>
#include <string.h>

#include "korv_bdb.h"
#include "korv_guard.h"
#include "korv_internal.h"
#include "user_internal.h"

using namespace korv::user;

using korv::bdb::RemoveKey;

extern "C" int KORVUserDBDelete(KORVUSERDB *set, const char *key)
{
    return KORV_GUARDED(-1, {
        if (!set || !key) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        if (strchr(key, '\\'))
            return -1;
        std::string k(key), line;
        int r = ReadLine(set->pPWDName, k, line);
        if (r != 0) {
            if (r > 0)
                KORV_ERR(KORV_ERR_USER_NOT_FOUND);
            return -1;
        }
        void *buf = nullptr;
        int cb = 0;
        if (UserDBPasswdUnpack(line.c_str(), &buf, &cb) != 0) {
            free(buf);
            return -1;
        }
        int uid = static_cast<int>(static_cast<const struct passwd *>(buf)->pw_uid);
        free(buf);
        if (IsSystemUid(uid)) {
            KORV_ERR(KORV_ERR_USER_SYSTEM);
            return -1;
        }
        // Only this user's record under its uid: other users may share the uid.
        std::string id = UidKey(uid);
        if (korv::bdb::DeleteValue(set->pPWDUID, id.c_str(), static_cast<int>(id.size()) + 1, k.c_str(),
                                   static_cast<int>(k.size()) + 1) < 0)
            return -1;
        if (RemoveKey(set->pPWDName, k) != 0 || RemoveKey(set->pPWDSMB, k) != 0 || RemoveKey(set->pPWDKorvser, k) != 0 ||
            RemoveKey(set->pPWDShadow, k) != 0)
            return -1;
        return 0;
    });
}
