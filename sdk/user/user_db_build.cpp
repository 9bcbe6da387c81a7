// The user stores filled from the account text files.
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "korv_bdb.h"
#include "korv_guard.h"
#include "korv_internal.h"
#include "korv_rewrite.h"
#include "user_internal.h"

using namespace korv::user;

namespace {

// The line of a reader without its newline, cut at a NUL as a C text would be.
std::string Text(const korv::LineReader &lr)
{
    return std::string(lr.data(), strnlen(lr.data(), lr.TextSize()));
}

// The uid field of a passwd line (the text after its second ":").
int UidOf(const std::string &line)
{
    size_t a = line.find(':');
    size_t b = a == std::string::npos ? a : line.find(':', a + 1);
    return b == std::string::npos ? -1 : atoi(line.c_str() + b + 1);
}

// Adds the record under uid in the uid store. A name met again replaces its earlier line, so the
// uid record of that earlier line goes first: each user is listed once.
int StoreUid(KORVUSERDB *set, const std::string &key, int uid)
{
    std::string before;
    int r = ReadLine(set->pPWDName, key, before);
    if (r < 0)
        return -1;
    if (r == 0) {
        std::string old = UidKey(UidOf(before));
        if (korv::bdb::DeleteValue(set->pPWDUID, old.c_str(), static_cast<int>(old.size()) + 1, key.c_str(),
                                   static_cast<int>(key.size()) + 1) < 0)
            return -1;
    }
    std::string id = UidKey(uid);
    return KORVBDbSet(set->pPWDUID, id.c_str(), static_cast<int>(id.size()) + 1, key.c_str(),
                      static_cast<int>(key.size()) + 1);
}

int UserDBPasswdBuild(KORVUSERDB *set)
{
    if (!set->pPWDName || !set->pPWDUID) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    korv::UniqueFile fp(fopen(KORV_PASSWD_FILE, "re"));
    if (!fp) {
        KORV_ERR(KORL_ERR_OPEN);
        return -1;
    }
    korv::LineReader lr(fp.get());
    std::string key;
    while (lr.Next()) {
        if (lr.data()[0] == '#')
            continue;
        std::string line = Text(lr);
        // name ":" password ":" uid ":" ...; anything shorter is no account line.
        size_t c1 = line.find(':');
        size_t c2 = c1 == std::string::npos ? c1 : line.find(':', c1 + 1);
        size_t c3 = c2 == std::string::npos ? c2 : line.find(':', c2 + 1);
        if (c3 == std::string::npos)
            continue;
        const char *uidField = line.c_str() + c2 + 1;
        int uid = atoi(uidField);
        if (uid == 0 && uidField[0] != '0') {
            KORV_ERR(KORL_ERR_MALFORMED);
            return -1;
        }
        std::string name = line.substr(0, c1);
        if (UpperKey(name.c_str(), key) != 0) {
            KORV_LOG("KORLUnicodeUTF8StrUpper failed [%s]", name.c_str());
            continue;
        }
        if (StoreUid(set, key, uid) != 0 || StoreLine(set->pPWDName, key, line) != 0) {
            KORV_LOG("KORVBDbSet() failed! korverr=0x%04X", KORLErrGet());
            return -1;
        }
    }
    if (lr.Failed()) {
        KORV_LOG("feof failed. errno=%d/%m", errno);
        KORV_ERR(KORL_ERR_READ);
        return -1;
    }
    return 0;
}

int UserDBNextUidBuild(KORVUSERDB *set)
{
    if (!set->pPWDUID) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    char marker[32];
    snprintf(marker, sizeof marker, "#$%s$", kUidIndexName);
    size_t markerLen = strlen(marker);
    korv::UniqueFile fp(fopen(KORV_USER_CONF_FILE, "re"));
    if (!fp) {
        KORV_ERR(KORL_ERR_OPEN);
        return -1;
    }
    long n = -1;
    korv::LineReader lr(fp.get());
    while (lr.Next()) {
        std::string line = Text(lr);
        size_t hash = line.find('#');
        if (hash == std::string::npos || line.compare(hash, markerLen, marker) != 0)
            continue;
        char *end;
        n = strtol(line.c_str() + hash + markerLen, &end, 10);
        if (*end == '$')
            break;
    }
    if (n < KORV_USER_UID_FIRST || n > KORV_USER_UID_LAST) {
        // No usable index: the highest uid in use.
        if (KORVBDbCursorSetType(set->pPWDUID, KORV_BDB_CURSOR_LAST) != 0) {
            KORV_ERR(KORL_ERR_OTHER);
            return -1;
        }
        void *k = nullptr, *v = nullptr;
        int cbK = 0, cbV = 0;
        int r = KORVBDbCursorGet(set->pPWDUID, 1, &k, &cbK, &v, &cbV);
        if (r == 0)
            n = atoi(static_cast<char *>(k));
        free(k);
        free(v);
        if (r != 0) {
            KORV_ERR(KORL_ERR_BDB_READ);
            return -1;
        }
    }
    if (korv::bdb::MarkerSet(set->pPWDUID, KORV_BDB_KEY_CURRENT_UID, KORV_BDB_KEY_CURRENT_ID_LEN,
                             static_cast<int32_t>(n)) != 0) {
        KORV_ERR(KORL_ERR_BDB_WRITE);
        return -1;
    }
    return 0;
}

}  // namespace

namespace korv::user {

int UserDBGetLineBuild(KORVBDB *store, const char *path, const char *delimiters)
{
    if (!store || !path || !delimiters) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    korv::UniqueFile fp(fopen(path, "re"));
    if (!fp) {
        KORV_ERR(KORL_ERR_OPEN);
        return -1;
    }
    korv::LineReader lr(fp.get());
    std::string key;
    while (lr.Next()) {
        if (lr.data()[0] == '#')
            continue;
        std::string line = Text(lr);
        size_t cut = line.find_first_of(delimiters);
        if (cut == std::string::npos) {
            KORV_LOG("%s format error, user name = %s", path, line.c_str());
            continue;
        }
        std::string name = line.substr(0, cut);
        if (UpperKey(name.c_str(), key) != 0) {
            KORV_LOG("KORLUnicodeUTF8StrUpper failed [%s]", name.c_str());
            continue;
        }
        if (StoreLine(store, key, line) != 0)
            return -1;
    }
    if (lr.Failed()) {
        KORV_LOG("Fail to read the end of the file. errno=%d/%m", errno);
        KORV_ERR(KORL_ERR_READ);
        return -1;
    }
    return 0;
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
            int ignored = system("/usr/korv/bin/korvlogset1 sys err 0x1180050A");
            (void)ignored;
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
