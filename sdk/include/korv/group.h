/* Groups: the group record, the group database (three record stores under /tmp that cache
 * /etc/group and /etc/group_desc) and the public group functions. */
#ifndef KORV_GROUP_H
#define KORV_GROUP_H

#include <grp.h>

#include "korv/bdb.h"
#include "korv/list.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Codes of the group module. */
#define KORV_ERR_GROUP_INVALID_NAME 0x1600
#define KORV_ERR_GROUP_EXISTS       0x1700
#define KORV_ERR_GROUP_NOT_FOUND    0x1800
#define KORV_ERR_GROUP_NO_FREE_GID  0x1900
#define KORV_ERR_GROUP_SYSTEM       0xB700 /* a group with a gid below 65536 cannot be deleted */

/* Kinds of group, also the kind mask of KORVGroupDBGetByCursor. */
#define KORV_GROUP_TYPE_LOCAL  1
#define KORV_GROUP_TYPE_DOMAIN 2 /* the name holds a backslash */

/* New groups get gids from KORV_GROUP_GID_FIRST to KORV_GROUP_GID_LAST; groups below the first
 * are system groups, never deleted or renamed. */
#define KORV_GROUP_GID_FIRST 65536
#define KORV_GROUP_GID_LAST  95536

#define KORV_GROUP_NAME_MAX 15 /* characters */

/* The mail group that the reserved accounts belong to. */
#define KORV_SMMSP_GROUP "smmsp"
#define KORV_SMMSP_GID   25

/* KORVSmmspGroupSet modes. */
#define KORV_SMMSP_ADD    1
#define KORV_SMMSP_RENAME 2
#define KORV_SMMSP_REMOVE 3

/* The text files and the stores. */
#define KORV_GROUP_FILE         "/etc/group"
#define KORV_GROUP_DESC_FILE    "/etc/group_desc"
#define KORV_DOMAIN_GROUP_FILE  "/usr/korv/etc/private/domain_group"
#define KORV_GROUP_DB_PREFIX    "/tmp/.db.group"

/*
 * One heap block: this header, the member pointer array (NULL-terminated), the name and the
 * member texts, every pointer into the block itself. Released with KORVGroupFree.
 */
typedef struct _tag_KORVGROUP_ {
    char *szName;       /* as stored, letter case kept */
    int gid;            /* -1 for a domain group */
    char **ppszMembers; /* NULL-terminated */
    int groupType;      /* KORV_GROUP_TYPE_* */
    int cbAlloc;        /* bytes of the block, kept for its reuse */
} KORVGROUP;

/* The three stores: the group line by upper-cased name, the upper-cased name by "%06d" of the gid
 * (with duplicates), and the description line by upper-cased name. */
typedef struct _tag_KORVGROUPDB_ {
    KORVBDB *pGRPName;
    KORVBDB *pGRPGID;
    KORVBDB *pGRPDesc;
} KORVGROUPDB;

/* Builds or refills *pp (NULL for a new block) from a name, a gid and a NULL-terminated member
 * array; "nobody" and empty members are left out. Texts inside the block itself are refused
 * (0x0D00), since it may move. 0, or -1. */
int KORVGroupAlloc2(KORVGROUP **pp, const char *name, int gid, char **members);
/* A new record from a line of /etc/group, or NULL. */
KORVGROUP *KORVGroupAlloc(const char *line);
void KORVGroupFree(KORVGROUP *group);
/* The record of a line "name:password:gid:members" into *pp: 0, or -1 (0x4000 not 4 fields,
 * 0x1600 an empty name). */
int KORVGroupDBUnpack(const char *line, KORVGROUP **pp);
/* The /etc/group line of the platform's entry, its members normalised, into *ppLine (grown,
 * *pcbLine its size): its length + 1, or -1. */
int KORVGroupDBPackFromUnix(const struct group *gr, char **ppLine, int *pcbLine);
/* Fills the platform's entry with pointers into the record (password "x"): 0, or -1. */
int KORVGroupToUnixGroup(const KORVGROUP *group, struct group *gr);
/* 1 when name is a valid group name, else 0. */
int KORVGroupIsValidName(const char *name);
/* 0 for NULL, KORV_GROUP_TYPE_DOMAIN when the name holds a backslash, else KORV_GROUP_TYPE_LOCAL. */
int GroupNameTypeGet(const char *name);

/*
 * The database. Its callers hold lock_pw and lock_gr (shared to read; exclusive, with lock_smb,
 * to change). A name given as a key is upper-cased; its length is without the NUL.
 */
/* Opens the stores prefix + ".name.0947", ".id.0947", ".desc.0947"; when one is missing or is no
 * B-tree file the set is built anew from the text files. 1 built, 0 opened, -1. */
int KORVGroupDBOpenFile(KORVGROUPDB **ppSet, const char *prefix);
/* The live set, checked against its text files when it was not just built; NULL on failure. */
KORVGROUPDB *KORVGroupDBOpen(void);
void KORVGroupDBClose(KORVGROUPDB *set);
/* 0 fresh, 1 rebuilt or reopened (*ppSet replaced), -1. */
int KORVGroupDBCheckAndRebuild(KORVGROUPDB **ppSet);
/* Builds the stores anew from the text files and puts them in place: 0, or -1. */
int KORVGroupDBRebuild(void);
/* Fills the open stores of a new set from the text files: 0, or -1. */
int KORVGroupDBBuild(KORVGROUPDB *set);
/* Creates (oldUpperName NULL) or replaces the group oldUpperName (a rename when the name
 * differs). The new line and description are made before anything is removed; only the old
 * group's own records go, never those of groups sharing its gid. A system group keeps its id
 * record and can only be updated under its own name, "users" not at all. 0, or -1 (0x1600,
 * 0x0D00 a name whose key does not fit, 0xB700, ...). */
int KORVGroupDBSet(KORVGROUPDB *set, const char *oldUpperName, int oldUpperLen, KORVGROUP *group);
/* Removes the group's name, description and its own id record: 0, or -1 (0x1800, 0xB700). */
int KORVGroupDBDelete(KORVGROUPDB *set, const char *upperName, int upperLen);
/* 1 when the group exists (its stored name copied into outName when given), else 0 (0x1800). */
int KORVGroupDBCheckExists(KORVGROUPDB *set, const char *upperName, int upperLen, char *outName, int outSize);
/* The next group of the kinds in kindMask into *pp; without includeSystem local groups below gid
 * 65536 but "users" are passed over. 0, or -1 (0xB500 at the end). */
int KORVGroupDBGetByCursor(KORVGROUPDB *set, KORVGROUP **pp, int kindMask, int includeSystem);
/* Writes /etc/group and /etc/group_desc anew from the stores: 0, or -1 with both files as they
 * were when anything fails before the renames. */
int KORVGroupDBDump(KORVGROUPDB *set);
/* The first free gid after the last one handed out, within 65536..95536; -1 (0x1900 none). */
int KORVGroupGetFreeGid(KORVGROUPDB *set);

/*
 * Public group functions; each takes the named locks it needs.
 */
/* The group of that name (any letter case) into *pp, under lock_pw and lock_gr shared: 0, or -1
 * (0x1800 no such group). */
int KORVGroupGet(const char *name, KORVGROUP **pp);
/* Creates (oldName NULL), updates or renames a group under lock_pw, lock_gr and lock_smb
 * exclusive and publishes /etc/group; a gid of -1 asks for a free one, written back into the
 * record. A rename also renames the group in every share's user lists and rewrites smb.conf.
 * 0, or -1 (0x1700 exists, 0x1800 not found, ...). */
int KORVGroupSet(const char *oldName, KORVGROUP *group);
/* Adds newName (mode 1), renames name to newName (2) or removes name (3) among the members of the
 * group "smmsp" (gid 25, created when missing). 0, or -1. */
int KORVSmmspGroupSet(const char *name, const char *newName, int mode);
/* Pushes the group's members onto *pList (every local user for "users"): 0, or -1. */
int KORVGroupListMember(const char *group, PKORLSZLIST *pList);

#ifdef __cplusplus
}
#endif

#endif
