// The user stores filled from the account text files.
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "korv_account_store.h"
#include "korv_bdb.h"
#include "korv_command.h"
#include "korv_guard.h"
#include "korv_internal.h"
#include "korv_rewrite.h"
#include "user_internal.h"

using namespace korv::user;

namespace {

// The upper-cased key of the text before cut (a delimiter of line, put back afterwards).
int KeyBefore(char *line, char *cut, std::string &key)
{
    char saved = *cut;
    *cut = '\0';
    int r = UpperKey(line, key);
    if (r != 0)
        KORV_LOG("KORLUnicodeUTF8StrUpper failed [%s]", line);
    *cut = saved;
    return r;
}

int UserDBPasswdBuild(KORVUSERDB *set)
{
    if (!set->pPWDName || !set->pPWDUID) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    korv::bdb::AccountFile fp(KORV_PASSWD_FILE);
    if (!fp) {
        KORV_ERR(KORL_ERR_OPEN);
        return -1;
    }
    std::string key;
    korv::bdb::AccountLoad load(set->pPWDName, set->pPWDUID);
    return korv::bdb::ForEachAccountLine(fp.get(), "feof failed.", [&](char *line, size_t len) {
        // name ":" password ":" uid ":" ...; anything shorter is no account line.
        std::string_view f[4];
        if (!AccountFields(line, 4, f, korv::FieldCount::AtLeast))
            return 0;
        int uid = FieldInt(f[2]);
        if (uid == 0 && !f[2].starts_with('0')) {
            KORV_ERR(KORL_ERR_MALFORMED);
            return -1;
        }
        if (KeyBefore(line, line + f[0].size(), key) != 0)
            return 0;
        if (len >= 0x7fffffff || load.Store(key, line, len, uid) != 0) {
            KORV_LOG("KORVBDbSet() failed! korverr=0x%04X", KORLErrGet());
            return -1;
        }
        return 0;
    });
}

int UserDBNextUidBuild(KORVUSERDB *set)
{
    if (!set->pPWDUID) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    korv::UniqueFile fp(fopen(KORV_USER_CONF_FILE, "re"));
    if (!fp) {
        KORV_ERR(KORL_ERR_OPEN);
        return -1;
    }
    return korv::bdb::NextIdBuild(set->pPWDUID, fp.get(), kUidIndexName, KORV_USER_UID_FIRST, KORV_USER_UID_LAST,
                                  KORV_BDB_KEY_CURRENT_UID);
}

}  // namespace

namespace korv::user {

int UserDBGetLineBuild(KORVBDB *store, const char *path, const char *delimiters)
{
    const korv::bdb::KeyedLines file = {path, delimiters, "user name", 0, false, "KORLUnicodeUTF8StrUpper failed",
                                        false, false};
    return korv::bdb::KeyedLineBuild(store, file);
}

}  // namespace korv::user

extern "C" int KORVUserDBBuild(KORVUSERDB *set)
{
    return KORV_GUARDED(-1, {
        if (!set) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        if (UserDBPasswdBuild(set) != 0) {
            KORV_LOG("UserDBPasswdBuild() failed! korverr=0x%04X", KORLErrGet());
            return -1;
        }
        if (UserDBNextUidBuild(set) != 0) {
            KORV_LOG("UserDBNextUidBuild() failed! korverr=0x%04X", KORLErrGet());
            return -1;
        }
        if (UserDBDomainBuild(set->pPWDName) != 0) {
            // The local users are complete without the domain's; the failure goes to the event log.
            KORV_LOG("UserDBDomainBuild() failed! korverr=0x%04X", KORLErrGet());
            korv::proc::RunEventLogSet("sys", "err", "0x1180050A");
        }
        if (UserDBGetLineBuild(set->pPWDShadow, KORV_SHADOW_FILE, ":") != 0 ||
            UserDBGetLineBuild(set->pPWDKorvser, KORV_USER_CONF_FILE, ":") != 0 ||
            UserDBGetLineBuild(set->pPWDSMB, KORV_SMBPASSWD_FILE, ":") != 0) {
            KORV_LOG("UserDBGetLineBuild() failed! korverr=0x%04X", KORLErrGet());
            return -1;
        }
        if (UserDbConfSyncTimeSet(set) != 0) {
            KORV_LOG("UserDbConfSyncTimeSet() failed! korverr=0x%04X", KORLErrGet());
            return -1;
        }
        return 0;
    });
}
