// A batch of users created or updated, published, and carried into every place that names them.
#include <signal.h>
#include <string.h>
#include <strings.h>

#include <vector>

#include "korv/download.h"
#include "korv/file.h"
#include "korv/proc.h"
#include "korv_guard.h"
#include "korv_internal.h"
#include "korv_locked_lookup.h"
#include "korv_sz_holders.h"
#include "user_internal.h"
#include "user_set_internal.h"

using namespace korv::user;

namespace {

constexpr unsigned kLocks = KORL_LOCK_PW | KORL_LOCK_GR | KORL_LOCK_SMB;
constexpr int kScemdSignal = 47;

// The batch's entries in the stores: whether one took effect.
bool StoreEntries(KORVUSERDB *set, std::vector<SetEntry> &entries, PKORLSZHASH *renames)
{
    bool any = false;
    for (SetEntry &e : entries) {
        if (!e.given || !e.given->szName) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            continue;
        }
        e.work = *e.given;
        int r = e.oldName ? UserSetUpdate(set, e, renames) : UserSetNew(set, e);
        if (r == 0)
            e.changed = any = true;
    }
    // An update under the same name is no rename; a change of letter case is one.
    for (const SetEntry &e : entries) {
        if (e.changed && e.oldName && strcmp(e.oldName, e.work.szName) == 0)
            SzKORLSzHashRemoveKey(*renames, e.oldKey.c_str());
    }
    return any;
}

// The download scheduler re-reads the users whenever a batch ran, changed or not.
void SignalScheduler()
{
    char value[4];
    if (KORLFileGetKeyValue("/etc.defaults/korvinfo.conf", "support_download", value, sizeof value, 0) <= 0 ||
        strcasecmp(value, "yes") != 0)
        return;
    if (KORVDownQuarnSchedulerSignal(SIGUSR1) != 0)
        syslog(LOG_ERR, "%s (%d)Failed to signal scheduled.", __FILE_NAME__, __LINE__);
}

// The FTP step over the batch's flags, names and records.
int FtpChroot(const std::vector<SetEntry> &entries)
{
    std::vector<unsigned char> flags;
    std::vector<const char *> olds;
    std::vector<KORVUSER *> users;
    for (const SetEntry &e : entries) {
        flags.push_back(e.changed ? 1 : 0);
        olds.push_back(e.oldName);
        users.push_back(const_cast<KORVUSER *>(e.given));
    }
    return UserSetFTPChroot(flags.data(), olds.data(), users.data(), static_cast<int>(entries.size()));
}

// What follows the published account files; only logs.
void CarryOut(const std::vector<SetEntry> &entries, PKORLSZHASH renames)
{
    if (renames->nUsed > 0) {
        if (KORVUserModifySmbConf(renames) != 0)
            KORV_LOG("KORVUserModifySmbConf failed. korverr=0x%04X", KORLErrGet());
        if (KORVUserModifyGroup(renames) != 0)
            KORV_LOG("KORVUserModifyGroup failed. korverr=0x%04X", KORLErrGet());
    }
    for (const SetEntry &e : entries) {
        if (!e.changed)
            continue;
        if (strcmp(e.work.szName, "guest") == 0)
            SDKISetGuestAfpd(e.given);
        NetBackupAuthUserSet(e.oldName, e.given);
    }
    UserSetHomes(entries);
}

int SetList(const char *const *oldNames, KORVUSER *const *users, int n)
{
    if (!oldNames || !users || n < 0) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    if (n == 0)
        return 0;
    korv::HashHolder renames(PshKORLSzHashAlloc(512));
    if (!renames)
        return -1;
    std::vector<SetEntry> entries(static_cast<size_t>(n));
    for (int i = 0; i < n; i++) {
        entries[i].oldName = oldNames[i];
        entries[i].given = users[i];
    }

    korv::LockedLookup<KORVUSERDB> db(kLocks, KORVUserDBOpen, KORVUserDBClose, LOCK_EX);
    auto locked = [&]() {
        if (db.Begin() != 0)
            return -1;
        KORVUSERDB *set = db.get();
        bool changed = StoreEntries(set, entries, renames.addr());
        SignalScheduler();
        if (!changed)
            return -1;
        if (KORVUserDBDump(set) != 0) {
            KORV_LOG("KORVUserDBDump failed. korverr=0x%04X", KORLErrGet());
            return -1;
        }
        db.Close();
        CarryOut(entries, renames.get());
        return FtpChroot(entries) == 0 ? 0 : -1;
    };
    int result = locked();
    if (db.End() != 0)
        result = -1;
    return result;
}

}  // namespace

extern "C" int KORVUserSetList(const char *const *oldNames, KORVUSER *const *users, int n)
{
    int result = KORV_GUARDED(-1, { return SetList(oldNames, users, n); });
    KORVScemdSignal(kScemdSignal);
    return result;
}

extern "C" int KORVUserSet(const char *oldName, KORVUSER *user)
{
    if (!user) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    return KORVUserSetList(&oldName, &user, 1);
}
