#include "bdb_internal.h"
#include "korv_internal.h"

extern "C" int KORVBDbConfSyncTimeGet(KORVBDB *h, void **ppValue)
{
    return korv::bdb::MarkerGetCopy(h, KORV_BDB_KEY_SYNC_TIME, KORV_BDB_KEY_SYNC_TIME_LEN, ppValue,
                                    __FILE_NAME__, __LINE__);
}
