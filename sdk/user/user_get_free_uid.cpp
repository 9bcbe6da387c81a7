#include <stdlib.h>

#include "korv_bdb.h"
#include "korv_guard.h"
#include "korv_internal.h"
#include "user_internal.h"

using namespace korv::user;

namespace {

// The number of the uid store's last key, marker keys skipped: 0, or -1.
int LastUid(KORVBDB *uidStore, int *uid)
{
    if (KORVBDbCursorSetType(uidStore, KORV_BDB_CURSOR_LAST) != 0)
        return -1;
    void *key = nullptr, *value = nullptr;
    int cbKey = 0, cbValue = 0;
    int r = KORVBDbCursorGet(uidStore, 1, &key, &cbKey, &value, &cbValue);
    if (r == 0)
        *uid = atoi(static_cast<char *>(key));
    free(key);
    free(value);
    return r;
}

}  // namespace

extern "C" int KORVUserGetFreeUid(KORVUSERDB *set)
{
    return KORV_GUARDED(-1, {
        if (!set)
            return -1;
        int32_t current;
        int c;
        if (korv::bdb::MarkerGet(set->pPWDUID, KORV_BDB_KEY_CURRENT_UID, KORV_BDB_KEY_CURRENT_ID_LEN, &current) == 0) {
            c = current + 1;
        } else if (KORLErrGet() == KORL_ERR_NOT_FOUND) {
            int last;
            if (LastUid(set->pPWDUID, &last) != 0)
                return -1;
            c = last + 1;
        } else {
            KORV_ERR(KORL_ERR_BDB_READ);
            return -1;
        }
        int start = c >= KORV_USER_UID_FIRST + 1 && c <= KORV_USER_UID_LAST ? c : KORV_USER_UID_FIRST;
        int uid = start;
        do {
            std::string key = UidKey(uid);
            const void *data;
            int len;
            int r = korv::bdb::Lookup(set->pPWDUID, key.c_str(), static_cast<int>(key.size()) + 1, &data, &len);
            if (r < 0)
                return -1;
            if (r > 0)
                return uid;
            uid = uid == KORV_USER_UID_LAST ? KORV_USER_UID_FIRST : uid + 1;
        } while (uid != start);
        KORV_ERR(KORV_ERR_USER_NO_FREE_UID);
        return -1;
    });
}
