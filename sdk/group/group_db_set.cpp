#include <string.h>
#include <strings.h>

#include "group_internal.h"
#include "korv_bdb.h"
#include "korv_fields.h"
#include "korv_guard.h"
#include "korv_internal.h"
#include "korv_malloc_ptr.h"

using namespace korv::group;

namespace {

// The group's /etc/group line, its members normalised: 0, or -1.
int PackLine(KORVGROUP *group, std::string &line)
{
    struct group gr {};
    if (KORVGroupToUnixGroup(group, &gr) != 0) {
        KORV_LOG("KORVGroupToUnixGroup failed. korverr=0x%04X", KORLErrGet());
        return -1;
    }
    char *buf = nullptr;
    int cb = 0;
    int n = KORVGroupDBPackFromUnix(&gr, &buf, &cb);
    korv::MallocPtr<char> owned(buf);
    if (n < 0) {
        KORV_LOG("KORVGroupDBPackFromUnix failed. korverr=0x%04X", KORLErrGet());
        return -1;
    }
    line.assign(buf);
    return 0;
}

}  // namespace

extern "C" int KORVGroupDBSet(KORVGROUPDB *set, const char *oldUpperName, int oldUpperLen, KORVGROUP *group)
{
    return KORV_GUARDED(-1, {
        if (!set || !group || !group->szName || (oldUpperName && oldUpperLen < 0)) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        if (!KORVGroupIsValidName(group->szName)) {
            KORV_ERR(KORV_ERR_GROUP_INVALID_NAME);
            return -1;
        }
        if (strchr(group->szName, '\\')) {
            KORV_LOG("Cannot set not-local group. group name=[%s]", group->szName);
            return -1;
        }
        std::string key;
        if (korv::UpperKey(group->szName, key, kLineKeySize) != 0) {
            KORV_LOG("KORLUnicodeUTF8StrUpper failed, str=%s.", group->szName);
            return -1;
        }
        // Everything new is made before anything old goes.
        std::string line;
        if (PackLine(group, line) != 0)
            return -1;
        std::string oldKey, desc;
        bool hasDesc = false;
        if (oldUpperName) {
            oldKey.assign(oldUpperName, static_cast<size_t>(oldUpperLen));
            std::string oldDesc;
            int r = set->pGRPDesc ? ReadLine(set->pGRPDesc, oldKey, oldDesc) : 1;
            if (r < 0)
                return -1;
            if (r == 0) {
                std::string_view f[2];
                if (!korv::AccountFields(oldDesc, 2, f, korv::FieldCount::AtLeast)) {
                    KORV_ERR(KORL_ERR_MALFORMED);
                    return -1;
                }
                desc = std::string(group->szName) + ":" + std::string(f[1]);
                hasDesc = true;
            }
        }

        bool keepId = false;
        if (oldUpperName && KORVGroupDBDelete(set, oldKey.c_str(), static_cast<int>(oldKey.size())) != 0) {
            // A system group is updated in place under its own name, "users" not even so.
            if (KORLErrGet() != KORV_ERR_GROUP_SYSTEM || oldKey != key || strcasecmp(group->szName, "users") == 0)
                return -1;
            keepId = true;
        }
        if (hasDesc && StoreLine(set->pGRPDesc, key, desc) != 0)
            return -1;
        if (StoreLine(set->pGRPName, key, line) != 0) {
            KORV_LOG("KORVBDbSet pGRPName failed, str=%s. korverr=0x%04X", key.c_str(), KORLErrGet());
            return -1;
        }
        if (!keepId) {
            std::string id = IdKey(group->gid);
            if (KORVBDbSet(set->pGRPGID, id.c_str(), static_cast<int>(id.size()) + 1, key.c_str(),
                           static_cast<int>(key.size()) + 1) != 0) {
                KORV_LOG("KORVBDbSet pGRPGID failed. korverr=0x%04X", KORLErrGet());
                return -1;
            }
        }
        return 0;
    });
}
