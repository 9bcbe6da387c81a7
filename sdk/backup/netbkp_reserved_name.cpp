#include <strings.h>

#include <initializer_list>

#include "korv/backup.h"

extern "C" int KORVNetBkpReservedName(const char *name)
{
    if (!name)
        return 0;
    for (const char *account : {"root", "admin", "rsync"}) {
        if (strcasecmp(name, account) == 0)
            return 1;
    }
    return 0;
}
