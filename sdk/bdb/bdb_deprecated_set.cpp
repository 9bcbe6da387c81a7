#include "korv_bdb.h"
#include "korv_internal.h"

extern "C" int KORVBDbDeprecatedSet(KORVBDB *h, int flag)
{
    if (!h) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    return korv::bdb::MarkerSet(h, KORV_BDB_KEY_DEPRECATED, KORV_BDB_KEY_DEPRECATED_LEN, flag);
}
