// A batch of user renames carried into the groups' member lists.
#include <string>
#include <vector>

#include "korv/group.h"
#include "group/group_internal.h"
#include "korv_guard.h"
#include "korv_internal.h"
#include "korv_sz_holders.h"
#include "user_internal.h"

using namespace korv::user;

namespace {

struct GroupDb {
    KORVGROUPDB *set = KORVGroupDBOpen();
    ~GroupDb() { KORVGroupDBClose(set); }
};

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
    korv::GroupBuffer next;
    if (KORVGroupAlloc2(&next.p, g->szName, g->gid, array.data()) != 0 ||
        KORVGroupDBSet(set, key.c_str(), static_cast<int>(key.size()), next.p) != 0) {
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
        korv::HashHolder seen(PshKORLSzHashAlloc(512));
        if (!seen)
            return -1;
        GroupDb db;
        if (!db.set) {
            KORV_ERR(KORL_ERR_OPEN);
            return -1;
        }
        korv::GroupBuffer g;
        int stored = 0;
        std::string key;
        while (KORVGroupDBGetByCursor(db.set, &g.p, KORV_GROUP_TYPE_LOCAL | KORV_GROUP_TYPE_DOMAIN, 1) == 0) {
            if (UpperKey(g.p->szName, key) != 0) {
                KORV_LOG("KORLUnicodeUTF8StrUpper [%s] failed", g.p->szName);
                return -1;
            }
            // A group stored again may be met again.
            if (SzKORLSzHashGetValue(seen.get(), key.c_str()))
                continue;
            if (KORLSzHashSetValue(seen.addr(), key.c_str(), "1") < 0) {
                KORV_LOG("HashSetValue failed.");
                return -1;
            }
            int r = RenameMembers(db.set, g.p, key, renames);
            if (r < 0)
                return -1;
            stored += r;
        }
        if (KORLErrGet() != KORL_ERR_BDB_END) {
            KORV_LOG("KORVGroupDBGetByCursor() error. korverr=0x%04X", KORLErrGet());
            return -1;
        }
        if (stored > 0 && KORVGroupDBDump(db.set) != 0) {
            KORV_LOG("KORVGroupDBDump failed. korverr=0x%04X", KORLErrGet());
            return -1;
        }
        return 0;
    });
}
