#include <stdlib.h>

#include "korv_internal.h"
#include "share_internal.h"

extern "C" int KORVShareDBCursorGet(KORVSHAREDB *db, KORVSHARE **share)
{
    if (!db || !db->pShare || !share) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    void *key = nullptr, *value = nullptr;
    int cbKey = 0, cbValue = 0;
    // Reserved sections and markers are "#" keys: a walk sees shares only.
    int r = KORVBDbCursorGet(db->pShare, 1, &key, &cbKey, &value, &cbValue);
    if (r == 0)
        r = korv::share::UnpackChecked(value, cbValue, share);
    free(key);
    free(value);
    return r;
}
