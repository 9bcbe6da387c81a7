#include <string.h>

#include "korv/file.h"
#include "korv/user.h"

namespace {

int gGuestSupport = -1;  // not read yet

}  // namespace

extern "C" int KORVGuestSupport(void)
{
    if (gGuestSupport == -1) {
        gGuestSupport = 1;
        char value[32] = "";
        if (KORLFileGetKeyValue("/etc.defaults/korvinfo.conf", "guestsupport", value, sizeof value, 0) > 0 &&
            strcmp(value, "no") == 0)
            gGuestSupport = 0;
    }
    return gGuestSupport;
}
