// The FTP server's system group and accounts (uid and gid 21): a regular group "ftp" and regular
// accounts "ftp" and "anonymous" are renamed out of the way, then the system entries are added
// where no entry of their name exists.
#include <grp.h>
#include <pwd.h>
#include <stdio.h>
#include <syslog.h>

#include <memory>

#include "korv/eventlog.h"
#include "korv/file.h"
#include "korv/file_lock.h"
#include "korv/group.h"
#include "korv/user.h"
#include "korv_named_lock.h"
#include "updater_config.h"

namespace {

const char kSource[] = "updater";
// The event of a group renamed by the updater.
constexpr unsigned kGroupRenamedEvent = 0x11800602;

struct GroupFree {
    void operator()(KORVGROUP *g) const { KORVGroupFree(g); }
};

// A regular group "ftp" becomes the first free "ftp1" to "ftp63". 0, or -1 after a message.
int RenameRegularGroup()
{
    const struct group *gr = getgrnam("ftp");
    if (!gr || gr->gr_gid <= 1024)
        return 0;
    char newName[8] = {};
    int n = 1;
    for (; n <= 63; ++n) {
        snprintf(newName, sizeof newName, "ftp%d", n);
        if (!getgrnam(newName))
            break;
    }
    if (n > 63) {
        syslog(LOG_ERR, "%s (%d) No free name to rename group [ftp].", kSource, __LINE__);
        return -1;
    }
    KORVGROUP *got = nullptr;
    if (KORVGroupGet("ftp", &got) != 0 || !got) {
        syslog(LOG_ERR, "%s (%d) Failed to KORVGroupGet() group [ftp].", kSource, __LINE__);
        return -1;
    }
    std::unique_ptr<KORVGROUP, GroupFree> group(got);
    group->szName = newName;
    // Renamed, not copied: the old group would keep the name the system group needs.
    if (KORVGroupSet("ftp", group.get()) < 0) {
        syslog(LOG_ERR, "%s (%d) Failed to KORVGroupSet() group [ftp] as [%s].", kSource, __LINE__, newName);
        return -1;
    }
    KORVLogSet1(2, 1, kGroupRenamedEvent, "ftp", newName, "", "");
    return 0;
}

// One system line first in an account file, under the file's named lock. 0, or -1.
int AddLine(const char *path, unsigned lockBits, const char *line)
{
    korv::NamedLock lock(lockBits);
    if (lock.Take(LOCK_EX) != 0)
        return -1;
    if (KORLFileAddLine(path, nullptr, line, 0) <= 0)
        return -1;
    return lock.Release();
}

// The FTP system account of that name, in "/etc/passwd" and "/etc/shadow", when none exists; an
// account with only its "/etc/passwd" line (a run killed between the two) gets its other line.
int AddAccount(const char *name)
{
    int exists = UPDTConfigEntryExists(UPDT_ENTRY_PASSWD, name);
    if (exists < 0)
        return -1;
    char line[80];
    if (!exists) {
        snprintf(line, sizeof line, "%s:x:21:21:Anonymous FTP User:/nonexist:/sbin/nologin", name);
        if (AddLine(KORV_PASSWD_FILE, KORL_LOCK_PW, line) != 0) {
            syslog(LOG_ERR, "%s:%d Failed to KORLFileAddLine in to /etc/passwd.", kSource, __LINE__);
            return -1;
        }
    } else if ((exists = UPDTConfigEntryExists(UPDT_ENTRY_SHADOW, name)) != 0) {
        return exists < 0 ? -1 : 0;
    }
    snprintf(line, sizeof line, "%s:*:10933:0:99999:7:::", name);
    if (AddLine(KORV_SHADOW_FILE, KORL_LOCK_PW, line) != 0) {
        syslog(LOG_ERR, "%s (%d) Failed to KORLFileAddLine in to /etc/shadow.", kSource, __LINE__);
        return -1;
    }
    return 0;
}

int FtpSystemAccounts()
{
    if (RenameRegularGroup() != 0)
        return -1;
    if (CheckAndRenameReservedUser("ftp") < 0 || CheckAndRenameReservedUser("anonymous") < 0)
        return -1;
    if (!getgrnam("ftp")) {
        char line[80];
        snprintf(line, sizeof line, "%s", "ftp:x:21:nobody,ftp,nobody");
        if (AddLine(KORV_GROUP_FILE, KORL_LOCK_GR, line) != 0) {
            syslog(LOG_ERR, "%s:%d Failed to KORLFileAddLine in to /etc/group.", kSource, __LINE__);
            return -1;
        }
    }
    if (AddAccount("anonymous") != 0 || AddAccount("ftp") != 0)
        return -1;
    return 0;
}

}  // namespace

int UPDTConfigFtpSystemAccounts(void)
{
    if (FtpSystemAccounts() == 0)
        return 0;
    syslog(LOG_ERR, "%s (%d) Failed to add ftp user/group.", kSource, __LINE__);
    return -1;
}
