#include <string.h>

#include "korv_bdb.h"
#include "korv_internal.h"
#include "korv_malloc_ptr.h"
#include "share_internal.h"

extern "C" int KORVShareDBCheckExists(KORVSHAREDB *db, const char *upperName, int upperLen, char *storedName,
                                      int storedNameSize)
{
    if (!db || !db->pShare || !upperName || upperLen < 0 || (!storedName && storedNameSize != 0)) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return 0;
    }
    const void *data;
    int len;
    int r = korv::bdb::Lookup(db->pShare, upperName, upperLen + 1, &data, &len);
    if (r != 0) {
        if (r > 0)
            KORV_ERR(KORV_ERR_SHARE_NOT_FOUND);
        return 0;
    }
    if (!storedName)
        return 1;
    storedName[0] = '\0';
    // The name is read from the checked record, never from a damaged one.
    KORVSHARE *share = nullptr;
    if (korv::share::UnpackChecked(data, len, &share) != 0) {
        free(share);
        return 0;
    }
    korv::MallocPtr<KORVSHARE> owned(share);
    size_t n = strlen(share->szName);
    if (n >= static_cast<size_t>(storedNameSize))
        return 0;
    memcpy(storedName, share->szName, n + 1);
    return 1;
}
