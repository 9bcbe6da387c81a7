#include <stdlib.h>
#include <string.h>

#include <string>

#include "korv_guard.h"
#include "korv_internal.h"
#include "korv_locked_lookup.h"
#include "user_internal.h"

using namespace korv::user;

namespace {

// The list built so far, freed unless handed out.
struct Nodes {
    KORVLOCALUSERINFO *head = nullptr, *tail = nullptr;
    ~Nodes() { KORVLocalUserInfoFree(&head); }
    int Append(const std::string &name, int uid, int gid)
    {
        auto *n = static_cast<KORVLOCALUSERINFO *>(calloc(1, sizeof(KORVLOCALUSERINFO)));
        char *copy = n ? strdup(name.c_str()) : nullptr;
        if (!copy) {
            free(n);
            KORV_ERR(KORL_ERR_NO_MEMORY);
            return -1;
        }
        n->uid = uid;
        n->gid = gid;
        n->szUserName = copy;
        (tail ? tail->pNext : head) = n;
        tail = n;
        return 0;
    }
};

// The listed users of the name store, in its key order: their number, or -1.
int Walk(KORVUSERDB *set, Nodes &nodes)
{
    bool guest = KORVGuestSupport() == 1;
    int count = 0;
    int r = UserNameWalk(set, [&](const void *key, int keyLen, const std::string &line) {
        if (memchr(key, '\\', static_cast<size_t>(keyLen)))
            return 0;
        // name ":" password ":" uid ":" gid ":" ...
        std::string_view f[5];
        if (!AccountFields(line, 5, f, korv::FieldCount::AtLeast))
            return 0;
        std::string name(f[0]);
        if (UserNameTypeGet(name.c_str()) != KORV_USER_TYPE_LOCAL)
            return 0;
        auto uid = static_cast<unsigned>(strtoul(f[2].data(), nullptr, 10));
        int gid = FieldInt(f[3]);
        // root and the other system accounts never appear; the guest only with guest support.
        if (uid < KORV_USER_UID_FIRST || (uid == KORV_USER_UID_GUEST && !guest))
            return 0;
        if (nodes.Append(name, static_cast<int>(uid), gid) != 0)
            return -1;
        ++count;
        return 0;
    });
    return r < 0 ? -1 : count;
}

}  // namespace

extern "C" int KORVLocalUserInfoEnum(KORVLOCALUSERINFO **ppHead)
{
    return KORV_GUARDED(-1, {
        if (!ppHead) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        *ppHead = nullptr;
        korv::LockedLookup<KORVUSERDB> db(KORL_LOCK_PW, KORVUserDBOpen, KORVUserDBClose);
        if (db.Begin() != 0)
            return -1;
        Nodes nodes;
        int count = Walk(db.get(), nodes);
        if (db.End() != 0 || count < 0)
            return -1;
        *ppHead = nodes.head;
        nodes.head = nullptr;
        return count;
    });
}

extern "C" void KORVLocalUserInfoFree(KORVLOCALUSERINFO **ppHead)
{
    if (!ppHead)
        return;
    for (KORVLOCALUSERINFO *n = *ppHead; n;) {
        KORVLOCALUSERINFO *next = n->pNext;
        free(n->szUserName);
        free(n);
        n = next;
    }
    *ppHead = nullptr;
}
