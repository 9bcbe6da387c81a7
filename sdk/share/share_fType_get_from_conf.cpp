#include <string.h>

#include "korv_internal.h"
#include "share_internal.h"

namespace korv::share {

int ShareFTypeGetFromConf(const char *guestOk, const char *writeable)
{
    if (!guestOk || !writeable) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    bool guest = strcmp(guestOk, "yes") == 0, noGuest = strcmp(guestOk, "no") == 0;
    bool write = strcmp(writeable, "yes") == 0, noWrite = strcmp(writeable, "no") == 0;
    if (guest && write)
        return KORV_SHARE_READ_WRITE;
    if (guest && noWrite)
        return KORV_SHARE_READ_ONLY;
    if (noGuest && noWrite)
        return KORV_SHARE_NO_ACCESS;
    KORV_ERR(KORL_ERR_OTHER);
    return -1;
}

}  // namespace korv::share
