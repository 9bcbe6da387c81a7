// "/etc/korvuser.conf" written anew: one "name:privilege:mail" line per local user above the
// guest. The new file replaces the old one only once every line is written and on disk.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include "korv/error.h"
#include "korv/file.h"
#include "korv/user.h"
#include "korv_named_lock.h"
#include "korv_rewrite.h"
#include "updater_config.h"

namespace {

const char kMailFile[] = "/etc/mail";

// The privilege every user gets: with the download service on, its right too.
int Privilege()
{
    char enabled[4] = {};
    if (KORLFileGetKeyValue(KORV_INFO_CONF, "download_enabled", enabled, sizeof enabled, 0) == -1)
        syslog(LOG_ERR, "%s:%d KORLFileGetKeyValue failed. korverr=[0x%04X]", "updater", __LINE__, KORLErrGet());
    return strcmp(enabled, "yes") == 0 ? 11 : 3;
}

struct UserList {
    KORVLOCALUSERINFO *head = nullptr;
    ~UserList() { KORVLocalUserInfoFree(&head); }
};

// The lines of the users into the copy: 0, or -1 after its message.
int WriteUsers(FILE *out, const KORVLOCALUSERINFO *users, int privilege)
{
    char line[1524];
    char mail[1024];
    for (const KORVLOCALUSERINFO *u = users; u; u = u->pNext) {
        if (u->uid <= KORV_USER_UID_GUEST)
            continue;
        mail[0] = '\0';
        if (KORLFileGetKeyValue(kMailFile, u->szUserName, mail, sizeof mail, 0) == -1) {
            syslog(LOG_ERR, "%s:%d KORLFileGetKeyValue failed. korverr=[0x%04X]", "updater", __LINE__, KORLErrGet());
            mail[0] = '\0';
        }
        int n = snprintf(line, sizeof line, "%s:%d:%s", u->szUserName, privilege, mail);
        // A cut line would lose the address or join the next user's; it is not written cut.
        if (n < 0 || static_cast<size_t>(n) >= sizeof line || fprintf(out, "%s\n", line) < 0) {
            syslog(LOG_ERR, "%s:%d fprintf failed. errno:%d, message:%m", "updater", __LINE__, errno);
            return -1;
        }
    }
    return 0;
}

int Rewrite()
{
    // The user module edits the account files under lock_pw; the user list below shares it.
    korv::NamedLock lock(KORL_LOCK_PW);
    if (lock.Take(LOCK_EX) != 0)
        return -1;
    struct stat st;
    uid_t uid = static_cast<uid_t>(-1);
    gid_t gid = static_cast<gid_t>(-1);
    if (stat(KORV_USER_CONF_FILE, &st) == 0) {
        uid = st.st_uid;
        gid = st.st_gid;
    }
    korv::FileRewrite rw(KORV_USER_CONF_FILE);
    if (rw.BeginNew(0644, uid, gid) != 0) {
        syslog(LOG_ERR, "%s:%d get user uid failed. errno=%d", "updater", __LINE__, errno);
        return -1;
    }
    int privilege = Privilege();
    UserList users;
    if (KORVLocalUserInfoEnum(&users.head) < 0) {
        syslog(LOG_ERR, "%s:%d KORVLocalUserInfoEnum failed. korverr=[0x%04X]", "updater", __LINE__, KORLErrGet());
        return -1;
    }
    if (WriteUsers(rw.stream(), users.head, privilege) != 0)
        return -1;
    return UPDTConfigCommitFile(rw, {"fprintf", "fprintf", "rename korvuser.conf", "rename korvuser.conf"});
}

}  // namespace

int UPDTConfigUserConfFile(void)
{
    if (Rewrite() == 0)
        return 0;
    syslog(LOG_ERR, "%s(%d) Create /etc/korvuser failed.", "updater", __LINE__);
    return -1;
}
