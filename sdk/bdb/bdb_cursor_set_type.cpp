#include "korv_internal.h"
#include "korv/bdb.h"

extern "C" int KORVBDbCursorSetType(KORVBDB *h, int type)
{
    if (!h || type < KORV_BDB_CURSOR_SET_RANGE || type > KORV_BDB_CURSOR_PREV) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    h->cursorType = type;
    return 0;
}
