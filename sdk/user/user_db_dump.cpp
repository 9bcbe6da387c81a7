// The four account files written anew from the user stores.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "korv_account_rewrite.h"
#include "korv_bdb.h"
#include "korv_guard.h"
#include "korv_internal.h"
#include "user_internal.h"

using namespace korv::user;

namespace {

// The order the dump writes them; the shadow and SMB files hold hashes.
const korv::AccountFile kDumpFiles[] = {
    {KORV_PASSWD_FILE, 0644},
    {KORV_SHADOW_FILE, 0600},
    {KORV_USER_CONF_FILE, 0644},
    {KORV_SMBPASSWD_FILE, 0600},
};
enum { kPasswd, kShadow, kConf, kSmb };

// Writes the user's record of one store as a line of its file. A missing passwd or shadow record
// is logged and left out, a missing misc or SMB record left out silently. 0, or -1.
int DumpRecord(korv::AccountRewrite &rw, int file, KORVBDB *store, const std::string &key, const char *storeName)
{
    std::string line;
    int r = ReadLine(store, key, line);
    if (r < 0)
        return -1;
    if (r > 0) {
        if (storeName) {
            KORV_ERR(KORL_ERR_NOT_FOUND);
            KORV_LOG("KORVBDbGet(pUserDb->%s) [%s] failed. korverr=0x%04X", storeName, key.c_str(), KORLErrGet());
        }
        return 0;
    }
    return rw.PutRecord(file, line.data(), line.size(), key.c_str());
}

int Dump(KORVUSERDB *set)
{
    korv::AccountRewrite rw(kDumpFiles, 4);
    if (rw.Open() != 0)
        return -1;
    int32_t current;
    if (korv::bdb::MarkerGet(set->pPWDUID, KORV_BDB_KEY_CURRENT_UID, KORV_BDB_KEY_CURRENT_ID_LEN, &current) != 0) {
        KORV_LOG("KORVBDbGet() failed, korverr=0x%04X", KORLErrGet());
        return -1;
    }
    char head[64];
    snprintf(head, sizeof head, "#$%s$%d$", kUidIndexName, static_cast<int>(current));
    if (rw.PutLine(kConf, head) != 0 ||
        rw.PutLine(kConf, "# record user misc, format \"user_name:user_privilege:user_mail\"") != 0)
        return -1;

    if (KORVBDbCursorSetType(set->pPWDUID, KORV_BDB_CURSOR_FIRST) != 0) {
        KORV_LOG("KORVBDbCursorSetType() failed, korverr=0x%04X", KORLErrGet());
        return -1;
    }
    korv::bdb::CursorBuffers b;
    for (bool first = true;; first = false) {
        if (KORVBDbCursorGet(set->pPWDUID, 1, &b.key, &b.cbKey, &b.value, &b.cbValue) != 0) {
            // Only the end of the walk ends it: a file cut short by a read error is never published.
            if (KORLErrGet() == KORL_ERR_BDB_END)
                break;
            KORV_LOG("KORVBDbCursorGet() failed! korverr=0x%04X", KORLErrGet());
            return -1;
        }
        if (first && KORVBDbCursorSetType(set->pPWDUID, KORV_BDB_CURSOR_NEXT) != 0) {
            KORV_LOG("KORVBDbCursorSetType() failed. korverr=0x%04X", KORLErrGet());
            return -1;
        }
        const char *v = static_cast<const char *>(b.value);
        if (v[b.cbValue - 1] != '\0') {
            KORV_ERR(KORL_ERR_MALFORMED);
            KORV_LOG("KORVBDbCursorGet() failed! korverr=0x%04X", KORLErrGet());
            return -1;
        }
        std::string key(v);
        if (key.find('\\') != std::string::npos)
            continue;
        if (DumpRecord(rw, kPasswd, set->pPWDName, key, "pPWDName") != 0 ||
            DumpRecord(rw, kShadow, set->pPWDShadow, key, "pPWDShadow") != 0 ||
            DumpRecord(rw, kConf, set->pPWDKorvser, key, nullptr) != 0 ||
            DumpRecord(rw, kSmb, set->pPWDSMB, key, nullptr) != 0)
            return -1;
    }
    return rw.Finish();
}

}  // namespace

extern "C" int KORVUserDBDump(KORVUSERDB *set)
{
    return KORV_GUARDED(-1, {
        if (!set) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        // A set left stale by a failed rebuild never overwrites what was edited since.
        if (korv::bdb::SetSourcesCurrent(kUserSet, set) != 1)
            return -1;
        // Until every file is complete and on disk the targets stay as they were.
        if (Dump(set) != 0)
            return -1;
        if (USERIRenameTmpFiles() != 0)
            return -1;
        if (USERIRemoveTmpFiles() != 0)
            return -1;
        if (UserDbConfSyncTimeSet(set) != 0) {
            KORV_LOG("UserDbConfSyncTimeSet() failed! korverr=0x%04X", KORLErrGet());
            return -1;
        }
        return 0;
    });
}
