// What the user-database functions of this folder share: the set's description, keys, stored
// lines and the internal steps of the build and the dump.
#pragma once

#include <pwd.h>
#include <shadow.h>

#include <functional>
#include <source_location>
#include <string>
#include <string_view>

#include "korv/hash.h"
#include "korv/list.h"
#include "korv/user.h"
#include "korv_account_rewrite.h"
#include "korv_account_store.h"
#include "korv_bdb.h"
#include "korv_fields.h"
#include "korv_store_set.h"
#include "korv_upper_key.h"

namespace korv::user {

extern const korv::bdb::SetSpec kUserSet;

constexpr const char *kDefaultHomeRoot = "/var/services/homes";
constexpr const char *kDefaultShell = "/bin/csh";
constexpr const char *kUidIndexName = "_@UID__INDEX@_";
// Stored lines are formatted into buffers of this size; a longer line is refused.
constexpr int kLineMax = 16384;
// A failed or unknown LM or NT hash: the SMB service's "no password" form.
constexpr const char *kDisabledHash = "XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX";
constexpr int kHashText = 32;

using korv::UpperKey;

using korv::bdb::IdKey;
using korv::bdb::LookupLine;
using korv::bdb::ReadLine;
using korv::bdb::StoreLine;

// Whether a system account: its uid, taken as unsigned, is at most 1024 (1025 with guest support).
bool IsSystemUid(int uid);

// KORVUserAlloc with the six texts (name, password, gecos, home, shell, mail) given by their
// bytes, none of them holding a NUL; a text whose data() is null is not copied (it reads "").
int UserAllocTexts(KORVUSER **ppUser, const std::string_view texts[6], int uid, int gid, int expireDay,
                   int cannotChangePasswd, int privilege);

using korv::AccountFields;
using korv::FieldInt;
using korv::FieldNumber;

// The passwd record split into the platform's entry, held in one buffer grown with
// KORVCheckAndRealloc (*ppBuf points at the struct passwd). 0, or -1 (0x4000 not 7 fields,
// 0x1A00 an empty name).
int UserDBPasswdUnpack(const char *line, void **ppBuf, int *pcbBuf);
// The same for a shadow record (struct spwd; empty numeric fields read -1). 0x4000 unless 9 fields.
int UserDBShadowUnpack(const char *line, void **ppBuf, int *pcbBuf);

// Loads every line of path that is no comment into store, keyed by the upper-cased text before
// the first delimiter. 0, or -1.
int UserDBGetLineBuild(KORVBDB *store, const char *path, const char *delimiters);
// Loads the domain users into the name store when samba runs in domain mode. 0, or -1.
int UserDBDomainBuild(KORVBDB *nameStore);
// Stores the text files' modification times as the stores' sync times. 0, or -1.
int UserDbConfSyncTimeSet(KORVUSERDB *set);

// Visits the records of the name store in key order, markers skipped, with each key and the line
// stored under it (up to a NUL); visit returns 0, or -1 to stop. 0, or -1 (visit's failure, or
// 0x9800 when the store cannot be walked, recorded at loc).
int UserNameWalk(KORVUSERDB *set, const std::function<int(const void *key, int keyLen, const std::string &line)> &visit,
                 std::source_location loc = std::source_location::current());

// The account files in the order the dump puts them in place.
extern const korv::AccountFile kRenameFiles[4];

// The dump's temporary files put in place (smbpasswd, shadow, passwd, korvuser.conf), and removed.
int USERIRenameTmpFiles(void);
int USERIRemoveTmpFiles(void);

// The normaliser behind the valid-user-list functions: the kept names of the array into *ppOut.
int UserValidUserListBuild(char **names, char **ppOut, int *pcbOut, KORVGROUPDB *groups, KORVUSERDB *users);

// Adds a domain user name once: 1 added, 0 skipped (a local name, or seen), -1.
int UserPushDUser(const char *name, PKORLSZLIST *pList, PKORLSZHASH *pSeen);

}  // namespace korv::user
