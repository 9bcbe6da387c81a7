#include "korv_bdb.h"
#include "korv_internal.h"

extern "C" int KORVBDbDeprecatedGet(KORVBDB *h)
{
    if (!h) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    int32_t flag;
    if (korv::bdb::MarkerGet(h, KORV_BDB_KEY_DEPRECATED, KORV_BDB_KEY_DEPRECATED_LEN, &flag) != 0)
        return -1;
    return flag;
}
