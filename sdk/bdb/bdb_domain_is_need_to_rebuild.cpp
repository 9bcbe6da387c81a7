#include <time.h>

#include "korv_bdb.h"
#include "korv_internal.h"

extern "C" int KORVBDbDomainIsNeedToRebuild(KORVBDB *h)
{
    if (!h) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return 0;
    }
    int32_t loaded;
    if (korv::bdb::MarkerGet(h, KORV_BDB_KEY_EXPIRE_TIME, KORV_BDB_KEY_EXPIRE_TIME_LEN, &loaded) != 0)
        return KORLErrGet() == KORL_ERR_NOT_FOUND ? 1 : 0;
    // An unsigned difference: a load time in the future counts as expired too.
    uint32_t age = static_cast<uint32_t>(time(nullptr)) - static_cast<uint32_t>(loaded);
    return age > KORV_BDB_DOMAIN_EXPIRE_SECONDS ? 1 : 0;
}
