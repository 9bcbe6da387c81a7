// One user's record and SMB hashes read under lock_pw.
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "korv_fields.h"
#include "korv_guard.h"
#include "korv_internal.h"
#include "korv_locked_lookup.h"
#include "user_internal.h"

using namespace korv::user;

namespace {

// Lookup keys are formed in a buffer of this size, their NUL included.
constexpr size_t kLookupKeySize = 492;
constexpr int kHashBuffer = kHashText + 1;

int LookupKey(const char *name, std::string &key)
{
    if (UpperKey(name, key, kLookupKeySize) != 0) {
        KORV_LOG("KORLUnicodeUTF8StrUpper failed, str=%s", name);
        return -1;
    }
    return 0;
}

int SmbPasswd(KORVUSERDB *set, const std::string &key, char *lm, char *nt)
{
    std::string line;
    int r = ReadLine(set->pPWDSMB, key, line);
    if (r != 0) {
        if (r > 0)
            KORV_ERR(KORV_ERR_USER_NOT_FOUND);
        return -1;
    }
    // name, uid, LM, NT, flags and time, each followed by ":".
    std::string_view f[7];
    if (!AccountFields(line, 7, f)) {
        KORV_ERR(KORL_ERR_MALFORMED);
        return -1;
    }
    snprintf(lm, kHashBuffer, "%.*s", static_cast<int>(f[2].size()), f[2].data());
    snprintf(nt, kHashBuffer, "%.*s", static_cast<int>(f[3].size()), f[3].data());
    return 0;
}

}  // namespace

extern "C" int KORVUserGet(const char *name, KORVUSER **ppUser)
{
    return KORV_GUARDED(-1, {
        if (!name || !ppUser) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        std::string key;
        if (LookupKey(name, key) != 0)
            return -1;
        korv::LockedLookup<KORVUSERDB> db(KORL_LOCK_PW, KORVUserDBOpen, KORVUserDBClose);
        if (db.Begin() != 0)
            return -1;
        int r = KORVUserDBGet(db.get(), key.c_str(), ppUser);
        if (db.End() != 0) {
            // A failed call hands out no record.
            KORVUserFree(*ppUser);
            *ppUser = nullptr;
            return -1;
        }
        return r;
    });
}

extern "C" int KORVUserGetSmbPasswd(const char *name, char *lm, int lmSize, char *nt, int ntSize)
{
    if (!name || !lm || !nt || lmSize != kHashBuffer || ntSize != kHashBuffer) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    int r = KORV_GUARDED(-1, {
        std::string key;
        if (LookupKey(name, key) != 0)
            return -1;
        korv::LockedLookup<KORVUSERDB> db(KORL_LOCK_PW, KORVUserDBOpen, KORVUserDBClose);
        if (db.Begin() != 0)
            return -1;
        int got = SmbPasswd(db.get(), key, lm, nt);
        return db.End() != 0 ? -1 : got;
    });
    // No hash, nor part of one, is left behind by a failed call.
    if (r != 0) {
        memset(lm, 0, kHashBuffer);
        memset(nt, 0, kHashBuffer);
    }
    return r;
}
