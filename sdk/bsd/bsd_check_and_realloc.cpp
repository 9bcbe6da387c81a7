#include <errno.h>
#include <stdlib.h>

#include "korv/bdb.h"
#include "korv/list.h"
#include "korv_internal.h"

extern "C" int KORVCheckAndRealloc(void **ppData, int *pcbAlloc, int cbNeed)
{
    // A negative need would become a huge unsigned size.
    if (!ppData || !pcbAlloc || cbNeed <= 0) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    if (!*ppData) {
        *ppData = calloc(static_cast<size_t>(cbNeed), 1);
        if (!*ppData) {
            int err = errno;
            KORV_ERR(KORL_ERR_NO_MEMORY);
            errno = err;
            KORV_LOG("NULL == *ppData, NULL == malloc(%d). errno=%d/%m", cbNeed, err);
            return -1;
        }
        *pcbAlloc = cbNeed;
        return 0;
    }
    if (*pcbAlloc == 0) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    if (static_cast<unsigned>(cbNeed) <= static_cast<unsigned>(*pcbAlloc))
        return 0;
    int had = *pcbAlloc;
    *ppData = KORLRealloc(*ppData, static_cast<size_t>(cbNeed));
    if (!*ppData) {
        int err = errno;
        *pcbAlloc = 0;
        KORV_ERR(KORL_ERR_NO_MEMORY);
        errno = err;
        KORV_LOG("NULL != *ppData, cbNeed=[%d] > *pcbAlloc=[%d]. errno=%d/%m", cbNeed, had, err);
        return -1;
    }
    *pcbAlloc = cbNeed;
    return 0;
}
