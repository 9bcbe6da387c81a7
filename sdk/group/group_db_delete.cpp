#include <string.h>

#include "group_internal.h"
#include "korv_bdb.h"
#include "korv_guard.h"
#include "korv_internal.h"

using namespace korv::group;

extern "C" int KORVGroupDBDelete(KORVGROUPDB *set, const char *upperName, int upperLen)
{
    return KORV_GUARDED(-1, {
        if (!set || !upperName || upperLen < 0) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        std::string key(upperName, static_cast<size_t>(upperLen));
        if (key.find('\\') != std::string::npos)
            return -1;
        std::string line;
        int r = ReadLine(set->pGRPName, key, line);
        if (r != 0) {
            if (r > 0)
                KORV_ERR(KORV_ERR_GROUP_NOT_FOUND);
            return -1;
        }
        KORVGROUP *g = KORVGroupAlloc(line.c_str());
        if (!g) {
            KORV_LOG("KORVGroupDBUnpack failed. korverr=0x%04X", KORLErrGet());
            return -1;
        }
        int gid = g->gid;
        KORVGroupFree(g);
        if (IsSystemGid(gid)) {
            KORV_ERR(KORV_ERR_GROUP_SYSTEM);
            return -1;
        }
        // Only this group's record under its gid: other groups may share the gid.
        std::string id = GidKey(gid);
        if (korv::bdb::DeleteValue(set->pGRPGID, id.c_str(), static_cast<int>(id.size()) + 1, key.c_str(),
                                   static_cast<int>(key.size()) + 1) < 0)
            return -1;
        if (RemoveKey(set->pGRPName, key) != 0 || (set->pGRPDesc && RemoveKey(set->pGRPDesc, key) != 0))
            return -1;
        return 0;
    });
}
