// Lists of user and group names, as an administrator types them, normalised to what the share
// and group settings store.
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <string>
#include <vector>

#include "korv/wins.h"
#include "korv_db_holder.h"
#include "korv_fields.h"
#include "korv_guard.h"
#include "korv_internal.h"
#include "korv_sz_holders.h"
#include "user_internal.h"

using namespace korv::user;

namespace {

// Names are upper-cased in a buffer of this size, their NUL included; stored names are copied
// into buffers of the same size (one less after a group's "@").
constexpr size_t kKeySize = 493;

// The name as the list keeps it, or false when it is dropped.
bool Normalise(const char *name, KORVGROUPDB *groups, KORVUSERDB *users, bool groupStale, bool userStale,
               bool domain, PKORLSZHASH *seen, std::string &out, int *fail)
{
    if (!*name || strcasecmp(name, "nobody") == 0)
        return false;
    bool isDomain = strchr(name, '\\') != nullptr;
    if (isDomain && !domain)
        return false;
    std::string upper;
    if (UpperKey(name, upper, kKeySize) != 0) {
        // No store holds a name without a key: it exists nowhere.
        KORV_LOG("KORLUnicodeUTF8StrUpper failed, str=%s", name);
        return false;
    }
    if (SzKORLSzHashGetValue(*seen, upper.c_str()))
        return false;
    if (KORLSzHashSetValue(seen, upper.c_str(), "1") < 0) {
        *fail = 1;
        return false;
    }
    char stored[kKeySize];
    if (name[0] == '@') {
        if (!groups) {
            KORV_ERR(KORL_ERR_MALFORMED);
            *fail = 1;
            return false;
        }
        if (isDomain && groupStale) {
            out = name;
            return true;
        }
        if (KORVGroupDBCheckExists(groups, upper.c_str() + 1, static_cast<int>(upper.size()) - 1, stored,
                                   sizeof stored - 1) != 1)
            return false;
        out = std::string("@") + stored;
        return true;
    }
    if (isDomain && userStale) {
        out = name;
        return true;
    }
    if (KORVUserDBCheckExists(users, upper.c_str(), static_cast<int>(upper.size()), stored, sizeof stored) != 1)
        return false;
    out = stored;
    return true;
}

}  // namespace

namespace korv::user {

int UserValidUserListBuild(char **names, char **ppOut, int *pcbOut, KORVGROUPDB *groups, KORVUSERDB *users)
{
    return KORV_GUARDED(-1, {
        if (!users || !names || !ppOut || !pcbOut) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        korv::HashHolder seen(PshKORLSzHashAlloc(512));
        if (!seen)
            return -1;
        bool groupStale = groups && KORVBDbDomainIsNeedToRebuild(groups->pGRPName) == 1;
        bool userStale = KORVBDbDomainIsNeedToRebuild(users->pPWDName) == 1;
        char work[1024] = {};
        int domainMode = 0, running = 0;
        if (KORVWinsQuery1(work, sizeof work, &domainMode, &running) != 0)
            domainMode = running = 0;
        std::vector<std::string> kept;
        size_t total = 0;
        for (char **p = names; *p; ++p) {
            std::string out;
            int fail = 0;
            if (Normalise(*p, groups, users, groupStale, userStale, domainMode && running, seen.addr(), out, &fail)) {
                total += out.size() + 1;
                kept.push_back(std::move(out));
            } else if (fail) {
                return -1;
            }
        }
        if (total >= 0x7fffffff) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        std::string joined;
        for (const std::string &k : kept)
            joined += (joined.empty() ? "" : ",") + k;
        void *buf = *ppOut;
        if (KORVCheckAndRealloc(&buf, pcbOut, static_cast<int>(joined.size()) + 1) != 0) {
            *ppOut = static_cast<char *>(buf);
            return -1;
        }
        *ppOut = static_cast<char *>(buf);
        memset(*ppOut, 0, static_cast<size_t>(*pcbOut));
        memcpy(*ppOut, joined.c_str(), joined.size() + 1);
        return 0;
    });
}

}  // namespace korv::user

extern "C" int UserNameTypeGet(const char *name)
{
    if (!name)
        return 0;
    return strchr(name, '\\') ? KORV_USER_TYPE_DOMAIN : KORV_USER_TYPE_LOCAL;
}

extern "C" int KORVUserGetValidUserList2(const char *list, char **ppOut, int *pcbOut, KORVGROUPDB *groups,
                                         KORVUSERDB *users)
{
    return KORV_GUARDED(-1, {
        if (!list || !ppOut || !pcbOut || !users) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        std::vector<std::string> items = korv::SplitList(list, ',');
        std::vector<char *> array;
        for (std::string &item : items)
            array.push_back(item.data());
        array.push_back(nullptr);
        return UserValidUserListBuild(array.data(), ppOut, pcbOut, groups, users);
    });
}

extern "C" int KORVUserGetValidUserList(char **names, char **ppOut, int *pcbOut)
{
    if (!names) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    korv::UserDbHolder users;
    if (!users.db) {
        KORV_ERR(KORL_ERR_OPEN);
        return -1;
    }
    return UserValidUserListBuild(names, ppOut, pcbOut, nullptr, users.db);
}
