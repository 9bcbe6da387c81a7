#include <stdlib.h>

#include "korv_guard.h"
#include "korv_internal.h"
#include "korv_malloc_ptr.h"
#include "share_internal.h"

using namespace korv::share;

namespace {

bool Exists(KORVSHAREDB *db, const std::string &key)
{
    return KORVShareDBCheckExists(db, key.c_str(), static_cast<int>(key.size()), nullptr, 0) == 1;
}

int Set(KORVSHAREDB *db, const char *oldName, const KORVSHARE *in)
{
    std::string key;
    if (ShareKey(in->szName, key) != 0)
        return -1;
    korv::MallocPtr<KORVSHARE> record(KORVShareAlloc(in));
    if (!record)
        return -1;
    korv::MallocPtr<unsigned char> packed(static_cast<unsigned char *>(KORVShareDBPack(record.get())));
    if (!packed)
        return -1;
    std::string oldKey;
    if (oldName && ShareKey(oldName, oldKey) != 0)
        return -1;
    // A new name must be free; a rename onto another share changes nothing.
    bool rename = oldName && oldKey != key;
    if ((!oldName || rename) && Exists(db, key)) {
        KORV_ERR(KORV_ERR_SHARE_EXISTS);
        return -1;
    }
    int len = record->cbRecord + 4;
    if (KORVBDbSet(db->pShare, key.c_str(), static_cast<int>(key.size()) + 1, packed.get(), len) != 0)
        return -1;
    // The old record goes only once the new one is stored.
    if (rename)
        KORVBDbDelete(db->pShare, oldKey.c_str(), static_cast<int>(oldKey.size()) + 1);
    return 0;
}

}  // namespace

extern "C" int KORVShareDBSet(KORVSHAREDB *db, const char *oldName, const KORVSHARE *in)
{
    if (!db || !db->pShare || !in || !in->szName) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    return KORV_GUARDED(-1, { return Set(db, oldName, in); });
}
