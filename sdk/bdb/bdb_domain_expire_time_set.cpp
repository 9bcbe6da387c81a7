#include <time.h>

#include "korv_bdb.h"
#include "korv_internal.h"

extern "C" int KORVBDbDomainExpireTimeSet(KORVBDB *h)
{
    if (!h) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    // The device's clock word is 32 bits; the marker keeps its low word.
    auto now = static_cast<int32_t>(static_cast<uint32_t>(time(nullptr)));
    return korv::bdb::MarkerSet(h, KORV_BDB_KEY_EXPIRE_TIME, KORV_BDB_KEY_EXPIRE_TIME_LEN, now);
}
