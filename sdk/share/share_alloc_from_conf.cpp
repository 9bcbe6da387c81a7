// A share record from the keys of its smb.conf section.
#include <stdlib.h>
#include <string.h>

#include <string>

#include "korv/group.h"
#include "korv/user.h"
#include "korv_guard.h"
#include "korv_internal.h"
#include "korv_malloc_ptr.h"
#include "share_internal.h"

namespace korv::share {

namespace {

struct Databases {
    KORVGROUPDB *groups = KORVGroupDBOpen();
    KORVUSERDB *users = groups ? KORVUserDBOpen() : nullptr;
    ~Databases()
    {
        KORVUserDBClose(users);
        KORVGroupDBClose(groups);
    }
};

// Whether "@users" is a whole item of the list ("@users_rw" is another group).
bool NamesAllUsers(const std::string &list)
{
    return ("," + list + ",").find(",@users,") != std::string::npos;
}

bool Is(const char *value, const char *word)
{
    return value && strcmp(value, word) == 0;
}

}  // namespace

KORVSHARE *ShareAllocFromConf(const char *sectionName, PKORLSZHASH keys)
{
    return KORV_GUARDED(static_cast<KORVSHARE *>(nullptr), {
        if (!sectionName || !keys) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return static_cast<KORVSHARE *>(nullptr);
        }
        Databases dbs;
        if (!dbs.groups || !dbs.users) {
            KORV_ERR(KORL_ERR_OPEN);
            return static_cast<KORVSHARE *>(nullptr);
        }
        static const char *const kLists[3] = {"invalid users", "write list", "read list"};
        std::string lists[3];
        for (int i = 0; i < 3; i++) {
            const char *text = SzKORLSzHashGetValue(keys, kLists[i]);
            char *out = nullptr;
            int cb = 0;
            int r = text ? KORVUserGetValidUserList2(text, &out, &cb, dbs.groups, dbs.users) : -1;
            korv::MallocPtr<char> owned(out);
            if (r != 0) {
                syslog(LOG_NOTICE, "%s:%d KORVUserGetValidUserList2 error. sz[%d]=[%s]", __FILE_NAME__, __LINE__, i,
                       text ? text : "NULL");
                continue;
            }
            lists[i] = out;
        }
        int fType = -1;
        const int kTypes[3] = {KORV_SHARE_NO_ACCESS, KORV_SHARE_READ_WRITE, KORV_SHARE_READ_ONLY};
        for (int i = 0; i < 3 && fType < 0; i++) {
            if (NamesAllUsers(lists[i]))
                fType = kTypes[i];
        }
        if (fType < 0) {
            const char *guestOk = SzKORLSzHashGetValue(keys, "guest ok");
            const char *writeable = SzKORLSzHashGetValue(keys, "writeable");
            fType = ShareFTypeGetFromConf(guestOk, writeable);
            if (fType < 0) {
                KORV_LOG("errno=%d unknown error!! guest ok = %s, writeable = %s", KORLErrGet(),
                         guestOk ? guestOk : "NULL", writeable ? writeable : "NULL");
                fType = KORV_SHARE_READ_ONLY;
            }
        }
        KORVSHARE in{};
        std::string name = sectionName;
        in.szName = name.data();
        in.szComment = SzKORLSzHashGetValue(keys, "comment");
        in.szPath = SzKORLSzHashGetValue(keys, "path");
        in.szInvalidUsers = lists[0].data();
        in.szWriteList = lists[1].data();
        in.szReadList = lists[2].data();
        in.fType = fType;
        in.browseable = Is(SzKORLSzHashGetValue(keys, "browseable"), "no") ? 0 : 1;
        in.ftpFlags = (Is(SzKORLSzHashGetValue(keys, "ftp disable list"), "yes") ? KORV_SHARE_FTP_NO_LIST : 0) |
                      (Is(SzKORLSzHashGetValue(keys, "ftp disable modify"), "yes") ? KORV_SHARE_FTP_NO_MODIFY : 0) |
                      (Is(SzKORLSzHashGetValue(keys, "ftp disable download"), "yes") ? KORV_SHARE_FTP_NO_DOWNLOAD : 0);
        return KORVShareAlloc(&in);
    });
}

}  // namespace korv::share
