#include <stdio.h>

#include "korv_internal.h"
#include "share_internal.h"

namespace korv::share {

int ShareFTypeSetToConf(int fType, char *guestOk, char *writeable, int guestOkSize, int writeableSize)
{
    if (!guestOk || !writeable || guestOkSize <= 3 || writeableSize <= 3 || fType <= 0) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    const char *guest, *write;
    if (fType & KORV_SHARE_NO_ACCESS) {
        guest = "no";
        write = "no";
    } else if (fType & KORV_SHARE_READ_WRITE) {
        guest = "yes";
        write = "yes";
    } else if (fType & KORV_SHARE_READ_ONLY) {
        guest = "yes";
        write = "no";
    } else {
        KORV_ERR(KORV_ERR_SHARE_PERMISSION);
        return -1;
    }
    snprintf(guestOk, static_cast<size_t>(guestOkSize), "%s", guest);
    snprintf(writeable, static_cast<size_t>(writeableSize), "%s", write);
    return 0;
}

}  // namespace korv::share
