// What the group functions of this folder share: the set's description, keys and stored lines,
// and the internal steps of the build, the set and the dump.
#pragma once

#include <stdio.h>

#include <string>

#include "korv/group.h"
#include "korv_account_store.h"
#include "korv_bdb.h"
#include "korv_records.h"
#include "korv_store_set.h"
#include "korv_upper_key.h"

namespace korv::group {

extern const korv::bdb::SetSpec kGroupSet;

constexpr const char *kGidIndexName = "_@GID__INDEX@_";
constexpr const char *kGroupTemp = "/etc/group_tmp";
constexpr const char *kGroupDescTemp = "/etc/group_desc.tmp";

// The fixed buffers the upper-cased names are formed in (their NUL included): group lines of the
// build and of the set, description lines, domain groups, and the public lookups.
constexpr size_t kLineKeySize = 129;
constexpr size_t kDescKeySize = 128;
constexpr size_t kDomainKeySize = 256;
constexpr size_t kLookupKeySize = 128;

using korv::bdb::IdKey;
using korv::bdb::LookupLine;
using korv::bdb::ReadLine;
using korv::bdb::RemoveKey;
using korv::bdb::StoreLine;

// Whether a gid is a system group's: below 65536, compared unsigned (a domain group's -1 is not).
inline bool IsSystemGid(int gid)
{
    return static_cast<unsigned>(gid) < KORV_GROUP_GID_FIRST;
}

// 1 when p lies within the record's block, both ends included; 0 otherwise or for null arguments.
int GroupAllocIsInside(const KORVGROUP *group, const void *p);

// Loads the domain groups into the name store when samba runs in domain mode. 0, or -1.
int GroupDBDomainBuild(KORVBDB *nameStore);
// Stores the modification times of /etc/group (name and id stores) and /etc/group_desc
// (description store) as the stores' sync times, from the streams given or the files. 0, or -1.
int GroupDbConfSyncTimeSet(KORVGROUPDB *set, FILE *group, FILE *desc);

// The dump's temporary files put in place ("/etc/group" first) and removed.
int GROUPIRenameTempFiles(void);
int GROUPIRemoveTempFiles(void);

// Replaces the first entry "@oldGroup" of a "," separated list by "@newGroup": 1 replaced (*ppOut a
// new heap buffer, freed by the caller), 0 nothing to replace (*ppOut = list), -1 (*ppOut stays
// null).
int ReplaceGrpInString(const char *list, char **ppOut, const char *oldGroup, const char *newGroup);

}  // namespace korv::group
