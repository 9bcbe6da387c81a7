// The group stores filled from /etc/group and /etc/group_desc.
#include <stdlib.h>
#include <string.h>

#include "group_internal.h"
#include "korv/user.h"
#include "korv_account_store.h"
#include "korv_bdb.h"
#include "korv_command.h"
#include "korv_db_holder.h"
#include "korv_fields.h"
#include "korv_guard.h"
#include "korv_internal.h"
#include "korv_malloc_ptr.h"
#include "korv_rewrite.h"

using namespace korv::group;

namespace {

// The upper-cased key of the text before cut (a ":" of line, put back afterwards), formed in a
// buffer of bufSize bytes.
int KeyBefore(char *line, char *cut, std::string &key, size_t bufSize)
{
    *cut = '\0';
    int r = korv::UpperKey(line, key, bufSize);
    if (r != 0)
        KORV_LOG("KORLUnicodeUTF8StrUpper failed, str=%s.", line);
    *cut = ':';
    return r;
}

int GroupDBLocalBuild(KORVGROUPDB *set, FILE *fp)
{
    korv::UserDbHolder users;
    if (!users.db) {
        KORV_ERR(KORL_ERR_OPEN);
        return -1;
    }
    std::string key;
    korv::bdb::AccountLoad load(set->pGRPName, set->pGRPGID);
    return korv::bdb::ForEachAccountLine(fp, "feof failed.", [&](char *line, size_t) {
        // name ":" password ":" gid ":" members; anything shorter is no group line.
        std::string_view f[4];
        if (!korv::AccountFields(line, 4, f, korv::FieldCount::AtLeast))
            return 0;
        if (f[0].empty()) {
            KORV_LOG("%s format error, group name = %s", KORV_GROUP_FILE, line);
            return 0;
        }
        int gid = korv::FieldInt(f[2]);
        if (gid == 0 && !f[2].starts_with('0')) {
            KORV_ERR(KORL_ERR_MALFORMED);
            return -1;
        }
        // A name without a key of its own could never be found or removed.
        char *c1 = line + f[0].size();
        if (KeyBefore(line, c1, key, kLineKeySize) != 0)
            return 0;
        char *members = nullptr;
        int cbMembers = 0;
        int r = KORVUserGetValidUserList2(f[3].data(), &members, &cbMembers, nullptr, users.db);
        korv::MallocPtr<char> owned(members);
        if (r != 0) {
            KORV_LOG("KORVUserGetValidUserList2() failed! korverr=0x%04X", KORLErrGet());
            return -1;
        }
        std::string stored(line, static_cast<size_t>(f[3].data() - line));
        stored += members;
        if (load.Store(key, stored.c_str(), stored.size(), gid) != 0) {
            KORV_LOG("KORVBDbSet() failed! korverr=0x%04X", KORLErrGet());
            return -1;
        }
        return 0;
    });
}

// "#CURRENT_GID" from the index line of /etc/group, else the highest gid stored.
int GroupDBNextGidBuild(KORVGROUPDB *set, FILE *fp)
{
    rewind(fp);
    return korv::bdb::NextIdBuild(set->pGRPGID, fp, kGidIndexName, KORV_GROUP_GID_FIRST, KORV_GROUP_GID_LAST,
                                  KORV_BDB_KEY_CURRENT_GID);
}

int GroupDBDescBuild(KORVGROUPDB *set)
{
    if (!set->pGRPDesc) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    const korv::bdb::KeyedLines file = {KORV_GROUP_DESC_FILE, ":", "group name", kDescKeySize, true,
                                        "KORLUnicodeUTF8StrUpper failed", true, true};
    return korv::bdb::KeyedLineBuild(set->pGRPDesc, file);
}

}  // namespace

extern "C" int KORVGroupDBBuild(KORVGROUPDB *set)
{
    return KORV_GUARDED(-1, {
        if (!set || !set->pGRPName || !set->pGRPGID) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        korv::UniqueFile fp(fopen(KORV_GROUP_FILE, "re"));
        if (!fp) {
            KORV_ERR(KORL_ERR_OPEN);
            return -1;
        }
        if (GroupDBLocalBuild(set, fp.get()) != 0 || GroupDBNextGidBuild(set, fp.get()) != 0)
            return -1;
        if (GroupDBDomainBuild(set->pGRPName) != 0) {
            // The local groups are complete without the domain's; the failure goes to the event log.
            KORV_LOG("GroupDBDomainBuild() failed! korverr=0x%04X", KORLErrGet());
            korv::proc::RunEventLogSet("sys", "err", "0x1180050A");
        }
        if (GroupDBDescBuild(set) != 0)
            return -1;
        return GroupDbConfSyncTimeSet(set, nullptr, nullptr);
    });
}
