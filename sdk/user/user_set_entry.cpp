// One entry of a user change: a user created, or updated and possibly renamed, in the stores.
#include <stdio.h>
#include <string.h>

#include <string>

#include "korv/unicode.h"
#include "korv_bdb.h"
#include "korv_internal.h"
#include "user_internal.h"
#include "user_set_internal.h"

using namespace korv::user;

namespace {

bool Exists(KORVUSERDB *set, const std::string &key)
{
    return KORVUserDBCheckExists(set, key.c_str(), static_cast<int>(key.size()), nullptr, 0) == 1;
}

// "#CURRENT_UID" moved to the uid just handed out. The user is stored already, so a failure here
// is only logged: the next free-uid search skips the taken uid anyway. A marker that could not be
// set is put back as it was, since the text files cannot be published without it.
void MoveCurrentUid(KORVUSERDB *set, int uid)
{
    KORVBDB *ids = set->pPWDUID;
    const int len = KORV_BDB_KEY_CURRENT_ID_LEN;
    int32_t before = 0;
    const bool had = korv::bdb::MarkerGet(ids, KORV_BDB_KEY_CURRENT_UID, len, &before) == 0;
    if (KORVBDbDelete(ids, KORV_BDB_KEY_CURRENT_UID, len) != 0 &&
        KORLErrGet() != KORL_ERR_NOT_FOUND) {
        KORV_ERR(KORL_ERR_BDB_DELETE);
        KORV_LOG("delete %s failed. korverr=0x%04X", KORV_BDB_KEY_CURRENT_UID, KORLErrGet());
    }
    if (korv::bdb::MarkerSet(ids, KORV_BDB_KEY_CURRENT_UID, len, uid) != 0) {
        KORV_ERR(KORL_ERR_BDB_WRITE);
        KORV_LOG("set %s to %d failed. korverr=0x%04X", KORV_BDB_KEY_CURRENT_UID, uid, KORLErrGet());
        if (had && korv::bdb::MarkerSet(ids, KORV_BDB_KEY_CURRENT_UID, len, before) != 0)
            KORV_LOG("set %s back to %d failed. korverr=0x%04X", KORV_BDB_KEY_CURRENT_UID, before, KORLErrGet());
    }
}

int New(KORVUSERDB *set, SetEntry &e)
{
    KORVUSER &u = e.work;
    std::string key;
    if (UpperKey(u.szName, key, kSetKeySize) != 0) {
        KORV_LOG_NOTICE("pUser->szName[%s] is BAD.", u.szName);
        return -1;
    }
    if (Exists(set, key)) {
        KORV_ERR(KORV_ERR_USER_EXISTS);
        KORV_LOG("pUser->szName[%s] is EXIST.", u.szName);
        return -1;
    }
    if (u.gid == -1)
        u.gid = KORV_USER_DEFAULT_GID;
    bool chosen = false;
    if (u.uid == -1) {
        u.uid = KORVUserGetFreeUid(set);
        if (u.uid == -1) {
            KORV_LOG("KORVUserGetFreeUid failed. KorvErr=[0x%04X]", KORLErrGet());
            return -1;
        }
        chosen = true;
    }
    if (KORVUserDBSet(set, nullptr, 0, &u) != 0)
        return -1;
    if (chosen)
        MoveCurrentUid(set, u.uid);
    return 0;
}

int Update(KORVUSERDB *set, SetEntry &e, PKORLSZHASH *renames)
{
    KORVUSER &u = e.work;
    char home[kHomeMax + 1];
    if (snprintf(home, sizeof home, "%s/%s", kDefaultHomeRoot, u.szName) >= static_cast<int>(sizeof home)) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        KORV_LOG_NOTICE("pUser->szName[%s] is BAD.", u.szName);
        return -1;
    }
    e.home = home;
    u.szHomeDir = e.home.data();

    std::string key;
    if (UpperKey(u.szName, key, kSetKeySize) != 0) {
        KORV_LOG_NOTICE("pUser->szName[%s] is BAD.", u.szName);
        return -1;
    }
    bool exists = Exists(set, key);
    if (KORLUnicodeUTF8StrCaseCmp(e.oldName, u.szName) != 0) {
        if (exists) {
            KORV_ERR(KORV_ERR_USER_EXISTS);
            KORV_LOG("pUser->szName[%s] is EXIST.", u.szName);
            return -1;
        }
    } else if (!exists) {
        KORV_LOG("szOldName=[%s] is NOT EXIST.", e.oldName);
        return -1;
    }
    if (UpperKey(e.oldName, e.oldKey, kSetKeySize) != 0) {
        KORV_LOG("KORLUnicodeUTF8StrUpper [%s] failed.", e.oldName);
        return -1;
    }
    if (SzKORLSzHashGetValue(*renames, e.oldKey.c_str())) {
        // A batch names each user once: the first entry for it has taken effect.
        KORV_ERR(KORL_ERR_BAD_PARAM);
        KORV_LOG_NOTICE("Duplicated key:[%s]", e.oldKey.c_str());
        return -1;
    }
    if (!Exists(set, e.oldKey)) {
        KORV_LOG("szOldName=[%s] is NOT EXIST.", e.oldName);
        return -1;
    }
    if (KORLSzHashSetValue(renames, e.oldKey.c_str(), u.szName) < 0) {
        KORV_LOG("HashSetValue failed.");
        return -1;
    }
    if (u.gid == -1)
        u.gid = KORV_USER_DEFAULT_GID;
    if (u.uid == -1) {
        KORVUSER *old = nullptr;
        if (KORVUserDBGet(set, e.oldKey.c_str(), &old) != 0) {
            KORV_LOG("KORVUserDBGet failed. KorvErr=[0x%04X]", KORLErrGet());
            SzKORLSzHashRemoveKey(*renames, e.oldKey.c_str());
            return -1;
        }
        u.uid = old->uid;
        KORVUserFree(old);
    }
    if (KORVUserDBSet(set, e.oldKey.c_str(), static_cast<int>(e.oldKey.size()), &u) != 0) {
        SzKORLSzHashRemoveKey(*renames, e.oldKey.c_str());
        return -1;
    }
    return 0;
}

}  // namespace

namespace korv::user {

int UserSetNew(KORVUSERDB *set, SetEntry &e)
{
    if (New(set, e) == 0)
        return 0;
    KORV_LOG_NOTICE("UserSetNew() failed. korverr=0x%04X", KORLErrGet());
    return -1;
}

int UserSetUpdate(KORVUSERDB *set, SetEntry &e, PKORLSZHASH *renames)
{
    if (Update(set, e, renames) == 0)
        return 0;
    KORV_LOG_NOTICE("UserSetUpdate() failed. korverr=0x%04X", KORLErrGet());
    return -1;
}

}  // namespace korv::user
