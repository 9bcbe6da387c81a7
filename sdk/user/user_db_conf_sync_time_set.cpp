#include <errno.h>
#include <sys/stat.h>

#include "korv_bdb.h"
#include "korv_internal.h"
#include "user_internal.h"

namespace korv::user {

int UserDbConfSyncTimeSet(KORVUSERDB *set)
{
    if (!set || !set->pPWDName || !set->pPWDUID || !set->pPWDShadow || !set->pPWDKorvser || !set->pPWDSMB) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    const struct {
        KORVBDB *store;
        const char *path;
    } pairs[] = {
        {set->pPWDName, KORV_PASSWD_FILE},     {set->pPWDUID, KORV_PASSWD_FILE},
        {set->pPWDShadow, KORV_SHADOW_FILE},   {set->pPWDKorvser, KORV_USER_CONF_FILE},
        {set->pPWDSMB, KORV_SMBPASSWD_FILE},
    };
    struct stat st;
    const char *statted = nullptr;  // the file st describes
    for (const auto &p : pairs) {
        // The name and the uid store share one file: it is looked at once.
        if (p.path != statted) {
            if (stat(p.path, &st) != 0) {
                KORV_LOG("stat [%s] failed!! errno=%d/%m", p.path, errno);
                return -1;
            }
            statted = p.path;
        }
        if (korv::bdb::SyncTimeSet(p.store, st) != 0)
            return -1;
    }
    return 0;
}

}  // namespace korv::user
