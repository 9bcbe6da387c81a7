// The steps of a user change (KORVUserSetList) and what they share.
#pragma once

#include <syslog.h>

#include <string>
#include <vector>

#include "korv/hash.h"
#include "korv/user.h"

// "%s:%d " messages of the user changes at LOG_NOTICE, where a skipped entry is reported.
#define KORV_LOG_NOTICE(fmt, ...) \
    syslog(LOG_NOTICE, "%s:%d " fmt, __FILE_NAME__, __LINE__ __VA_OPT__(, ) __VA_ARGS__)

namespace korv::user {

constexpr const char *kAfpdConf = "/usr/korv/etc/afpd.conf";
constexpr const char *kAfpdConfTmp = "/usr/korv/etc/afpd.conf.tmp";
// The buffer a name's key is formed in by the user changes, its NUL included.
constexpr size_t kSetKeySize = 492;
// The longest home path an update sets ("%s/%s" of the homes' root and the name).
constexpr size_t kHomeMax = 523;

// One entry of a batch: the caller's record is never written; the call works on a copy.
struct SetEntry {
    const char *oldName = nullptr;  // NULL for a create
    const KORVUSER *given = nullptr;
    KORVUSER work{};                // the copy stored, with the defaults applied
    std::string home;               // the default home of an update, which work points at
    std::string oldKey;             // the upper-cased old name of an update
    bool changed = false;           // its store update succeeded
};

// Creates the entry's user: 0, or -1 (logged).
int UserSetNew(KORVUSERDB *set, SetEntry &e);
// Updates the entry's user, entering a rename into renames: 0, or -1 (logged).
int UserSetUpdate(KORVUSERDB *set, SetEntry &e, PKORLSZHASH *renames);

// The AFP server's guest login module switched by the guest's password: 0, or -1 (logged).
int SDKISetGuestAfpd(const KORVUSER *guest);
// The reserved accounts' membership of "smmsp" and their rsync accounts and secrets after the
// entry's change: 0, or -1 (logged).
int NetBackupAuthUserSet(const char *oldName, const KORVUSER *user);
// The home folders of the changed entries made or moved when user homes are enabled.
void UserSetHomes(const std::vector<SetEntry> &entries);

}  // namespace korv::user
