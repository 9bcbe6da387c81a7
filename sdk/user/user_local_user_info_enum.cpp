#include <stdlib.h>
#include <string.h>

#include <string>

#include "korv_bdb.h"
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
    if (KORVBDbCursorSetType(set->pPWDName, KORV_BDB_CURSOR_FIRST) != 0) {
        KORV_ERR(KORV_ERR_USER_ENUM);
        return -1;
    }
    bool guest = KORVGuestSupport() == 1;
    korv::bdb::CursorBuffers b;
    int count = 0;
    for (;;) {
        if (KORVBDbCursorGet(set->pPWDName, 1, &b.key, &b.cbKey, &b.value, &b.cbValue) != 0) {
            if (KORLErrGet() == KORL_ERR_BDB_END)
                return count;
            KORV_ERR(KORV_ERR_USER_ENUM);
            return -1;
        }
        if (memchr(b.key, '\\', static_cast<size_t>(b.cbKey)))
            continue;
        std::string line(static_cast<const char *>(b.value),
                         strnlen(static_cast<const char *>(b.value), static_cast<size_t>(b.cbValue)));
        // name ":" password ":" uid ":" gid ":" ...
        size_t c1 = line.find(':');
        size_t c2 = c1 == std::string::npos ? c1 : line.find(':', c1 + 1);
        size_t c3 = c2 == std::string::npos ? c2 : line.find(':', c2 + 1);
        size_t c4 = c3 == std::string::npos ? c3 : line.find(':', c3 + 1);
        if (c4 == std::string::npos)
            continue;
        std::string name = line.substr(0, c1);
        if (UserNameTypeGet(name.c_str()) != KORV_USER_TYPE_LOCAL)
            continue;
        auto uid = static_cast<unsigned>(strtoul(line.c_str() + c2 + 1, nullptr, 10));
        int gid = atoi(line.c_str() + c3 + 1);
        // root and the other system accounts never appear; the guest only with guest support.
        if (uid < KORV_USER_UID_FIRST || (uid == KORV_USER_UID_GUEST && !guest))
            continue;
        if (nodes.Append(name, static_cast<int>(uid), gid) != 0)
            return -1;
        ++count;
    }
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
