// A group created, updated or renamed, published, and on a rename carried into the share lists.
#include <stdlib.h>
#include <string.h>

#include <string>

#include "group_internal.h"
#include "korv/file_lock.h"
#include "korv/unicode.h"
#include "korv_bdb.h"
#include "korv_db_holder.h"
#include "korv_guard.h"
#include "korv_records.h"
#include "korv_internal.h"
#include "korv_locked_lookup.h"
#include "korv_malloc_ptr.h"
#include "korv_sz_holders.h"
#include "korv_share_lists.h"

using namespace korv::group;

namespace korv::group {

int ReplaceGrpInString(const char *list, char **ppOut, const char *oldGroup, const char *newGroup)
{
    return KORV_GUARDED(-1, {
        if (!list || !ppOut || *ppOut || !oldGroup || !newGroup) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        // Only a whole entry names the group: "@staff" is not part of "@staffers", nor of a
        // domain user whose name ends in it.
        std::string text = "," + std::string(list) + ",";
        std::string find = ",@" + std::string(oldGroup) + ",";
        size_t at = *list ? text.find(find) : std::string::npos;
        if (at == std::string::npos) {
            *ppOut = const_cast<char *>(list);
            return 0;
        }
        text.replace(at, find.size(), ",@" + std::string(newGroup) + ",");
        std::string out = text.substr(1, text.size() - 2);
        char *copy = static_cast<char *>(malloc(out.size() + 1));
        if (!copy) {
            KORV_LOG("szNewStr=[%s], szOldGrp=[%s]", text.c_str(), find.c_str());
            KORV_ERR(KORL_ERR_NO_MEMORY);
            return -1;
        }
        memcpy(copy, out.c_str(), out.size() + 1);
        *ppOut = copy;
        return 1;
    });
}

}  // namespace korv::group

namespace {

// The upper-cased key of a name given to the set: 0, or -1 (0x0D00 for an empty name).
int SetKey(const char *name, std::string &key)
{
    if (!*name) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    if (korv::UpperKey(name, key, kLookupKeySize) != 0) {
        KORV_LOG("KORLUnicodeUTF8StrUpper failed, str=%s.", name);
        return -1;
    }
    return 0;
}

// Every share's user lists with the group's entries renamed, then smb.conf written anew when
// there is any share. 0, or -1.
int RenameInShares(const char *oldName, const char *newName)
{
    return korv::RenameInShareLists(
        [&](const char *list, char **out) {
            char *renamed = nullptr;
            int r = ReplaceGrpInString(list, &renamed, oldName, newName);
            if (r < 0)
                KORV_LOG("ReplaceGrpInString fail KORVErr=[0x%04X]", KORLErrGet());
            if (r == 1)
                *out = renamed;
            return r;
        },
        false);
}

int Set(const char *oldName, KORVGROUP *group)
{
    korv::LockedLookup<KORVGROUPDB> db(KORL_LOCK_PW | KORL_LOCK_GR | KORL_LOCK_SMB, KORVGroupDBOpen,
                                       KORVGroupDBClose, LOCK_EX);
    if (db.Begin() != 0)
        return -1;
    KORVGROUPDB *set = db.get();
    bool handedOut = false;
    if (group->gid == -1) {
        int gid = KORVGroupGetFreeGid(set);
        if (gid < 0) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        group->gid = gid;
        handedOut = true;
    }
    std::string key;
    if (SetKey(group->szName, key) != 0)
        return -1;
    bool exists = KORVGroupDBCheckExists(set, key.c_str(), static_cast<int>(key.size()), nullptr, 0) == 1;
    bool update = oldName && KORLUnicodeUTF8StrCaseCmp(oldName, group->szName) == 0;
    if (update && !exists) {
        KORV_ERR(KORV_ERR_GROUP_NOT_FOUND);
        return -1;
    }
    if (!update && exists) {
        KORV_ERR(KORV_ERR_GROUP_EXISTS);
        return -1;
    }
    char storedOld[kLookupKeySize] = "";
    if (!oldName) {
        if (KORVGroupDBSet(set, nullptr, 0, group) != 0) {
            KORV_LOG("KORVGroupDBSet failed. korverr=0x%04X", KORLErrGet());
            return -1;
        }
    } else {
        std::string oldKey;
        if (SetKey(oldName, oldKey) != 0)
            return -1;
        if (KORVGroupDBCheckExists(set, oldKey.c_str(), static_cast<int>(oldKey.size()), storedOld, sizeof storedOld) !=
            1) {
            KORV_ERR(KORV_ERR_GROUP_NOT_FOUND);
            return -1;
        }
        if (KORVGroupDBSet(set, oldKey.c_str(), static_cast<int>(oldKey.size()), group) != 0) {
            KORV_LOG("KORVGroupDBSet failed. korverr=0x%04X", KORLErrGet());
            return -1;
        }
    }
    if (handedOut &&
        korv::bdb::MarkerSet(set->pGRPGID, KORV_BDB_KEY_CURRENT_GID, KORV_BDB_KEY_CURRENT_ID_LEN, group->gid) != 0) {
        KORV_ERR(KORL_ERR_BDB_WRITE);
        return -1;
    }
    if (KORVGroupDBDump(set) != 0) {
        KORV_LOG("KORVGroupDBDump failed. korverr=0x%04X", KORLErrGet());
        return -1;
    }
    // The group stores complete on disk before the share build may read them.
    db.Close();
    int result = 0;
    if (oldName && strcmp(storedOld, group->szName) != 0 && RenameInShares(storedOld, group->szName) != 0) {
        KORV_LOG("Rename group in smb.conf failed.");
        result = -1;
    }
    return db.End() != 0 ? -1 : result;
}

}  // namespace

extern "C" int KORVGroupSet(const char *oldName, KORVGROUP *group)
{
    return KORV_GUARDED(-1, {
        if (!group || !group->szName) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        return Set(oldName, group);
    });
}
