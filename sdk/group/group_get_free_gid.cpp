#include <stdlib.h>

#include "group_internal.h"
#include "korv_bdb.h"
#include "korv_guard.h"
#include "korv_internal.h"

using namespace korv::group;

namespace {

// The gid of the id store's last key, marker keys skipped: 0, or -1.
int LastGid(KORVBDB *idStore, int *gid)
{
    if (KORVBDbCursorSetType(idStore, KORV_BDB_CURSOR_LAST) != 0)
        return -1;
    void *key = nullptr, *value = nullptr;
    int cbKey = 0, cbValue = 0;
    int r = KORVBDbCursorGet(idStore, 1, &key, &cbKey, &value, &cbValue);
    if (r == 0)
        *gid = atoi(static_cast<char *>(key));
    free(key);
    free(value);
    return r;
}

}  // namespace

extern "C" int KORVGroupGetFreeGid(KORVGROUPDB *set)
{
    return KORV_GUARDED(-1, {
        if (!set || !set->pGRPGID)
            return -1;
        int32_t current;
        long start;
        if (korv::bdb::MarkerGet(set->pGRPGID, KORV_BDB_KEY_CURRENT_GID, KORV_BDB_KEY_CURRENT_ID_LEN, &current) == 0) {
            start = static_cast<long>(current) + 1;
        } else if (KORLErrGet() == KORL_ERR_NOT_FOUND) {
            int last;
            if (LastGid(set->pGRPGID, &last) != 0)
                return -1;
            start = static_cast<long>(last) + 1;
        } else {
            KORV_ERR(KORL_ERR_BDB_READ);
            return -1;
        }
        if (start < KORV_GROUP_GID_FIRST + 1 || start > KORV_GROUP_GID_LAST)
            start = KORV_GROUP_GID_FIRST;
        int gid = static_cast<int>(start);
        do {
            std::string key = GidKey(gid);
            const void *data;
            int len;
            int r = korv::bdb::Lookup(set->pGRPGID, key.c_str(), static_cast<int>(key.size()) + 1, &data, &len);
            if (r < 0)
                return -1;
            if (r > 0)
                return gid;
            gid = gid == KORV_GROUP_GID_LAST ? KORV_GROUP_GID_FIRST : gid + 1;
        } while (gid != start);
        KORV_ERR(KORV_ERR_GROUP_NO_FREE_GID);
        return -1;
    });
}
