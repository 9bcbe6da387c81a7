#include <errno.h>

#include "bdb_internal.h"
#include "korv_internal.h"

namespace korv::bdb {

int BDbDbtSet(DBT *dbt, const void *data, int len)
{
    if (!dbt) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    dbt->data = const_cast<void *>(data);
    dbt->size = len > 0 ? static_cast<size_t>(len) : 0;
    return 0;
}

int DbErrCode(int err, int fallback, bool noSpace)
{
    if (err == EIO)
        return KORL_ERR_BDB_IO;
    if (err == EINTR)
        return KORL_ERR_BDB_INTR;
    if (noSpace && err == ENOSPC)
        return KORL_ERR_NO_SPACE;
    return fallback;
}

}  // namespace korv::bdb
