#include <string.h>

#include <string_view>

#include "korv_internal.h"
#include "user_internal.h"

namespace {

bool Within(const char *s, const KORVUSER *block)
{
    auto at = reinterpret_cast<const char *>(block);
    return s && s >= at && s <= at + block->cbAlloc;
}

}  // namespace

namespace korv::user {

int UserAllocTexts(KORVUSER **ppUser, const std::string_view texts[6], int uid, int gid, int expireDay,
                   int cannotChangePasswd, int privilege)
{
    const std::string_view &name = texts[0];
    if (!ppUser || !name.data() || name.empty()) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    KORVUSER *u = *ppUser;
    int cb = u ? u->cbAlloc : 0;
    if (u && cb != 0) {
        // The block may move while it grows.
        for (int i = 0; i < 6; i++) {
            if (Within(texts[i].data(), u)) {
                KORV_ERR(KORL_ERR_BAD_PARAM);
                return -1;
            }
        }
    }
    size_t need = sizeof(KORVUSER);
    for (int i = 0; i < 6; i++)
        need += texts[i].data() ? texts[i].size() + 1 : 0;
    if (need > 0x7fffffff) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    void *p = u;
    if (KORVCheckAndRealloc(&p, &cb, static_cast<int>(need)) != 0) {
        *ppUser = static_cast<KORVUSER *>(p);
        if (*ppUser)
            (*ppUser)->cbAlloc = cb;
        KORV_LOG("KORVCheckAndRealloc failed. korverr=0x%04X", KORLErrGet());
        return -1;
    }
    u = static_cast<KORVUSER *>(p);
    char *at = reinterpret_cast<char *>(u + 1);
    char *last = at;  // the NUL of the last text copied
    char *fields[6];
    for (int i = 0; i < 6; i++) {
        if (!texts[i].data()) {
            fields[i] = last;
            continue;
        }
        size_t n = texts[i].size();
        memcpy(at, texts[i].data(), n);
        at[n] = '\0';
        fields[i] = at;
        last = at + n;
        at += n + 1;
    }
    u->szName = fields[0];
    u->szPasswd = fields[1];
    u->szGecos = fields[2];
    u->szHomeDir = fields[3];
    u->szShell = fields[4];
    u->szMail = fields[5];
    u->uid = uid;
    u->gid = gid;
    u->expireDay = expireDay;
    u->cannotChangePasswd = cannotChangePasswd;
    u->privilege = privilege;
    u->userType = memchr(name.data(), '\\', name.size()) ? KORV_USER_TYPE_DOMAIN : KORV_USER_TYPE_LOCAL;
    u->cbAlloc = cb;
    *ppUser = u;
    return 0;
}

}  // namespace korv::user

extern "C" int KORVUserAlloc(KORVUSER **ppUser, const char *name, const char *passwd, int uid, int gid,
                             const char *gecos, const char *homeDir, const char *shell, int expireDay,
                             int cannotChangePasswd, const char *mail, int privilege)
{
    const char *given[] = {name, passwd, gecos, homeDir, shell, mail};
    std::string_view texts[6];
    for (int i = 0; i < 6; i++) {
        if (given[i])
            texts[i] = std::string_view(given[i]);
    }
    return korv::user::UserAllocTexts(ppUser, texts, uid, gid, expireDay, cannotChangePasswd, privilege);
}
