// The stored-record unpacks: a share record and a stored string list as any bytes, and a user's
// and a group's records as a damaged store may hold them (the input split at 0xFF bytes into the
// name, shadow and misc values).
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "fuzz_files.h"
#include "korv/bdb.h"
#include "korv/group.h"
#include "korv/list.h"
#include "korv/share.h"
#include "korv/user.h"
#include "share/share_internal.h"

namespace {

std::vector<std::string> split(const uint8_t *data, size_t size, size_t parts)
{
    std::vector<std::string> out(1);
    for (size_t i = 0; i < size; i++) {
        if (data[i] == 0xFF && out.size() < parts)
            out.emplace_back();
        else
            out.back() += static_cast<char>(data[i]);
    }
    out.resize(parts);
    return out;
}

// A small device's account files, laid once; the sets are opened for each input and closed
// again, so that nothing the record store holds outlives the input.
void device()
{
    static bool laid = [] {
        korvfuzz::write_file("/etc/passwd", "root:x:0:0::/root:/bin/sh\nalice:x:1030:100:::\n");
        korvfuzz::write_file("/etc/shadow", "root:*:1:0:99999:7:::\nalice:*:1:0:99999:7:::\n");
        korvfuzz::write_file("/etc/korvuser.conf", "");
        korvfuzz::write_file("/usr/korv/etc/private/smbpasswd", "");
        korvfuzz::write_file("/etc/group", "users:x:100:alice\n");
        korvfuzz::write_file("/etc/group_desc", "");
        return true;
    }();
    (void)laid;
}

void put(KORVBDB *store, const char *key, const std::string &value)
{
    KORVBDbSet(store, key, static_cast<int>(strlen(key)) + 1, value.data(), static_cast<int>(value.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    KORVSHARE *share = nullptr;
    korv::share::UnpackChecked(data, static_cast<int>(size), &share);
    KORVShareFree(share);
    KORLSzListFree(KORVListDBUnpack(data, static_cast<int>(size)));

    if (size == 0)
        return 0;
    device();
    std::vector<std::string> v = split(data, size, 3);
    char name[32];
    if (KORVUSERDB *users = KORVUserDBOpen()) {
        put(users->pPWDName, "FUZZ", v[0]);
        put(users->pPWDShadow, "FUZZ", v[1]);
        put(users->pPWDKorvser, "FUZZ", v[2]);
        KORVUSER *user = nullptr;
        KORVUserDBGet(users, "FUZZ", &user);
        KORVUserFree(user);
        KORVUserDBCheckExists(users, "FUZZ", 4, name, sizeof name);
        KORVUserDBClose(users);
    }
    if (KORVGROUPDB *groups = KORVGroupDBOpen()) {
        put(groups->pGRPName, "FUZZ", v[0]);
        KORVGroupDBCheckExists(groups, "FUZZ", 4, name, sizeof name);
        KORVGROUP *group = nullptr;
        while (KORVGroupDBGetByCursor(groups, &group, 3, 1) == 0) {
        }
        KORVGroupFree(group);
        KORVGroupDBClose(groups);
    }
    return 0;
}
