/* Shares: the share record, the share database (a record store under /tmp that caches smb.conf),
 * smb.conf built into it and written from it. */
#ifndef KORV_SHARE_H
#define KORV_SHARE_H

#include <stdio.h>

#include "korv/bdb.h"
#include "korv/list.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Codes of the share module. */
#define KORV_ERR_SHARE_INVALID_NAME  0x1200
#define KORV_ERR_SHARE_EXISTS        0x1300
#define KORV_ERR_SHARE_NOT_FOUND     0x1400
#define KORV_ERR_SHARE_SECTION_TYPE  0x2200 /* unexpected section type */
#define KORV_ERR_SHARE_PATH          0x9900 /* the path is not absolute */
#define KORV_ERR_SHARE_PERMISSION    0xB600 /* bad permission type */

/* Default permissions (fType). */
#define KORV_SHARE_NO_ACCESS  4 /* guest ok no, writeable no */
#define KORV_SHARE_READ_WRITE 2 /* guest ok yes, writeable yes */
#define KORV_SHARE_READ_ONLY  1 /* guest ok yes, writeable no */

/* ftpFlags bits. */
#define KORV_SHARE_FTP_NO_LIST     0x1
#define KORV_SHARE_FTP_NO_MODIFY   0x2
#define KORV_SHARE_FTP_NO_DOWNLOAD 0x4

/* Share kinds, a bit mask. */
#define KORV_SHARE_KIND_ORDINARY 1
#define KORV_SHARE_KIND_USB      2
#define KORV_SHARE_KIND_SATA     4

#define KORV_SHARE_NAME_MAX 32 /* characters */

#define KORV_SHARE_DB_FILE "/tmp/.db.korvshare.0947"

/*
 * One heap block: this header, then the six strings it points to, packed downward from the
 * block's end in the order name, comment, path, invalid users, write list, read list. An absent
 * string points at the block's last byte, a NUL. cbAlloc and cbRecord count the block as the
 * device lays it out: a 44-byte header and the strings. Released with KORVShareFree.
 */
typedef struct _tag_KORVSHARE_ {
    char *szName;         /* as written, letter case kept */
    char *szComment;
    char *szPath;         /* begins with "/" */
    char *szInvalidUsers; /* "," separated users and "@" groups refused access */
    char *szWriteList;    /* with write access */
    char *szReadList;     /* with read access */
    int fType;            /* KORV_SHARE_NO_ACCESS, _READ_WRITE or _READ_ONLY */
    int browseable;       /* 1 listed to clients, 0 hidden */
    int ftpFlags;         /* KORV_SHARE_FTP_* */
    int cbAlloc;
    int cbRecord;
} KORVSHARE;

/* The share database: one record store, NULL before opening. */
typedef struct _tag_KORVSHAREDB_ {
    KORVBDB *pShare;
} KORVSHAREDB;

/* What an enumeration calls: init (non-zero stops the walk before it starts) and fini are both
 * given or both NULL; filter returns 0 to take a share. */
typedef struct _tag_KORVSHAREENUMCB_ {
    int (*init)(const struct _tag_KORVSHAREENUMCB_ *callbacks, void *initArg);
    int (*filter)(const struct _tag_KORVSHAREENUMCB_ *callbacks, const KORVSHARE *share, int filterArg);
    void (*fini)(const struct _tag_KORVSHAREENUMCB_ *callbacks);
} KORVSHAREENUMCB;

/* A new record from the first nine fields of in, or NULL (0x0D00, 0x1200 bad name, 0x9900 a path
 * not beginning with "/"; 0x0D00 also for CR or LF in any text, which could not stand in
 * smb.conf). */
KORVSHARE *KORVShareAlloc(const KORVSHARE *in);
void KORVShareFree(KORVSHARE *share);
/* The stored form (32-bit little-endian words, offsets counted from byte 4) in a new heap buffer
 * that the caller frees, or NULL. */
void *KORVShareDBPack(const KORVSHARE *share);
/* The record of a stored form into *share (grown as needed; NULL to start), checked first
 * (0x4000 when damaged): 0, or -1. */
int KORVShareDBUnPack(const void *stored, KORVSHARE **share);

/*
 * The database. Callers that change shares hold lock_smb exclusively around open, change, dump
 * and close; readers hold it shared.
 */
/* Opens the store at path; when it is missing or is no B-tree file it is built anew from
 * smb.conf. 1 built, 0 opened, -1. */
int KORVShareDBOpenFile(KORVSHAREDB **db, const char *path);
/* The live database, checked against smb.conf when it was not just built; NULL on failure. */
KORVSHAREDB *KORVShareDBOpen(void);
/* 1 rebuilt or reopened (*db replaced), 0 current, -1. */
int KORVShareDBCheckAndRebuild(KORVSHAREDB **db);
void KORVShareDBClose(KORVSHAREDB *db);
/* The next share into *share (a reused buffer): 0, or -1 (0xB500 at the end). */
int KORVShareDBCursorGet(KORVSHAREDB *db, KORVSHARE **share);
/* Stores a new share (oldName NULL; 0x1300 when its name exists in any letter case) or replaces
 * the share oldName: under the same key in place, under a new key stored first and the old one
 * removed afterwards (0x1300, nothing changed, when the new name belongs to another share).
 * 0, or -1. */
int KORVShareDBSet(KORVSHAREDB *db, const char *oldName, const KORVSHARE *in);
/* 1 when a share is stored under upperName (its name as written copied into storedName when
 * given), else 0 (0x1400). */
int KORVShareDBCheckExists(KORVSHAREDB *db, const char *upperName, int upperLen, char *storedName,
                           int storedNameSize);
/* 0, or -1 (0x2000 when absent). */
int KORVShareDBDelete(KORVSHAREDB *db, const char *name);
/* Pushes the names of the shares that callbacks->filter takes: their number, or -1. */
int KORVShareDBEnumInternal(KORVSHAREDB *db, PKORLSZLIST *list, const KORVSHAREENUMCB *callbacks, void *initArg,
                            int filterArg);
/* 0 when the share is of a kind in kindMask (1 to 7), -1 when not or on a bad argument. */
int KORVShareDBEnumTypeMatched(const KORVSHARE *share, int kindMask);
/* Pushes the names of the shares of the kinds in kindMask onto *list, under lock_smb shared:
 * their number, or -1. */
int KORVShareEnum(PKORLSZLIST *list, int kindMask);
/* 1 or 0 (NULL gives 0). */
int KORVShareIsValidName(const char *name);
int KORVShareIsSataShare(const char *name);
int KORVShareIsUsbShare(const char *name);
/* 1 for the reserved sections "global", "home" and "printers" (any case), 0 for a share, -1 for
 * NULL. */
int KORVShareSectionTypeGet(const char *sectionName);

/*
 * smb.conf and the share database.
 */
/* Fills an open, empty store from smb.conf: 0, or -1. Sections that cannot be stored are logged
 * and left out. */
int KORVShareDBBuild(FILE *smbConf, KORVSHAREDB *db);
/* Writes smb.conf anew from the store: 0, or -1 with smb.conf as it was when anything fails
 * before the rename. The caller holds lock_smb exclusively. */
int KORVShareDBDump(KORVSHAREDB *db);
/* The section name of a header line ("[name]") into name (at most nameSize - 1 bytes): 0, or -1. */
int KORVShareParseSectionName(const char *line, char *name, int nameSize);

#ifdef __cplusplus
}
#endif

#endif
