#include <stdlib.h>
#include <strings.h>

#include <string>

#include "group_internal.h"
#include "korv/string.h"
#include "korv/user.h"
#include "korv_guard.h"
#include "korv_records.h"
#include "korv_internal.h"
#include "korv_malloc_ptr.h"
#include "korv_sz_holders.h"

namespace {

// The members of a stored group, normalised, onto *work: 0, or -1.
int Members(const char *name, PKORLSZLIST *work)
{
    korv::GroupRecord g;
    if (KORVGroupGet(name, g.addr()) != 0)
        return -1;
    char *list = nullptr;
    int cb = 0;
    int r = KORVUserGetValidUserList(g.get()->ppszMembers, &list, &cb);
    korv::MallocPtr<char> owned(list);
    if (r != 0)
        return -1;
    return KORLStrSep(list, ",", work) < 0 ? -1 : 0;
}

}  // namespace

extern "C" int KORVGroupListMember(const char *group, PKORLSZLIST *pList)
{
    return KORV_GUARDED(-1, {
        if (!group || !pList || !*pList) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        korv::ListHolder work(PslKORLSzListAlloc(KORL_SZLIST_MIN_SIZE));
        if (!work)
            return -1;
        // Every local user belongs to "users".
        if (strcasecmp(group, "users") == 0) {
            if (KORVUserEnum(work.addr(), KORV_USER_ENUM_LOCAL) < 0)
                return -1;
        } else if (Members(group, work.addr()) != 0) {
            return -1;
        }
        for (int i = 0; i < work->nItem; i++) {
            const char *name = SzKORLSzListGet(work.get(), i);
            if (name && *name && KORLSzListPush(pList, name) < 0)
                return -1;
        }
        return 0;
    });
}
