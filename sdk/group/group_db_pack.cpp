#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "group_internal.h"
#include "korv/user.h"
#include "korv_guard.h"
#include "korv_internal.h"
#include "korv_malloc_ptr.h"

extern "C" int KORVGroupDBPackFromUnix(const struct group *gr, char **ppLine, int *pcbLine)
{
    return KORV_GUARDED(-1, {
        if (!gr || !ppLine || !pcbLine || (*ppLine && *pcbLine == 0)) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        if (!gr->gr_name || !*gr->gr_name) {
            KORV_ERR(KORV_ERR_GROUP_INVALID_NAME);
            return -1;
        }
        char *none[] = {nullptr};
        char *members = nullptr;
        int cbMembers = 0;
        if (KORVUserGetValidUserList(gr->gr_mem ? gr->gr_mem : none, &members, &cbMembers) != 0) {
            free(members);
            KORV_LOG("KORVUserGetValidUserList() failed! korverr=0x%04X", KORLErrGet());
            return -1;
        }
        korv::MallocPtr<char> owned(members);
        // Sized from the normalised members, so that a line is never cut.
        std::string line = std::string(gr->gr_name) + ":x:" + std::to_string(static_cast<int>(gr->gr_gid)) + ":" +
                           (members ? members : "");
        if (line.size() >= 0x7fffffff) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        void *p = *ppLine;
        if (KORVCheckAndRealloc(&p, pcbLine, static_cast<int>(line.size()) + 1) != 0) {
            *ppLine = static_cast<char *>(p);
            KORV_LOG("KORVCheckAndRealloc() failed! korverr=0x%04X", KORLErrGet());
            return -1;
        }
        *ppLine = static_cast<char *>(p);
        memcpy(*ppLine, line.c_str(), line.size() + 1);
        return static_cast<int>(line.size()) + 1;
    });
}
