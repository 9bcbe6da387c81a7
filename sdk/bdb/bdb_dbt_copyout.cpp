#include <limits.h>
#include <string.h>

#include "bdb_internal.h"
#include "korv_internal.h"

namespace korv::bdb {

int BDbDbtCopyOut(const DBT *dbt, void **pp, int *pcb)
{
    if (!dbt || !pp || !pcb) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    if (dbt->size == 0 || dbt->size > INT_MAX) {
        KORV_ERR(KORL_ERR_BDB_READ);
        return -1;
    }
    int n = static_cast<int>(dbt->size);
    if (KORVCheckAndRealloc(pp, pcb, n) != 0) {
        KORV_LOG("KORVCheckAndRealloc failed. korverr=0x%04X", KORLErrGet());
        return -1;
    }
    memcpy(*pp, dbt->data, dbt->size);
    *pcb = n;
    return 0;
}

}  // namespace korv::bdb
