#include "korv_bdb.h"
#include "korv_internal.h"

extern "C" int KORVBDbIsNeedToRebuild(KORVBDB *h, int mtime)
{
    if (!h) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    int32_t stored;
    if (korv::bdb::MarkerGet(h, KORV_BDB_KEY_SYNC_TIME, KORV_BDB_KEY_SYNC_TIME_LEN, &stored) != 0)
        return -1;
    return stored != mtime ? 1 : 0;
}
