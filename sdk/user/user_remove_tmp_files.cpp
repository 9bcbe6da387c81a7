#include "korv_account_rewrite.h"
#include "user_internal.h"

namespace korv::user {

int USERIRemoveTmpFiles(void)
{
    return korv::AccountRemoveTemps(kRenameFiles, 4);
}

}  // namespace korv::user
