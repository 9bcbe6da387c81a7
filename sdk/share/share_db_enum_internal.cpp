#include <errno.h>
#include <syslog.h>

#include "korv_guard.h"
#include "korv_records.h"
#include "korv_internal.h"
#include "share_internal.h"

extern "C" int KORVShareDBEnumInternal(KORVSHAREDB *db, PKORLSZLIST *list, const KORVSHAREENUMCB *callbacks,
                                       void *initArg, int filterArg)
{
    return KORV_GUARDED(-1, {
        if (!db || !list || !*list || !callbacks || !callbacks->filter || !callbacks->init != !callbacks->fini) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        if (callbacks->init && callbacks->init(callbacks, initArg) != 0) {
            callbacks->fini(callbacks);
            return -1;
        }
        korv::ShareRecord share;
        int count = 0, result = 0;
        // The walk ends at the first cursor failure, the end of the store being the normal one.
        while (KORVShareDBCursorGet(db, share.addr()) == 0) {
            if (callbacks->filter(callbacks, share.get(), filterArg) != 0)
                continue;
            if (KORLSzListPush(list, share.get()->szName) < 0) {
                syslog(LOG_WARNING, "%s:%d KORLSzListPush error. errno=%d/%m", __FILE_NAME__, __LINE__, errno);
                result = -1;
                break;
            }
            ++count;
        }
        if (callbacks->fini)
            callbacks->fini(callbacks);
        return result < 0 ? -1 : count;
    });
}
