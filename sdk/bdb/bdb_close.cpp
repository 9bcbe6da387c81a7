#include <errno.h>
#include <stdlib.h>

#include "bdb_internal.h"
#include "korv_internal.h"

extern "C" int KORVBDbClose(KORVBDB *h)
{
    if (!h) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    if (DB *db = korv::bdb::Db(h); db && db->close(db) != 0) {
        int err = errno;
        KORV_LOG("errno=%d/%m, db->close failed.", err);
        switch (err) {
        case EIO:
            KORV_ERR(KORL_ERR_BDB_IO);
            break;
        case EINTR:
            KORV_ERR(KORL_ERR_BDB_INTR);
            break;
        case ENOSPC:
            KORV_ERR(KORL_ERR_NO_SPACE);
            break;
        case EROFS:
            KORV_ERR(KORL_ERR_READ_ONLY);
            break;
        default:
            break;
        }
    }
    free(h);
    return 0;
}
