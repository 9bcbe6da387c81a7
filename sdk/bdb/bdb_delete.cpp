#include <errno.h>
#include <string.h>

#include "bdb_internal.h"
#include "korv_bdb.h"
#include "korv_internal.h"

using namespace korv::bdb;

namespace {

void RecordDelError()
{
    int err = errno;
    KORV_LOG("errno=%d/%m, db->del failed.", err);
    KORV_ERR(DbErrCode(err, KORL_ERR_BDB_DELETE, true));
}

}  // namespace

extern "C" int KORVBDbDelete(KORVBDB *h, const void *key, int keyLen)
{
    if (!h || !h->pDb || !key || keyLen <= 0) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    DBT k;
    BDbDbtSet(&k, key, keyLen);
    DB *db = Db(h);
    int r = db->del(db, &k, 0);
    if (r < 0) {
        RecordDelError();
        return -1;
    }
    if (r != 0) {
        KORV_ERR(KORL_ERR_NOT_FOUND);
        return -1;
    }
    return 0;
}

namespace korv::bdb {

int DeleteValue(KORVBDB *h, const void *key, int keyLen, const void *value, int len)
{
    if (!h || !h->pDb || !key || keyLen <= 0 || !value || len <= 0) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    DB *db = Db(h);
    DBT k, d{};
    BDbDbtSet(&k, key, keyLen);
    int removed = 0;
    // The cursor walks the key's records from its first; each match is removed where it stands.
    int r = db->seq(db, &k, &d, R_CURSOR);
    while (r == 0 && k.size == static_cast<size_t>(keyLen) && memcmp(k.data, key, k.size) == 0) {
        if (d.size == static_cast<size_t>(len) && memcmp(d.data, value, d.size) == 0) {
            if (db->del(db, &k, R_CURSOR) < 0) {
                RecordDelError();
                return -1;
            }
            ++removed;
        }
        r = db->seq(db, &k, &d, R_NEXT);
    }
    if (r < 0) {
        int err = errno;
        KORV_LOG("errno=%d/%m, db->seq failed.", err);
        KORV_ERR(DbErrCode(err, KORL_ERR_BDB_READ, false));
        return -1;
    }
    return removed;
}

}  // namespace korv::bdb
