#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "korv/wins.h"
#include "korv_guard.h"
#include "korv_internal.h"
#include "korv_unique.h"
#include "share_internal.h"

namespace korv::share {

namespace {

using korv::bdb::StoreSpec;

constexpr const char *kPrefix = "/tmp/.db.korvshare";
constexpr const char *kSuffix = ".0947";

// One store, built under "/tmp/.db.korvshare.tmp".
const StoreSpec kStores[] = {
    {kSuffix, false, offsetof(KORVSHAREDB, pShare), KORV_SMB_CONF, ""},
};
const int kRenameOrder[] = {0};

int Build(void *set)
{
    korv::UniqueFile fp(fopen(KORV_SMB_CONF, "re"));
    if (!fp) {
        KORV_ERR(KORL_ERR_OPEN);
        return -1;
    }
    return KORVShareDBBuild(fp.get(), static_cast<KORVSHAREDB *>(set));
}

}  // namespace

const korv::bdb::SetSpec kShareSet = {
    kPrefix, kStores, 1, kRenameOrder, sizeof(KORVSHAREDB), 0644, Build, "KORVShareDBOpenFile", "KORVShareDBRebuild",
};

namespace {

int OpenAt(KORVSHAREDB **db, const char *path)
{
    size_t n = strlen(path), s = strlen(kSuffix);
    if (n > s && strcmp(path + n - s, kSuffix) == 0) {
        std::string prefix(path, n - s);
        return korv::bdb::SetOpen(kShareSet, reinterpret_cast<void **>(db), prefix.c_str());
    }
    // A store of another name is that file itself, built beside it under path + ".tmp".
    StoreSpec store = kStores[0];
    store.suffix = "";
    store.stagingSuffix = nullptr;
    korv::bdb::SetSpec spec = kShareSet;
    spec.prefix = path;
    spec.stores = &store;
    return korv::bdb::SetOpen(spec, reinterpret_cast<void **>(db), path);
}

}  // namespace

}  // namespace korv::share

extern "C" int KORVShareDBOpenFile(KORVSHAREDB **db, const char *path)
{
    return KORV_GUARDED(-1, {
        if (!db || !path) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        return korv::share::OpenAt(db, path);
    });
}

extern "C" KORVSHAREDB *KORVShareDBOpen(void)
{
    KORVSHAREDB *db = nullptr;
    if (KORVShareDBOpenFile(&db, KORV_SHARE_DB_FILE) == 0)
        KORVShareDBCheckAndRebuild(&db);
    return db;
}

extern "C" void KORVShareDBClose(KORVSHAREDB *db)
{
    if (!db) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return;
    }
    korv::bdb::SetClose(korv::share::kShareSet, db);
}
