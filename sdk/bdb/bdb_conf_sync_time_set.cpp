#include "korv_bdb.h"
#include "korv_internal.h"

extern "C" int KORVBDbConfSyncTimeSet(KORVBDB *h, int time)
{
    if (!h) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    return korv::bdb::MarkerSet(h, KORV_BDB_KEY_SYNC_TIME, KORV_BDB_KEY_SYNC_TIME_LEN, time);
}
