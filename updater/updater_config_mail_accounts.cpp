// The mail service's system groups and accounts, each added where no entry of its name exists.
#include <errno.h>
#include <grp.h>
#include <pwd.h>
#include <syslog.h>
#include <unistd.h>

#include <vector>

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

// 1 when the name has an entry, 0 when it has none, -1 when the lookup failed: a failed lookup
// adds nothing, since the entry may well be there.
int Exists(const MailEntry &e)
{
    std::vector<char> buf(4096);
    for (;;) {
        int r;
        void *found = nullptr;
        if (e.group) {
            struct group gr, *got = nullptr;
            r = getgrnam_r(e.name, &gr, buf.data(), buf.size(), &got);
            found = got;
        } else {
            struct passwd pw, *got = nullptr;
            r = getpwnam_r(e.name, &pw, buf.data(), buf.size(), &got);
            found = got;
        }
        if (r == ERANGE && buf.size() < (1u << 20)) {
            buf.resize(buf.size() * 2);
            continue;
        }
        if (r == 0 || r == ENOENT || r == ESRCH)
            return found ? 1 : 0;
        syslog(LOG_ERR, "%s:%d Failed to look up [%s], errno=(%d)", "updater", __LINE__, e.name, r);
        return -1;
    }
}

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
        int exists = Exists(e);
        if (exists < 0)
            return -1;
        if (exists)
            continue;
        if (e.group) {
            if (Add(KORV_GROUP_FILE, e.line) != 0)
                return -1;
        } else if (Add(KORV_PASSWD_FILE, e.line) != 0 || Add(KORV_SHADOW_FILE, e.shadow) != 0) {
            return -1;
        }
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
