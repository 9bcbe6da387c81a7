// Whether an account file has an entry of a name, asked of each file on its own: a step that adds
// an account's "/etc/passwd" line and then its "/etc/shadow" line completes an account that a
// killed run left with only the first.
#include <errno.h>
#include <grp.h>
#include <pwd.h>
#include <shadow.h>
#include <syslog.h>

#include <vector>

#include "updater_config.h"

int UPDTConfigEntryExists(UPDTENTRYFILE file, const char *name)
{
    std::vector<char> buf(4096);
    for (;;) {
        int r;
        void *found = nullptr;
        if (file == UPDT_ENTRY_GROUP) {
            struct group gr, *got = nullptr;
            r = getgrnam_r(name, &gr, buf.data(), buf.size(), &got);
            found = got;
        } else if (file == UPDT_ENTRY_PASSWD) {
            struct passwd pw, *got = nullptr;
            r = getpwnam_r(name, &pw, buf.data(), buf.size(), &got);
            found = got;
        } else {
            struct spwd sp, *got = nullptr;
            r = getspnam_r(name, &sp, buf.data(), buf.size(), &got);
            found = got;
        }
        if (r == ERANGE && buf.size() < (1u << 20)) {
            buf.resize(buf.size() * 2);
            continue;
        }
        if (r == 0 || r == ENOENT || r == ESRCH)
            return found ? 1 : 0;
        syslog(LOG_ERR, "%s:%d Failed to look up [%s], errno=(%d)", "updater", __LINE__, name, r);
        return -1;
    }
}
