#include <errno.h>

#include "bdb_internal.h"
#include "korv_bdb.h"
#include "korv_internal.h"

using namespace korv::bdb;

namespace {

// db->put of one record: 0, 1 when R_NOOVERWRITE found the key (nothing recorded), or -1.
int Put(KORVBDB *h, const void *key, int keyLen, const void *data, int dataLen, unsigned flags)
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
    if (!(flags & R_NOOVERWRITE) && IsMarker(k) && db->del(db, &k, 0) < 0) {
        KORV_LOG("errno=%d/%m, db->del failed.", errno);
        return -1;
    }
    int r = db->put(db, &k, &d, flags);
    if (r < 0) {
        int err = errno;
        KORV_LOG("errno=%d/%m, db->put failed.", err);
        KORV_ERR(DbErrCode(err, KORL_ERR_BDB_WRITE, true));
        return -1;
    }
    return r == 0 ? 0 : 1;
}

}  // namespace

extern "C" int KORVBDbSet(KORVBDB *h, const void *key, int keyLen, const void *data, int dataLen)
{
    int r = Put(h, key, keyLen, data, dataLen, 0);
    if (r > 0) {
        KORV_ERR(KORL_ERR_BDB_WRITE);
        return -1;
    }
    return r;
}

namespace korv::bdb {

int PutNew(KORVBDB *h, const void *key, int keyLen, const void *data, int dataLen)
{
    return Put(h, key, keyLen, data, dataLen, R_NOOVERWRITE);
}

}  // namespace korv::bdb
