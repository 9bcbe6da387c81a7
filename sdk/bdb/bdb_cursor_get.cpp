#include <errno.h>

#include "bdb_internal.h"
#include "korv_internal.h"

using namespace korv::bdb;

namespace {

unsigned SeqFlag(int type)
{
    switch (type) {
    case KORV_BDB_CURSOR_SET_RANGE:
        return R_CURSOR;
    case KORV_BDB_CURSOR_FIRST:
        return R_FIRST;
    case KORV_BDB_CURSOR_LAST:
        return R_LAST;
    case KORV_BDB_CURSOR_PREV:
        return R_PREV;
    default:
        return R_NEXT;
    }
}

}  // namespace

extern "C" int KORVBDbCursorGet(KORVBDB *h, int skipMarkers, void **ppKey, int *pcbKey, void **ppData,
                                int *pcbData)
{
    if (!h || !h->pDb || !ppKey || !pcbKey || !ppData || !pcbData) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    DB *db = Db(h);
    for (;;) {
        DBT k{}, d{};
        if (h->cursorType == KORV_BDB_CURSOR_SET_RANGE) {
            if (!*ppKey || *pcbKey <= 0) {
                KORV_ERR(KORL_ERR_BAD_PARAM);
                return -1;
            }
            BDbDbtSet(&k, *ppKey, *pcbKey);
        }
        int r = db->seq(db, &k, &d, SeqFlag(h->cursorType));
        if (r < 0) {
            int err = errno;
            KORV_LOG("errno=%d/%m, db->seq failed.", err);
            KORV_ERR(DbErrCode(err, KORL_ERR_BDB_READ, false));
            return -1;
        }
        if (r != 0) {
            KORV_ERR(KORL_ERR_BDB_END);
            return -1;
        }
        if (skipMarkers == 1 && IsMarker(k)) {
            // A positioning read that lands on a marker goes on in its own direction; reading the
            // same position again would never end.
            if (h->cursorType == KORV_BDB_CURSOR_FIRST || h->cursorType == KORV_BDB_CURSOR_SET_RANGE)
                h->cursorType = KORV_BDB_CURSOR_NEXT;
            else if (h->cursorType == KORV_BDB_CURSOR_LAST)
                h->cursorType = KORV_BDB_CURSOR_PREV;
            continue;
        }
        if (BDbDbtCopyOut(&k, ppKey, pcbKey) != 0 || BDbDbtCopyOut(&d, ppData, pcbData) != 0)
            return -1;
        return 0;
    }
}
