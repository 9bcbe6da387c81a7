#include <string.h>

#include "korv_internal.h"
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
