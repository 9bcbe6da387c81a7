#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <syslog.h>

#include "korv/error.h"
#include "korv/ftp.h"
#include "korv/list.h"
#include "korv/net.h"
#include "korv/string.h"
#include "korv_unique.h"

extern "C" int ConnSecurityDenyIPEnum(PKORLSZLIST *plist)
{
    if (!plist || !*plist)
        return -1;
    korv::UniqueFile fp(fopen(KORV_HOSTS_DENY, "r"));
    if (!fp) {
        syslog(LOG_ERR, "%s: %s(%d) - fopen(%s) failed!! err=[%s]\n", __FILE_NAME__, "ConnSecurityDenyIPEnum",
               __LINE__, KORV_HOSTS_DENY, strerror(errno));
        return -1;
    }
    // A longer line is read in pieces, each taken as a line.
    char line[1024];
    while (fgets(line, sizeof line, fp.get())) {
        if (line[0] == '#' || line[0] == '\n')
            continue;
        char *second = strchr(line, ':');
        if (!second)
            continue;
        ++second;
        second[strcspn(second, ":")] = '\0';
        if (KORLStrTrimSpace(second, nullptr) < 0 || KORVNetIsIPAddr(second) != 1)
            continue;
        if (KORLSzListPush(plist, second) < 0) {
            syslog(LOG_ERR, "%s: %s(%d) - KORLSzListPush(%s) failed!! err=[%d]\n", __FILE_NAME__,
                   "ConnSecurityDenyIPEnum", __LINE__, KORV_HOSTS_DENY, KORLErrGet());
            return -1;
        }
    }
    return (*plist)->nItem;
}
