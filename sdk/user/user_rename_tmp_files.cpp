#include "korv_account_rewrite.h"
#include "user_internal.h"

namespace korv::user {

const korv::AccountFile kRenameFiles[4] = {
    {KORV_SMBPASSWD_FILE, 0600},
    {KORV_SHADOW_FILE, 0600},
    {KORV_PASSWD_FILE, 0644},
    {KORV_USER_CONF_FILE, 0644},
};

int USERIRenameTmpFiles(void)
{
    return korv::AccountRenameTemps(kRenameFiles, 4);
}

}  // namespace korv::user
