#include <errno.h>

#include "bdb_internal.h"
#include "korv_bdb.h"
#include "korv_internal.h"

namespace korv::bdb {

int Sync(KORVBDB *h)
{
    if (!h || !h->pDb) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    DB *db = Db(h);
    if (db->sync(db, 0) != 0) {
        int err = errno;
        KORV_LOG("errno=%d/%m, db->sync failed.", err);
        KORV_ERR(DbErrCode(err, KORL_ERR_BDB_WRITE, true));
        return -1;
    }
    return 0;
}

}  // namespace korv::bdb
