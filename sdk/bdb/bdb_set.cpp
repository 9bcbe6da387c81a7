#include <errno.h>

#include "bdb_internal.h"
#include "korv_bdb.h"
#include "korv_internal.h"

using namespace korv::bdb;

extern "C" int KORVBDbSet(KORVBDB *h, const void *key, int keyLen, const void *data, int dataLen)
{
    if (!h || !h->pDb || !key || !data || keyLen <= 0 || dataLen <= 0) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    DBT k, d;
    BDbDbtSet(&k, key, keyLen);
    BDbDbtSet(&d, data, dataLen);
    DB *db = Db(h);
    // A marker stays single even in a store with duplicates.
    if (IsMarker(k) && db->del(db, &k, 0) < 0) {
        KORV_LOG("errno=%d/%m, db->del failed.", errno);
        return -1;
    }
    int r = db->put(db, &k, &d, 0);
    if (r < 0) {
        int err = errno;
        KORV_LOG("errno=%d/%m, db->put failed.", err);
        KORV_ERR(DbErrCode(err, KORL_ERR_BDB_WRITE, true));
        return -1;
    }
    if (r != 0) {
        KORV_ERR(KORL_ERR_BDB_WRITE);
        return -1;
    }
    return 0;
}

namespace korv::bdb {

int PutNew(KORVBDB *h, const void *key, int keyLen, const void *data, int dataLen)
{
    if (!h || !h->pDb || !key || !data || keyLen <= 0 || dataLen <= 0) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    DBT k, d;
    BDbDbtSet(&k, key, keyLen);
    BDbDbtSet(&d, data, dataLen);
    DB *db = Db(h);
    int r = db->put(db, &k, &d, R_NOOVERWRITE);
    if (r < 0) {
        int err = errno;
        KORV_LOG("errno=%d/%m, db->put failed.", err);
        KORV_ERR(DbErrCode(err, KORL_ERR_BDB_WRITE, true));
        return -1;
    }
    return r == 0 ? 0 : 1;
}

}  // namespace korv::bdb
