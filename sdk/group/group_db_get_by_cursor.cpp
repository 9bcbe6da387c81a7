#include <stdlib.h>
#include <string.h>

#include "group_internal.h"
#include "korv_bdb.h"
#include "korv_guard.h"
#include "korv_internal.h"

using namespace korv::group;

extern "C" int KORVGroupDBGetByCursor(KORVGROUPDB *set, KORVGROUP **pp, int kindMask, int includeSystem)
{
    return KORV_GUARDED(-1, {
        if (!set || !set->pGRPName || !pp) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        korv::bdb::CursorBuffers b;
        for (;;) {
            if (KORVBDbCursorGet(set->pGRPName, 1, &b.key, &b.cbKey, &b.value, &b.cbValue) != 0) {
                if (KORLErrGet() != KORL_ERR_BDB_END)
                    KORV_ERR(KORV_ERR_GROUP_NOT_FOUND);
                return -1;
            }
            const char *v = static_cast<const char *>(b.value);
            if (v[b.cbValue - 1] != '\0') {
                KORV_ERR(KORL_ERR_MALFORMED);
                KORV_LOG("KORVGroupDBUnpack failed. korverr=0x%04X", KORLErrGet());
                return -1;
            }
            if (KORVGroupDBUnpack(v, pp) != 0) {
                KORV_LOG("KORVGroupDBUnpack failed. korverr=0x%04X", KORLErrGet());
                return -1;
            }
            int kind = memchr(b.key, '\\', static_cast<size_t>(b.cbKey)) ? KORV_GROUP_TYPE_DOMAIN : KORV_GROUP_TYPE_LOCAL;
            if (!(kindMask & kind))
                continue;
            const KORVGROUP *g = *pp;
            if (!includeSystem && (kindMask & KORV_GROUP_TYPE_LOCAL) && kind == KORV_GROUP_TYPE_LOCAL && g->gid != -1 &&
                IsSystemGid(g->gid) && strcmp(g->szName, "users") != 0)
                continue;
            return 0;
        }
    });
}
