/* User accounts: the user record, the user database (five record stores under /tmp that cache
 * /etc/passwd, /etc/shadow, /etc/korvuser.conf and the SMB password file) and its text files. */
#ifndef KORV_USER_H
#define KORV_USER_H

#include "korv/bdb.h"
#include "korv/group.h"
#include "korv/hash.h"
#include "korv/list.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Codes of the user module. */
#define KORV_ERR_USER_INVALID_NAME 0x1A00 /* also an empty name field in a stored line */
#define KORV_ERR_USER_EXISTS       0x1C00
#define KORV_ERR_USER_NOT_FOUND    0x1D00
#define KORV_ERR_USER_NO_FREE_UID  0x1F00
#define KORV_ERR_USER_ENUM         0x9800 /* the enumeration walk failed */
#define KORV_ERR_USER_SYSTEM       0xB800 /* a system account cannot be deleted */

/* Kinds of user. */
#define KORV_USER_TYPE_LOCAL  1
#define KORV_USER_TYPE_DOMAIN 2

/* KORVUserEnum kinds. */
#define KORV_USER_ENUM_LOCAL       1
#define KORV_USER_ENUM_DOMAIN      2
#define KORV_USER_ENUM_DOMAIN_USED 4 /* domain users named in share write lists */

/* New users get uids from KORV_USER_UID_FIRST to KORV_USER_UID_LAST; uids up to 1024 (1025 with
 * guest support) are system accounts; 1025 is the guest. */
#define KORV_USER_UID_FIRST 1024
#define KORV_USER_UID_LAST  3072
#define KORV_USER_UID_GUEST 1025

#define KORV_USER_NAME_MAX 64 /* characters */

/* The text files and the stores. */
#define KORV_PASSWD_FILE      "/etc/passwd"
#define KORV_SHADOW_FILE      "/etc/shadow"
#define KORV_USER_CONF_FILE   "/etc/korvuser.conf"
#define KORV_SMBPASSWD_FILE   "/usr/korv/etc/private/smbpasswd"
#define KORV_DOMAIN_USER_FILE "/usr/korv/etc/private/domain_user"
#define KORV_USER_DB_PREFIX   "/tmp/.db.user"

/*
 * One heap block: this header, then the strings it points to (name, password, gecos, home, shell,
 * mail, each with its NUL). A string given as NULL points at a NUL inside the block and reads "".
 * Released with KORVUserFree.
 */
typedef struct _tag_KORVUSER_ {
    char *szName;           /* never empty */
    char *szPasswd;         /* read: the crypt hash ("" for a domain user); given: the plain
                               password, or the stored hash unchanged */
    int uid;                /* -1 for a domain user */
    int gid;
    char *szGecos;          /* plain text */
    char *szHomeDir;
    char *szShell;
    int expireDay;          /* days since 1970-01-01; -1 none */
    int cannotChangePasswd; /* 1 or 0 */
    char *szMail;
    int userType;           /* KORV_USER_TYPE_* */
    int privilege;
    int cbAlloc;            /* bytes of the block */
} KORVUSER;

/* The five stores, each keyed by the upper-cased name but the uid store ("%06d" of the uid, with
 * duplicates, holding the upper-cased name). */
typedef struct _tag_KORVUSERDB_ {
    KORVBDB *pPWDName;    /* passwd lines */
    KORVBDB *pPWDUID;
    KORVBDB *pPWDSMB;     /* smbpasswd lines */
    KORVBDB *pPWDKorvser; /* "user_name:user_privilege:user_mail" */
    KORVBDB *pPWDShadow;  /* shadow lines */
} KORVUSERDB;

/* Builds or refills *ppUser (a block of its own, or NULL for a new one). Strings lying inside the
 * block itself are refused (0x0D00), since it may move. 0, or -1. */
int KORVUserAlloc(KORVUSER **ppUser, const char *name, const char *passwd, int uid, int gid, const char *gecos,
                  const char *homeDir, const char *shell, int expireDay, int cannotChangePasswd, const char *mail,
                  int privilege);
/* Any record or buffer that the user functions returned; NULL allowed. */
void KORVUserFree(void *p);

/*
 * The database. Every function but KORVUserEnum and KORVUserGetByUid runs under the caller's
 * lock_pw (shared to read, exclusive to write). A key is an upper-cased user name.
 */
/* Opens the five stores prefix + ".name.0947", ... ; when one is missing or is no B-tree file the
 * set is built anew from the text files. On success the set *ppSet held is closed and replaced.
 * 1 built, 0 opened, -1. */
int KORVUserDBOpenFile(KORVUSERDB **ppSet, const char *prefix);
/* The live set, checked against its text files when it was not just built; NULL on failure. */
KORVUSERDB *KORVUserDBOpen(void);
/* 0 up to date, 1 rebuilt or reopened (*ppSet replaced), -1. */
int KORVUserDBCheckAndRebuild(KORVUSERDB **ppSet);
/* Builds the stores anew from the text files and puts them in place: 0, or -1. */
int KORVUserDBRebuild(void);
void KORVUserDBClose(KORVUSERDB *set);

/* The user's record, assembled from its stores: 0, or -1 (0x1D00 no such user). */
int KORVUserDBGet(KORVUSERDB *set, const char *key, KORVUSER **ppUser);
/* Creates (oldKey NULL) or replaces the records of the user oldKey (a rename when the name
 * differs). Every new line and hash is made before anything is removed. Texts that would break an
 * account line are refused (0x0D00): a byte below 0x20 in gecos, home, shell or mail, ":" in home
 * or shell, a line over 16383 bytes. The record is only read: a null home, shell, password or
 * mail is stored as its default. 0, or -1 (0x1A00, 0x1C00, 0x1D00, ...). */
int KORVUserDBSet(KORVUSERDB *set, const char *oldKey, int oldKeyLen, KORVUSER *user);
/* Removes the user's records (its own uid record only, never those of users sharing the uid):
 * 0, or -1 (0x1D00, 0xB800 a system account). */
int KORVUserDBDelete(KORVUSERDB *set, const char *key);
/* 1 when the user exists (its stored name copied into storedName when given), else 0. */
int KORVUserDBCheckExists(KORVUSERDB *set, const char *key, int keyLen, char *storedName, int cbStoredName);
/* The first free uid after the last one handed out, within 1024..3072; -1 (0x1F00 none). */
int KORVUserGetFreeUid(KORVUSERDB *set);
/* Pushes the names of the kinds asked onto *pList: the domain users named in share write lists
 * first (KORV_USER_ENUM_DOMAIN_USED), then, under lock_pw, the local and domain users. The number
 * added, or -1. */
int KORVUserEnum(PKORLSZLIST *pList, int kindMask);
/* The user with that uid (the first one stored under it), under lock_pw: 0, or -1. */
int KORVUserGetByUid(int uid, KORVUSER **ppUser);

/* 1 when name is a valid user name, else 0. */
int KORVUserIsValidName(const char *name);
/* 1 when passwd holds "$1$" followed by more than nine characters, else 0. */
int KORVUserIsPasswdMD5Encrypt(const char *passwd);
/* MD5 crypt ("$1$") of password. saltSource "" takes a fresh salt from the clock; an MD5 crypt
 * hash gives its own salt again; any other text is the salt after "$1$" (at most 8 bytes, up to a
 * "$"; any other byte is taken). The result lives in a static buffer until the next call; NULL
 * (0x0D00) for null arguments. */
char *SzSDKIWrapMD5Encrypt(const char *password, const char *saltSource);
/* 1 unless "guestsupport" of /etc.defaults/korvinfo.conf is "no"; read once per process. */
int KORVGuestSupport(void);
/* The user's passwd line into *ppLine (grown, *pcbLine its size): its length + 1, or -1. */
int KORVUserDBPack(const KORVUSER *user, char **ppLine, int *pcbLine);

/* Fills the open stores of a new set from the text files: 0, or -1. */
int KORVUserDBBuild(KORVUSERDB *set);
/* Writes the four text files anew from the stores and records their new modification times:
 * 0, or -1 with every file as it was when anything fails before the renames. */
int KORVUserDBDump(KORVUSERDB *set);

/* Carries a batch of user renames (upper-cased old name -> new name, "" to drop the user) into
 * the groups' member lists and publishes /etc/group when one changed: 0, or -1. */
int KORVUserModifyGroup(PKORLSZHASH renames);
/* The same for the shares' user lists, then smb.conf is written anew. A list that cannot be
 * renamed fails the call and keeps its stored text. 0, or -1. */
int KORVUserModifySmbConf(PKORLSZHASH renames);
/* Pushes, once each, the domain users that the shares' write lists name (directly or through a
 * group): their number, or -1. */
int KORVUserPushDUserUsed(PKORLSZLIST *pList);

/*
 * Lookups, lists and counts.
 */
/* One node of the local-user list. */
typedef struct _tag_KORVLOCALUSERINFO_ {
    int uid;
    int gid;
    char *szUserName; /* a heap copy of the name as the passwd record spells it */
    struct _tag_KORVLOCALUSERINFO_ *pNext;
} KORVLOCALUSERINFO;

/* The user's record under lock_pw shared: 0 and a new record (freed with KORVUserFree), or -1.
 * When the lock cannot be released the record is freed and *ppUser set to NULL. */
int KORVUserGet(const char *name, KORVUSER **ppUser);
/* The user's LM and NT hashes, 32 hexadecimal digits each, into buffers of exactly 33 bytes:
 * 0, or -1 with both buffers cleared (0x1D00 no SMB record, 0x4000 a damaged one). */
int KORVUserGetSmbPasswd(const char *name, char *lm, int lmSize, char *nt, int ntSize);
/* The local users from uid 1024 up (1025 only with guest support) in name order into *ppHead:
 * their number, or -1 with *ppHead NULL. */
int KORVLocalUserInfoEnum(KORVLOCALUSERINFO **ppHead);
void KORVLocalUserInfoFree(KORVLOCALUSERINFO **ppHead);
/* 0 for NULL, KORV_USER_TYPE_DOMAIN when the name holds a backslash, else KORV_USER_TYPE_LOCAL. */
int UserNameTypeGet(const char *name);
/* The number of users of the kinds in kindMask (KORV_USER_ENUM_LOCAL, _DOMAIN), or -1. */
int KORVUserTotalNum(int kindMask);
/* "maxaccounts" of /etc.defaults/korvinfo.conf less the users there are (0 without the key), or
 * -1. */
int KORVUserAvailableNum(void);
/* Normalises a list of names typed by an administrator ("," separated; a group written "@name")
 * into *ppOut (grown, *pcbOut its size): "nobody", repeated names and names that exist neither as
 * a user nor as a group dropped, every name in its stored letter case. groups may be NULL (a
 * group name then fails the call, 0x4000). 0, or -1. */
int KORVUserGetValidUserList2(const char *list, char **ppOut, int *pcbOut, KORVGROUPDB *groups, KORVUSERDB *users);
/* The same for a NULL-terminated array of user names, against the live user database. */
int KORVUserGetValidUserList(char **names, char **ppOut, int *pcbOut);
/* Renames the users of a "," separated list by the table (upper-cased old name -> new name; an
 * empty new name drops the user). 1 changed (*ppOut the grown output buffer), 0 unchanged
 * (*ppOut is list itself), -1. */
int KORVUserModifyListConfig(const char *list, char **ppOut, int *pcbOut, PKORLSZHASH renames);

/*
 * Changes: create, update, rename and passwords. Each call takes lock_pw, lock_gr and lock_smb
 * (lock_pw only for the passwords) exclusively, and ends with signal 47 to scemd. The caller's
 * records are never changed.
 */
/* The primary group of a user given gid -1. */
#define KORV_USER_DEFAULT_GID 100

/* Creates (oldNames[i] NULL) or updates, possibly renaming, users[i] for i below n: uid -1 asks
 * for a free uid, gid -1 for group 100; an update's home becomes the default one of its name. A
 * failing entry is logged and skipped. Then the account files are published and the change is
 * carried into smb.conf's share lists, the group members, afpd's guest module, the rsync
 * accounts, the home folders and the FTP chroot list. 0 when an entry took effect and the files
 * and the FTP list were written; -1. */
int KORVUserSetList(const char *const *oldNames, KORVUSER *const *users, int n);
/* KORVUserSetList of one user; a NULL user is 0x0D00. */
int KORVUserSet(const char *oldName, KORVUSER *user);
/* The FTP step of KORVUserSetList: every user renamed by an entry whose flag is set (its store
 * update succeeded) and whose old name is in the FTP chroot list (caselessly) is listed there
 * under the new name instead. 0, or -1. */
int UserSetFTPChroot(const unsigned char *flags, const char *const *oldNames, KORVUSER *const *users, int n);
/* Stores the crypt hash (shadow) and the LM and NT texts (SMB password file) of each named user
 * (only szName of the records is read) and publishes the files. An entry with a hash holding ":",
 * CR or LF, or an LM or NT text that is not 32 hexadecimal digits is skipped (0x0D00, logged).
 * 0 when a user changed; -1. */
int KORVUserSetPasswd(KORVUSER *const *users, const char *const *hashes, const char *const *lm,
                      const char *const *nt, int n);

#ifdef __cplusplus
}
#endif

#endif
