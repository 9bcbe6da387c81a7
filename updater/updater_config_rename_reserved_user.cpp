// A regular account that holds a name the FTP server reserves for its own accounts is renamed to
// the first free "<name><n>", keeping its uid, files and password hashes.
#include <pwd.h>
#include <stdio.h>
#include <syslog.h>

#include <memory>

#include "korv/eventlog.h"
#include "korv/user.h"
#include "updater_config.h"

namespace {

const char kSource[] = "updater";
// The event of an account renamed by the updater.
constexpr unsigned kUserRenamedEvent = 0x11800E02;

struct UserFree {
    void operator()(KORVUSER *u) const { KORVUserFree(u); }
};

}  // namespace

int CheckAndRenameReservedUser(const char *name)
{
    const struct passwd *pw = getpwnam(name);
    if (!pw || pw->pw_uid <= 1024)
        return 0;

    char newName[64] = {};
    int n = 1;
    for (; n <= 128; ++n) {
        snprintf(newName, sizeof newName, "%s%d", name, n);
        if (!getpwnam(newName))
            break;
    }
    if (n >= 128) {
        syslog(LOG_ERR, "%s (%d) No free name to rename user [%s].", kSource, __LINE__, name);
        return -1;
    }

    KORVUSER *got = nullptr;
    if (KORVUserGet(name, &got) != 0 || !got) {
        syslog(LOG_ERR, "%s (%d) Failed to KORVUserGet() user [%s].", kSource, __LINE__, name);
        return -1;
    }
    std::unique_ptr<KORVUSER, UserFree> old(got);
    char lm[33] = {}, nt[33] = {};
    if (KORVUserGetSmbPasswd(name, lm, sizeof lm, nt, sizeof nt) != 0) {
        syslog(LOG_ERR, "%s (%d) Failed to KORVUserGetSmbPasswd() user [%s].", kSource, __LINE__, name);
        return -1;
    }

    // A rename of the old account: it keeps its uid, and its stored hash is given back unchanged,
    // so that it never holds an empty password between the two calls.
    KORVUSER user{};
    user.szName = newName;
    user.szPasswd = old->szPasswd;
    user.uid = -1;
    user.gid = KORV_USER_DEFAULT_GID;
    user.szGecos = old->szGecos;
    user.expireDay = old->expireDay;
    if (KORVUserSet(name, &user) < 0) {
        syslog(LOG_ERR, "%s (%d) Failed to KORVUserSet() user [%s] as [%s].", kSource, __LINE__, name, newName);
        return -1;
    }
    KORVLogSet1(2, 1, kUserRenamedEvent, name, newName, "", "");

    KORVUSER *users[] = {&user};
    const char *hashes[] = {old->szPasswd};
    const char *lms[] = {lm};
    const char *nts[] = {nt};
    if (KORVUserSetPasswd(users, hashes, lms, nts, 1) < 0) {
        syslog(LOG_ERR, "%s (%d) Failed to KORVUserSetPasswd() user [%s].", kSource, __LINE__, name);
        return -1;
    }
    return 0;
}
