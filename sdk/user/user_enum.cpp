#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "korv_bdb.h"
#include "korv_guard.h"
#include "korv_internal.h"
#include "korv_locked_lookup.h"
#include "user_internal.h"

namespace {

// Adds the listed names of the name store to *pList: the count, or -1.
int Walk(KORVUSERDB *set, PKORLSZLIST *pList, int kindMask)
{
    if (KORVBDbCursorSetType(set->pPWDName, KORV_BDB_CURSOR_FIRST) != 0) {
        KORV_ERR(KORV_ERR_USER_ENUM);
        return -1;
    }
    korv::bdb::CursorBuffers b;
    int count = 0;
    bool guest = KORVGuestSupport() == 1;
    for (;;) {
        if (KORVBDbCursorGet(set->pPWDName, 1, &b.key, &b.cbKey, &b.value, &b.cbValue) != 0) {
            if (KORLErrGet() == KORL_ERR_BDB_END)
                return count;
            KORV_ERR(KORV_ERR_USER_ENUM);
            return -1;
        }
        int kind = memchr(b.key, '\\', static_cast<size_t>(b.cbKey)) ? KORV_USER_ENUM_DOMAIN : KORV_USER_ENUM_LOCAL;
        if (!(kindMask & kind))
            continue;
        std::string line(static_cast<const char *>(b.value), strnlen(static_cast<const char *>(b.value),
                                                                       static_cast<size_t>(b.cbValue)));
        size_t first = line.find(':');
        size_t second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos)
            continue;
        std::string name = line.substr(0, first);
        int uid = atoi(line.c_str() + second + 1);
        if (uid == 0 && strcasecmp(name.c_str(), "root") != 0)
            continue;
        if (kind == KORV_USER_ENUM_LOCAL &&
            (static_cast<unsigned>(uid) < KORV_USER_UID_FIRST || (uid == KORV_USER_UID_GUEST && !guest)))
            continue;
        if (KORLSzListPush(pList, name.c_str()) < 0)
            return -1;
        ++count;
    }
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
