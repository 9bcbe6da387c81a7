// The group record: one block holding the header, the member array and the texts.
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "group_internal.h"
#include "korv_guard.h"
#include "korv_internal.h"

namespace korv::group {

int GroupAllocIsInside(const KORVGROUP *group, const void *p)
{
    if (!group || !p)
        return 0;
    auto at = reinterpret_cast<const char *>(group);
    auto q = static_cast<const char *>(p);
    return q >= at && q <= at + group->cbAlloc ? 1 : 0;
}

}  // namespace korv::group

using korv::group::GroupAllocIsInside;

extern "C" int KORVGroupAlloc2(KORVGROUP **pp, const char *name, int gid, char **members)
{
    return KORV_GUARDED(-1, {
        if (!pp || !name || !members) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        KORVGROUP *g = *pp;
        if (g) {
            // The block may move while it grows.
            bool inside = GroupAllocIsInside(g, name);
            for (char **m = members; !inside && *m; ++m)
                inside = GroupAllocIsInside(g, *m);
            if (inside) {
                KORV_ERR(KORL_ERR_BAD_PARAM);
                return -1;
            }
        }
        std::vector<const char *> kept;
        for (char **m = members; *m; ++m) {
            if (**m && strcmp(*m, "nobody") != 0)
                kept.push_back(*m);
        }
        size_t need = sizeof(KORVGROUP) + (kept.size() + 1) * sizeof(char *) + strlen(name) + 1;
        for (const char *m : kept)
            need += strlen(m) + 1;
        if (need > 0x7fffffff) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        void *p = g;
        int cb = g ? g->cbAlloc : 0;
        if (KORVCheckAndRealloc(&p, &cb, static_cast<int>(need)) != 0) {
            *pp = static_cast<KORVGROUP *>(p);
            KORV_LOG("KORVCheckAndRealloc failed. korverr=0x%04X", KORLErrGet());
            return -1;
        }
        g = static_cast<KORVGROUP *>(p);
        auto **array = reinterpret_cast<char **>(g + 1);
        char *at = reinterpret_cast<char *>(array + kept.size() + 1);
        size_t n = strlen(name) + 1;
        memcpy(at, name, n);
        g->szName = at;
        at += n;
        for (size_t i = 0; i < kept.size(); i++) {
            n = strlen(kept[i]) + 1;
            memcpy(at, kept[i], n);
            array[i] = at;
            at += n;
        }
        array[kept.size()] = nullptr;
        g->ppszMembers = array;
        g->gid = gid;
        g->groupType = strchr(name, '\\') ? KORV_GROUP_TYPE_DOMAIN : KORV_GROUP_TYPE_LOCAL;
        g->cbAlloc = cb;
        *pp = g;
        return 0;
    });
}

extern "C" KORVGROUP *KORVGroupAlloc(const char *line)
{
    if (!line) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return nullptr;
    }
    KORVGROUP *g = nullptr;
    if (KORVGroupDBUnpack(line, &g) != 0) {
        KORVGroupFree(g);
        return nullptr;
    }
    return g;
}

extern "C" void KORVGroupFree(KORVGROUP *group)
{
    free(group);
}
