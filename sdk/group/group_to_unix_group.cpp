#include <sys/types.h>

#include "group_internal.h"
#include "korv_internal.h"

extern "C" int KORVGroupToUnixGroup(const KORVGROUP *group, struct group *gr)
{
    if (!group || !gr) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    static char password[] = "x";
    gr->gr_name = group->szName;
    gr->gr_passwd = password;
    gr->gr_gid = static_cast<gid_t>(group->gid);
    gr->gr_mem = group->ppszMembers;
    return 0;
}
