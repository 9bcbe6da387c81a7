// A batch of user renames carried into the shares' user lists, and smb.conf written anew.
#include <stdlib.h>

#include "korv_guard.h"
#include "korv_internal.h"
#include "korv_share_lists.h"
#include "user_internal.h"

extern "C" int KORVUserModifySmbConf(PKORLSZHASH renames)
{
    return KORV_GUARDED(-1, {
        if (!renames) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        // A list that cannot be renamed is never stored empty: its share keeps all its lists.
        return korv::RenameInShareLists(
            [&](const char *list, char **out) {
                char *buf = nullptr;
                int cb = 0;
                int r = KORVUserModifyListConfig(list, &buf, &cb, renames);
                if (r == 1) {
                    *out = buf;
                    return 1;
                }
                if (buf != list)
                    free(buf);
                if (r < 0)
                    KORV_LOG("KORVUserModifyListConfig failed. korverr=0x%04X", KORLErrGet());
                return r;
            },
            true);
    });
}
