// Adding a slave port to a bond record, which keeps its names sorted.
#include <stdlib.h>
#include <string.h>

#include "korv_internal.h"
#include "net_internal.h"

namespace {

// Bounded to the 16-byte field, so that a record built without terminators is never overrun.
int NetLinkAggrSlaveCompare(const void *a, const void *b)
{
    return strncmp(static_cast<const char *>(a), static_cast<const char *>(b), 16);
}

}  // namespace

extern "C" int KORVNetLinkAggrOptSlaveAdd(KORVNETLINKAGGR *record, const char *slave)
{
    if (!record || !slave || record->nSlave < 0) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    if (record->nSlave >= KORV_NET_MAX_SLAVES) {
        KORV_ERR(KORV_ERR_NET_SLAVES_FULL);
        return -1;
    }
    char name[16] = {};
    strncpy(name, slave, sizeof name - 1);
    size_t n = static_cast<size_t>(record->nSlave);
    if (bsearch(name, record->szSlave, n, sizeof record->szSlave[0], NetLinkAggrSlaveCompare)) {
        KORV_ERR(KORV_ERR_NET_SLAVE_EXISTS);
        return -1;
    }
    memcpy(record->szSlave[n], name, sizeof name);
    ++record->nSlave;
    qsort(record->szSlave, n + 1, sizeof record->szSlave[0], NetLinkAggrSlaveCompare);
    return 0;
}
