// A batch of user renames carried into the groups' member lists.
#include <string>
#include <vector>

#include "korv/group.h"
#include "korv_db_holder.h"
#include "korv_guard.h"
#include "korv_records.h"
#include "korv_internal.h"
#include "korv_sz_holders.h"
#include "user_internal.h"

using namespace korv::user;

namespace {

// Renames the members of one group and stores it when one changed: 1 stored, 0 unchanged, -1.
int RenameMembers(KORVGROUPDB *set, const KORVGROUP *g, const std::string &key, PKORLSZHASH renames)
{
    std::vector<std::string> members;
    bool changed = false;
    std::string upper;
    for (char **m = g->ppszMembers; *m; ++m) {
        members.emplace_back(*m);
        if (!**m)
            continue;
        if (UpperKey(*m, upper) != 0) {
            KORV_LOG("KORLUnicodeUTF8StrUpper failed, str=%s", *m);
            return -1;
        }
        if (const char *to = SzKORLSzHashGetValue(renames, upper.c_str())) {
            members.back() = to;
            changed = true;
        }
    }
    if (!changed)
        return 0;
    std::vector<char *> array;
    for (std::string &m : members)
        array.push_back(m.data());
    array.push_back(nullptr);
    // The group writer leaves out empty members: users renamed to "" leave the group.
    korv::GroupRecord next;
    if (KORVGroupAlloc2(next.addr(), g->szName, g->gid, array.data()) != 0 ||
        KORVGroupDBSet(set, key.c_str(), static_cast<int>(key.size()), next.get()) != 0) {
        KORV_LOG("KORVGroupDBSet %s failed. korverr=0x%04X", g->szName, KORLErrGet());
        return -1;
    }
    return 1;
}

}  // namespace

extern "C" int KORVUserModifyGroup(PKORLSZHASH renames)
{
    return KORV_GUARDED(-1, {
        if (!renames) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        korv::SeenNames seen;
        if (!seen)
            return -1;
        korv::GroupDbHolder groups;
        if (!groups.db) {
            KORV_ERR(KORL_ERR_OPEN);
            return -1;
        }
        korv::GroupRecord g;
        int stored = 0;
        std::string key;
        while (KORVGroupDBGetByCursor(groups.db, g.addr(), KORV_GROUP_TYPE_LOCAL | KORV_GROUP_TYPE_DOMAIN, 1) == 0) {
            if (UpperKey(g.get()->szName, key) != 0) {
                KORV_LOG("KORLUnicodeUTF8StrUpper [%s] failed", g.get()->szName);
                return -1;
            }
            int first = seen.First(key.c_str());
            if (first < 0)
                return -1;
            if (!first)
                continue;
            int r = RenameMembers(groups.db, g.get(), key, renames);
            if (r < 0)
                return -1;
            stored += r;
        }
        if (KORLErrGet() != KORL_ERR_BDB_END) {
            KORV_LOG("KORVGroupDBGetByCursor() error. korverr=0x%04X", KORLErrGet());
            return -1;
        }
        if (stored > 0 && KORVGroupDBDump(groups.db) != 0) {
            KORV_LOG("KORVGroupDBDump failed. korverr=0x%04X", KORLErrGet());
            return -1;
        }
        return 0;
    });
}
