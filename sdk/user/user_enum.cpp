#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "korv_guard.h"
#include "korv_internal.h"
#include "korv_locked_lookup.h"
#include "user_internal.h"

namespace {

// Adds the listed names of the name store to *pList: the count, or -1.
int Walk(KORVUSERDB *set, PKORLSZLIST *pList, int kindMask)
{
    int count = 0;
    bool guest = KORVGuestSupport() == 1;
    int r = korv::user::UserNameWalk(set, [&](const void *key, int keyLen, const std::string &line) {
        int kind = memchr(key, '\\', static_cast<size_t>(keyLen)) ? KORV_USER_ENUM_DOMAIN : KORV_USER_ENUM_LOCAL;
        if (!(kindMask & kind))
            return 0;
        // name ":" password ":" uid ...
        std::string_view f[3];
        if (!korv::AccountFields(line, 3, f, korv::FieldCount::AtLeast))
            return 0;
        std::string name(f[0]);
        int uid = korv::FieldInt(f[2]);
        if (uid == 0 && strcasecmp(name.c_str(), "root") != 0)
            return 0;
        if (kind == KORV_USER_ENUM_LOCAL &&
            (static_cast<unsigned>(uid) < KORV_USER_UID_FIRST || (uid == KORV_USER_UID_GUEST && !guest)))
            return 0;
        if (KORLSzListPush(pList, name.c_str()) < 0)
            return -1;
        ++count;
        return 0;
    });
    return r < 0 ? -1 : count;
}

}  // namespace

extern "C" int KORVUserEnum(PKORLSZLIST *pList, int kindMask)
{
    return KORV_GUARDED(-1, {
        if (!pList || !*pList) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        if (!(kindMask & (KORV_USER_ENUM_LOCAL | KORV_USER_ENUM_DOMAIN | KORV_USER_ENUM_DOMAIN_USED))) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        int used = 0;
        if (kindMask & KORV_USER_ENUM_DOMAIN_USED) {
            used = KORVUserPushDUserUsed(pList);
            if (used < 0)
                return -1;
        }
        korv::LockedLookup<KORVUSERDB> db(KORL_LOCK_PW, KORVUserDBOpen, KORVUserDBClose);
        if (db.Begin() != 0)
            return -1;
        int count = Walk(db.get(), pList, kindMask);
        return db.End() != 0 || count < 0 ? -1 : used + count;
    });
}
