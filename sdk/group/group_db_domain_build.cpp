#include "group_internal.h"
#include "korv_account_store.h"
#include "korv_guard.h"
#include "korv_internal.h"

namespace korv::group {

int GroupDBDomainBuild(KORVBDB *nameStore)
{
    // A name too long for its key, or none at all, is left out; any other failure fails the build.
    static const korv::bdb::DomainAccounts kGroups = {
        KORV_DOMAIN_GROUP_FILE, ":x:-1:", kDomainKeySize, true, "domain group build nothing",
    };
    return KORV_GUARDED(-1, { return korv::bdb::DomainBuild(nameStore, kGroups); });
}

}  // namespace korv::group
