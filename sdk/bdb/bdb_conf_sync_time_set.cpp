#include "korv_bdb.h"
#include "korv_internal.h"
#include "korv_log_at.h"

extern "C" int KORVBDbConfSyncTimeSet(KORVBDB *h, int time)
{
    if (!h) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    return korv::bdb::MarkerSet(h, KORV_BDB_KEY_SYNC_TIME, KORV_BDB_KEY_SYNC_TIME_LEN, time);
}

namespace korv::bdb {

int SyncTimeSet(KORVBDB *h, const struct stat &st, std::source_location loc)
{
    if (KORVBDbConfSyncTimeSet(h, static_cast<int32_t>(st.st_mtime)) != 0) {
        LogAt(LOG_ERR, loc, "KORVBDbConfSyncTimeSet() failed!! korverr=0x%04X", KORLErrGet());
        return -1;
    }
    return 0;
}

}  // namespace korv::bdb
