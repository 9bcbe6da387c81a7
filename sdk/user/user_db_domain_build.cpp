#include "korv_account_store.h"
#include "korv_guard.h"
#include "korv_internal.h"
#include "user_internal.h"

namespace korv::user {

int UserDBDomainBuild(KORVBDB *nameStore)
{
    static const korv::bdb::DomainAccounts kUsers = {
        KORV_DOMAIN_USER_FILE, ":x:-1:-1:::", 0, false, "domain user build nothing",
    };
    return KORV_GUARDED(-1, { return korv::bdb::DomainBuild(nameStore, kUsers); });
}

}  // namespace korv::user
