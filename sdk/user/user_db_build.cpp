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

// The line of a reader as a C text: cut at its newline (or a NUL before it), in place.
char *Text(korv::LineReader &lr, size_t *len)
{
    char *line = lr.data();
    *len = strnlen(line, lr.TextSize());
    line[*len] = '\0';
    return line;
}

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

// The uid field of a passwd line (the text after its second ":").
int UidOf(const char *line)
{
    const char *a = strchr(line, ':');
    const char *b = a ? strchr(a + 1, ':') : nullptr;
    return b ? atoi(b + 1) : -1;
}

// Stores a passwd line and its uid record. A name met again replaces its earlier line, and the
// uid record of that earlier line goes: each user is listed once.
int StorePasswd(KORVUSERDB *set, const std::string &key, const char *line, size_t len, int uid)
{
    int r = korv::bdb::PutNew(set->pPWDName, key.c_str(), static_cast<int>(key.size()) + 1, line,
                              static_cast<int>(len) + 1);
    if (r < 0)
        return -1;
    if (r == 1) {
        const char *before;
        if (LookupLine(set->pPWDName, key, &before) != 0)
            return -1;
        std::string old = UidKey(UidOf(before));
        if (korv::bdb::DeleteValue(set->pPWDUID, old.c_str(), static_cast<int>(old.size()) + 1, key.c_str(),
                                   static_cast<int>(key.size()) + 1) < 0 ||
            StoreLine(set->pPWDName, key, line, len) != 0)
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
        size_t len;
        char *line = Text(lr, &len);
        // name ":" password ":" uid ":" ...; anything shorter is no account line.
        char *c1 = strchr(line, ':');
        char *c2 = c1 ? strchr(c1 + 1, ':') : nullptr;
        char *c3 = c2 ? strchr(c2 + 1, ':') : nullptr;
        if (!c3)
            continue;
        int uid = atoi(c2 + 1);
        if (uid == 0 && c2[1] != '0') {
            KORV_ERR(KORL_ERR_MALFORMED);
            return -1;
        }
        if (KeyBefore(line, c1, key) != 0)
            continue;
        if (len >= 0x7fffffff || StorePasswd(set, key, line, len, uid) != 0) {
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
        size_t len;
        char *line = Text(lr, &len);
        char *hash = strchr(line, '#');
        if (!hash || strncmp(hash, marker, markerLen) != 0)
            continue;
        char *end;
        n = strtol(hash + markerLen, &end, 10);
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
        size_t len;
        char *line = Text(lr, &len);
        char *cut = line + strcspn(line, delimiters);
        if (!*cut) {
            KORV_LOG("%s format error, user name = %s", path, line);
            continue;
        }
        if (KeyBefore(line, cut, key) != 0)
            continue;
        if (StoreLine(store, key, line, len) != 0)
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
