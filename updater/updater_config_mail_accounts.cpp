// The mail service's system groups and accounts, each added where no entry of its name exists.
#include <syslog.h>

#include "korv/file.h"
#include "korv/group.h"
#include "korv/user.h"
#include "korv_named_lock.h"
#include "updater_config.h"

namespace {

struct MailEntry {
    bool group;          // a group of "/etc/group", else an account of "/etc/passwd" and "/etc/shadow"
    const char *name;
    const char *line;    // its "/etc/group" or "/etc/passwd" line
    const char *shadow;  // an account's "/etc/shadow" line
};

const MailEntry kEntries[] = {
    {true, "postfix", "postfix:x:125:postfix", nullptr},
    {true, "maildrop", "maildrop:x:126:", nullptr},
    {true, "dovecot", "dovecot:x:143:dovecot", nullptr},
    {false, "postfix", "postfix:x:125:125:Postfix User:/nonexist:/sbin/nologin", "postfix:*:10933:0:99999:7:::"},
    {false, "dovecot", "dovecot:x:143:143:Dovecot User:/nonexist:/sbin/nologin", "dovecot:*:10933:0:99999:7:::"},
};

// The line first in the file; 0, or -1 after the file's message.
int Add(const char *path, const char *line)
{
    if (KORLFileAddLine(path, nullptr, line, 0) > 0)
        return 0;
    syslog(LOG_ERR, "%s:%d Failed to KORLFileAddLine in to %s.", "updater", __LINE__, path);
    return -1;
}

int AddMissing()
{
    // The user and group modules edit these files under lock_pw and lock_gr.
    korv::NamedLock lock(KORL_LOCK_PW | KORL_LOCK_GR);
    if (lock.Take(LOCK_EX) != 0)
        return -1;
    for (const MailEntry &e : kEntries) {
        int exists = UPDTConfigEntryExists(e.group ? UPDT_ENTRY_GROUP : UPDT_ENTRY_PASSWD, e.name);
        if (exists < 0)
            return -1;
        if (e.group) {
            if (!exists && Add(KORV_GROUP_FILE, e.line) != 0)
                return -1;
            continue;
        }
        if (!exists) {
            if (Add(KORV_PASSWD_FILE, e.line) != 0 || Add(KORV_SHADOW_FILE, e.shadow) != 0)
                return -1;
            continue;
        }
        // An account that has its "/etc/passwd" line may still lack the "/etc/shadow" line: a run
        // killed between the two left it so.
        int inShadow = UPDTConfigEntryExists(UPDT_ENTRY_SHADOW, e.name);
        if (inShadow < 0 || (!inShadow && Add(KORV_SHADOW_FILE, e.shadow) != 0))
            return -1;
    }
    return 0;
}

}  // namespace

int UPDTConfigMailAccounts(void)
{
    if (AddMissing() == 0)
        return 0;
    syslog(LOG_ERR, "%s(%d) Create mail quarn users failed.", "updater", __LINE__);
    return -1;
}
