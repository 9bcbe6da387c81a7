#include <strings.h>

#include <initializer_list>

#include "korv/share.h"
#include "korv_internal.h"

extern "C" int KORVShareSectionTypeGet(const char *sectionName)
{
    if (!sectionName) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    for (const char *reserved : {"global", "home", "printers"}) {
        if (strcasecmp(sectionName, reserved) == 0)
            return 1;
    }
    return 0;
}
