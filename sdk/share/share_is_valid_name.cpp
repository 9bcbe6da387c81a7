#include <string.h>
#include <strings.h>

#include "korv/share.h"
#include "korv_name_rule.h"

extern "C" int KORVShareIsValidName(const char *name)
{
    return korv::NameRuleOk(name, KORV_SHARE_NAME_MAX) ? 1 : 0;
}

extern "C" int KORVShareIsUsbShare(const char *name)
{
    if (!name)
        return 0;
    if (strcmp(name, "usbbackup") == 0)
        return 1;
    if (strncasecmp(name, "usbshare", 8) != 0)
        return 0;
    for (const char *p = name + 8; *p; ++p) {
        if (*p < '0' || *p > '9')
            return 0;
    }
    return 1;
}

extern "C" int KORVShareIsSataShare(const char *name)
{
    return name && (strcmp(name, "satashare") == 0 || strcmp(name, "satabackup") == 0) ? 1 : 0;
}
