#include <strings.h>

#include <vector>

#include "group_internal.h"
#include "korv_guard.h"
#include "korv_internal.h"
#include "korv_sz_holders.h"

extern "C" int KORVSmmspGroupSet(const char *name, const char *newName, int mode)
{
    return KORV_GUARDED(-1, {
        if ((mode == KORV_SMMSP_ADD && !newName) || (mode == KORV_SMMSP_RENAME && (!name || !newName)) ||
            (mode == KORV_SMMSP_REMOVE && !name)) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        korv::ListHolder members(PslKORLSzListAlloc(KORL_SZLIST_MIN_SIZE));
        if (!members)
            return -1;
        bool existed = true;
        if (KORVGroupListMember(KORV_SMMSP_GROUP, members.addr()) != 0) {
            if (KORLErrGet() != KORV_ERR_GROUP_NOT_FOUND) {
                KORV_LOG("KORVGroupListMember [%s] failed. korverr=0x%04X", KORV_SMMSP_GROUP, KORLErrGet());
                return -1;
            }
            existed = false;
            KORLSzListRemoveAll(members.get());
            if (KORLSzListPush(members.addr(), KORV_SMMSP_GROUP) < 0)
                return -1;
        }
        if (name) {
            for (int i = members->nItem - 1; i >= 0; i--) {
                const char *m = SzKORLSzListGet(members.get(), i);
                if (!m || strcasecmp(m, name) != 0)
                    continue;
                if (mode == KORV_SMMSP_RENAME) {
                    if (KORLSzListSet(members.addr(), i, newName) < 0)
                        return -1;
                } else if (mode == KORV_SMMSP_REMOVE) {
                    SzKORLSzListRemove(members.get(), i);
                }
            }
        }
        if (mode == KORV_SMMSP_ADD && KORLSzListPush(members.addr(), newName) < 0)
            return -1;

        std::vector<char *> array;
        for (int i = 0; i < members->nItem; i++)
            array.push_back(SzKORLSzListGet(members.get(), i));
        array.push_back(nullptr);
        KORVGROUP *g = nullptr;
        int r = KORVGroupAlloc2(&g, KORV_SMMSP_GROUP, KORV_SMMSP_GID, array.data());
        if (r == 0)
            r = KORVGroupSet(existed ? KORV_SMMSP_GROUP : nullptr, g);
        KORVGroupFree(g);
        if (r != 0) {
            KORV_LOG("KORVGroupSet [%s] failed. korverr=0x%04X", KORV_SMMSP_GROUP, KORLErrGet());
            return -1;
        }
        return 0;
    });
}
