// The domain users that the shares' write lists name, directly or through a group.
#include <string.h>

#include "korv/group.h"
#include "korv/string.h"
#include "korv_db_holder.h"
#include "korv_guard.h"
#include "korv_records.h"
#include "korv_internal.h"
#include "korv_sz_holders.h"
#include "user_internal.h"

namespace korv::user {

int UserPushDUser(const char *name, PKORLSZLIST *pList, PKORLSZHASH *pSeen)
{
    if (!name || !pList || !*pList || !pSeen || !*pSeen) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    if (!strchr(name, '\\') || SzKORLSzHashGetValue(*pSeen, name))
        return 0;
    if (KORLSzHashSetValue(pSeen, name, "") < 0) {
        KORV_LOG("HashSetValue %s fail", name);
        return -1;
    }
    if (KORLSzListPush(pList, name) < 0) {
        KORV_LOG("ListPush %s fail", name);
        return -1;
    }
    return 1;
}

}  // namespace korv::user

using korv::user::UserPushDUser;

namespace {

// Pushes every name of names: the number added, or -1.
int PushAll(PKORLSZLIST names, PKORLSZLIST *pList, PKORLSZHASH *pSeen)
{
    int added = 0;
    for (int i = 0; i < names->nItem; i++) {
        int r = UserPushDUser(SzKORLSzListGet(names, i), pList, pSeen);
        if (r < 0)
            return -1;
        added += r;
    }
    return added;
}

}  // namespace

extern "C" int KORVUserPushDUserUsed(PKORLSZLIST *pList)
{
    return KORV_GUARDED(-1, {
        if (!pList || !*pList) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        korv::ShareDbHolder shares;
        if (!shares.db) {
            KORV_ERR(KORL_ERR_OPEN);
            return -1;
        }
        korv::ListHolder items(PslKORLSzListAlloc(KORL_SZLIST_MIN_SIZE));
        korv::ListHolder members(PslKORLSzListAlloc(KORL_SZLIST_MIN_SIZE));
        korv::HashHolder seen(PshKORLSzHashAlloc(512));
        if (!items || !members || !seen)
            return -1;
        korv::ShareRecord share;
        int count = 0;
        while (KORVShareDBCursorGet(shares.db, share.addr()) == 0) {
            KORLSzListRemoveAll(items.get());
            if (KORLStrSep(share.get()->szWriteList, ",", items.addr()) < 0) {
                KORV_LOG("KORLStrSep failed");
                return -1;
            }
            for (int i = 0; i < items->nItem; i++) {
                const char *item = SzKORLSzListGet(items.get(), i);
                int added;
                if (item[0] == '@') {
                    KORLSzListRemoveAll(members.get());
                    // Every domain user is in the domain's users group: nothing more can be added.
                    bool all = strstr(item + 1, "\\domain users") != nullptr;
                    int r = all ? KORVUserEnum(members.addr(), KORV_USER_ENUM_DOMAIN)
                                : KORVGroupListMember(item + 1, members.addr());
                    if (r < 0)
                        return -1;
                    added = PushAll(members.get(), pList, seen.addr());
                    if (added >= 0 && all)
                        return count + added;
                } else {
                    added = UserPushDUser(item, pList, seen.addr());
                }
                if (added < 0)
                    return -1;
                count += added;
            }
        }
        if (KORLErrGet() != KORL_ERR_BDB_END) {
            KORV_LOG("KORVShareDBCursorGet() error. korverr=0x%04X", KORLErrGet());
            return -1;
        }
        return count;
    });
}
