#include <stddef.h>
#include <stdio.h>

#include "group_internal.h"
#include "korv_guard.h"
#include "korv_internal.h"

namespace korv::group {

namespace {

using korv::bdb::StoreSpec;

// In the order the set's functions visit them: name, id, description.
const StoreSpec kStores[] = {
    {".name.0947", false, offsetof(KORVGROUPDB, pGRPName), KORV_GROUP_FILE, nullptr},
    {".id.0947", true, offsetof(KORVGROUPDB, pGRPGID), nullptr, nullptr},
    {".desc.0947", false, offsetof(KORVGROUPDB, pGRPDesc), KORV_GROUP_DESC_FILE, nullptr},
};
// The description store is put in place before the id store.
const int kRenameOrder[] = {0, 2, 1};

int Build(void *set)
{
    return KORVGroupDBBuild(static_cast<KORVGROUPDB *>(set));
}

}  // namespace

const korv::bdb::SetSpec kGroupSet = {
    KORV_GROUP_DB_PREFIX, kStores, 3, kRenameOrder, sizeof(KORVGROUPDB), 0644, Build,
    "KORVGroupDBOpenFile", "KORVGroupDBRebuild",
};

std::string GidKey(int gid)
{
    char buf[16];
    snprintf(buf, sizeof buf, "%06d", gid);
    return buf;
}

}  // namespace korv::group

using korv::group::kGroupSet;

extern "C" int KORVGroupDBOpenFile(KORVGROUPDB **ppSet, const char *prefix)
{
    return KORV_GUARDED(-1, { return korv::bdb::SetOpen(kGroupSet, reinterpret_cast<void **>(ppSet), prefix); });
}

extern "C" KORVGROUPDB *KORVGroupDBOpen(void)
{
    KORVGROUPDB *set = nullptr;
    if (KORVGroupDBOpenFile(&set, KORV_GROUP_DB_PREFIX) == 0)
        KORVGroupDBCheckAndRebuild(&set);
    return set;
}

extern "C" void KORVGroupDBClose(KORVGROUPDB *set)
{
    korv::bdb::SetClose(kGroupSet, set);
}
