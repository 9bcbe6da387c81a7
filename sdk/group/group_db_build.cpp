// The group stores filled from /etc/group and /etc/group_desc.
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "group_internal.h"
#include "korv/user.h"
#include "korv_bdb.h"
#include "korv_guard.h"
#include "korv_internal.h"
#include "korv_malloc_ptr.h"
#include "korv_rewrite.h"

using namespace korv::group;

namespace {

// The line of a reader as a C text: cut at its newline (or a NUL before it), in place.
char *Text(korv::LineReader &lr, size_t *len)
{
    char *line = lr.data();
    *len = strnlen(line, lr.TextSize());
    line[*len] = '\0';
    return line;
}

struct UserDb {
    KORVUSERDB *set = KORVUserDBOpen();
    ~UserDb() { KORVUserDBClose(set); }
};

// The gid of a group line (the text after its second ":").
int GidOf(const char *line)
{
    const char *a = strchr(line, ':');
    const char *b = a ? strchr(a + 1, ':') : nullptr;
    return b ? atoi(b + 1) : -1;
}

// Stores a group line and its id record. A name met again replaces its earlier line, and the id
// record of that earlier line goes: each group is listed once.
int StoreGroup(KORVGROUPDB *set, const std::string &key, const std::string &line, int gid)
{
    int r = korv::bdb::PutNew(set->pGRPName, key.c_str(), static_cast<int>(key.size()) + 1, line.c_str(),
                              static_cast<int>(line.size()) + 1);
    if (r < 0)
        return -1;
    if (r == 1) {
        const char *before;
        if (LookupLine(set->pGRPName, key, &before) != 0)
            return -1;
        std::string old = GidKey(GidOf(before));
        if (korv::bdb::DeleteValue(set->pGRPGID, old.c_str(), static_cast<int>(old.size()) + 1, key.c_str(),
                                   static_cast<int>(key.size()) + 1) < 0 ||
            StoreLine(set->pGRPName, key, line) != 0)
            return -1;
    }
    std::string id = GidKey(gid);
    return KORVBDbSet(set->pGRPGID, id.c_str(), static_cast<int>(id.size()) + 1, key.c_str(),
                      static_cast<int>(key.size()) + 1);
}

int GroupDBLocalBuild(KORVGROUPDB *set, FILE *fp)
{
    UserDb users;
    if (!users.set) {
        KORV_ERR(KORL_ERR_OPEN);
        return -1;
    }
    korv::LineReader lr(fp);
    std::string key;
    while (lr.Next()) {
        if (lr.data()[0] == '#')
            continue;
        size_t len;
        char *line = Text(lr, &len);
        // name ":" password ":" gid ":" members; anything shorter is no group line.
        char *c1 = strchr(line, ':');
        char *c2 = c1 ? strchr(c1 + 1, ':') : nullptr;
        char *c3 = c2 ? strchr(c2 + 1, ':') : nullptr;
        if (!c3)
            continue;
        if (c1 == line) {
            KORV_LOG("%s format error, group name = %s", KORV_GROUP_FILE, line);
            continue;
        }
        int gid = atoi(c2 + 1);
        if (gid == 0 && c2[1] != '0') {
            KORV_ERR(KORL_ERR_MALFORMED);
            return -1;
        }
        *c1 = '\0';
        int upper = korv::UpperKey(line, key, kLineKeySize);
        if (upper != 0)
            KORV_LOG("KORLUnicodeUTF8StrUpper failed, str=%s.", line);
        *c1 = ':';
        // A name without a key of its own could never be found or removed.
        if (upper != 0)
            continue;
        char *members = nullptr;
        int cbMembers = 0;
        int r = KORVUserGetValidUserList2(c3 + 1, &members, &cbMembers, nullptr, users.set);
        korv::MallocPtr<char> owned(members);
        if (r != 0) {
            KORV_LOG("KORVUserGetValidUserList2() failed! korverr=0x%04X", KORLErrGet());
            return -1;
        }
        std::string stored(line, static_cast<size_t>(c3 - line));
        stored += ':';
        stored += members;
        if (StoreGroup(set, key, stored, gid) != 0) {
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

// "#CURRENT_GID" from the index line of /etc/group, else the highest gid stored.
int GroupDBNextGidBuild(KORVGROUPDB *set, FILE *fp)
{
    rewind(fp);
    char marker[32];
    snprintf(marker, sizeof marker, "#$%s$", kGidIndexName);
    size_t markerLen = strlen(marker);
    long n = -1;
    korv::LineReader lr(fp);
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
    if (n < KORV_GROUP_GID_FIRST || n > KORV_GROUP_GID_LAST) {
        if (KORVBDbCursorSetType(set->pGRPGID, KORV_BDB_CURSOR_LAST) != 0) {
            KORV_ERR(KORL_ERR_OTHER);
            return -1;
        }
        void *k = nullptr, *v = nullptr;
        int cbK = 0, cbV = 0;
        int r = KORVBDbCursorGet(set->pGRPGID, 1, &k, &cbK, &v, &cbV);
        if (r == 0)
            n = atoi(static_cast<char *>(k));
        free(k);
        free(v);
        if (r != 0) {
            KORV_ERR(KORL_ERR_BDB_READ);
            return -1;
        }
    }
    if (korv::bdb::MarkerSet(set->pGRPGID, KORV_BDB_KEY_CURRENT_GID, KORV_BDB_KEY_CURRENT_ID_LEN,
                             static_cast<int32_t>(n)) != 0) {
        KORV_ERR(KORL_ERR_BDB_WRITE);
        return -1;
    }
    return 0;
}

int GroupDBDescBuild(KORVGROUPDB *set)
{
    if (!set->pGRPDesc) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    korv::UniqueFile fp(fopen(KORV_GROUP_DESC_FILE, "re"));
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
        char *colon = strchr(line, ':');
        if (!colon || colon == line) {
            KORV_LOG("%s format error, group name = %s", KORV_GROUP_DESC_FILE, line);
            continue;
        }
        *colon = '\0';
        int upper = korv::UpperKey(line, key, kDescKeySize);
        if (upper != 0)
            KORV_LOG("KORLUnicodeUTF8StrUpper failed, str=%s.", line);
        *colon = ':';
        if (upper != 0)
            continue;
        if (StoreLine(set->pGRPDesc, key, line, len) != 0) {
            KORV_LOG("KORVBDbSet() failed! korverr=0x%04X", KORLErrGet());
            return -1;
        }
    }
    if (lr.Failed()) {
        KORV_LOG("Fail to read the end of the file. errno=%d/%m", errno);
        KORV_ERR(KORL_ERR_READ);
        return -1;
    }
    return 0;
}

}  // namespace

extern "C" int KORVGroupDBBuild(KORVGROUPDB *set)
{
    return KORV_GUARDED(-1, {
        if (!set || !set->pGRPName || !set->pGRPGID) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        korv::UniqueFile fp(fopen(KORV_GROUP_FILE, "re"));
        if (!fp) {
            KORV_ERR(KORL_ERR_OPEN);
            return -1;
        }
        if (GroupDBLocalBuild(set, fp.get()) != 0 || GroupDBNextGidBuild(set, fp.get()) != 0)
            return -1;
        if (GroupDBDomainBuild(set->pGRPName) != 0) {
            // The local groups are complete without the domain's; the failure goes to the event log.
            KORV_LOG("GroupDBDomainBuild() failed! korverr=0x%04X", KORLErrGet());
            int ignored = system("/usr/korv/bin/korvlogset1 sys err 0x1180050A");
            (void)ignored;
        }
        if (GroupDBDescBuild(set) != 0)
            return -1;
        return GroupDbConfSyncTimeSet(set, nullptr, nullptr);
    });
}
