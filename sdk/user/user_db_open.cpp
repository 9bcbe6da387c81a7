#include <stddef.h>

#include "korv_guard.h"
#include "korv_internal.h"
#include "user_internal.h"

namespace korv::user {

namespace {

using korv::bdb::StoreSpec;

// In the order the set's functions visit them.
const StoreSpec kStores[] = {
    {".name.0947", false, offsetof(KORVUSERDB, pPWDName), KORV_PASSWD_FILE, nullptr},
    {".misc.0947", false, offsetof(KORVUSERDB, pPWDKorvser), KORV_USER_CONF_FILE, nullptr},
    {".shadow.0947", false, offsetof(KORVUSERDB, pPWDShadow), KORV_SHADOW_FILE, nullptr},
    {".smb.0947", false, offsetof(KORVUSERDB, pPWDSMB), KORV_SMBPASSWD_FILE, nullptr},
    {".uid.0947", true, offsetof(KORVUSERDB, pPWDUID), nullptr, nullptr},
};
const int kRenameOrder[] = {0, 1, 2, 3, 4};

int Build(void *set)
{
    return KORVUserDBBuild(static_cast<KORVUSERDB *>(set));
}

}  // namespace

// The stores hold password hashes: readable by their owner only.
const korv::bdb::SetSpec kUserSet = {
    KORV_USER_DB_PREFIX, kStores, 5, kRenameOrder, sizeof(KORVUSERDB), 0600, Build,
    "KORVUserDBOpenFile", "KORVUserDBRebuild",
};

}  // namespace korv::user

using korv::user::kUserSet;

extern "C" int KORVUserDBOpenFile(KORVUSERDB **ppSet, const char *prefix)
{
    return KORV_GUARDED(-1, { return korv::bdb::SetOpen(kUserSet, reinterpret_cast<void **>(ppSet), prefix); });
}

extern "C" KORVUSERDB *KORVUserDBOpen(void)
{
    KORVUSERDB *set = nullptr;
    if (KORVUserDBOpenFile(&set, KORV_USER_DB_PREFIX) == 0)
        KORVUserDBCheckAndRebuild(&set);
    return set;
}

extern "C" void KORVUserDBClose(KORVUSERDB *set)
{
    korv::bdb::SetClose(kUserSet, set);
}
