#include <errno.h>

#include "bdb_internal.h"
#include "korv_bdb.h"
#include "korv_internal.h"

namespace korv::bdb {

int Lookup(KORVBDB *h, const void *key, int keyLen, const void **data, int *len)
{
    if (!h || !h->pDb || !key || keyLen <= 0 || !data || !len) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    DBT k, d{};
    BDbDbtSet(&k, key, keyLen);
    DB *db = Db(h);
    int r = db->get(db, &k, &d, 0);
    if (r < 0) {
        int err = errno;
        KORV_LOG("errno=%d/%m, db->get failed.", err);
        KORV_ERR(DbErrCode(err, KORL_ERR_BDB_READ, false));
        return -1;
    }
    if (r != 0)
        return 1;
    *data = d.data;
    *len = d.size > 0x7fffffff ? -1 : static_cast<int>(d.size);
    return 0;
}

}  // namespace korv::bdb

extern "C" int KORVBDbGet(KORVBDB *h, const void *key, int keyLen, void **ppData, int *pcbData)
{
    if (!h || !key || keyLen <= 0 || !ppData || !pcbData) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    const void *data;
    int len;
    int r = korv::bdb::Lookup(h, key, keyLen, &data, &len);
    if (r < 0)
        return -1;
    if (r > 0) {
        KORV_ERR(KORL_ERR_NOT_FOUND);
        return -1;
    }
    DBT d;
    d.data = const_cast<void *>(data);
    d.size = len < 0 ? 0 : static_cast<size_t>(len);
    return korv::bdb::BDbDbtCopyOut(&d, ppData, pcbData);
}
