/* Record store: B-tree files of the Berkeley DB 1.85 interface, with one cursor per handle and the
 * marker keys by which a store remembers when it was built and whether it was replaced. */
#ifndef KORV_BDB_H
#define KORV_BDB_H

#ifdef __cplusplus
extern "C" {
#endif

/* Cursor types of KORVBDbCursorSetType. */
#define KORV_BDB_CURSOR_SET_RANGE 1 /* the first key >= the caller's key */
#define KORV_BDB_CURSOR_FIRST     2
#define KORV_BDB_CURSOR_LAST      3
#define KORV_BDB_CURSOR_NEXT      4 /* the type of a new handle */
#define KORV_BDB_CURSOR_PREV      5

/* Marker keys and their lengths: the first three and the id markers carry no NUL,
 * "#KORV@DEPRECATED" carries its NUL. Each holds one 32-bit little-endian word. */
#define KORV_BDB_KEY_SYNC_TIME        "#KORV@SYNC@TIME"
#define KORV_BDB_KEY_SYNC_TIME_LEN    15
#define KORV_BDB_KEY_EXPIRE_TIME      "#KORV@EXPIRE@TIME"
#define KORV_BDB_KEY_EXPIRE_TIME_LEN  17
#define KORV_BDB_KEY_DEPRECATED       "#KORV@DEPRECATED"
#define KORV_BDB_KEY_DEPRECATED_LEN   17
#define KORV_BDB_KEY_CURRENT_UID      "#CURRENT_UID"
#define KORV_BDB_KEY_CURRENT_GID      "#CURRENT_GID"
#define KORV_BDB_KEY_CURRENT_ID_LEN   12

/* Domain entries are stale this many seconds after they were loaded. */
#define KORV_BDB_DOMAIN_EXPIRE_SECONDS 300

/* A store whose file is smaller than this is rebuilt by its set's check. */
#define KORV_BDB_MIN_STORE_SIZE 8192

/* One open store. */
typedef struct _tag_KORVBDB_ {
    void *pDb;      /* the Berkeley DB handle */
    int cursorType; /* KORV_BDB_CURSOR_*, NEXT after opening */
} KORVBDB;

/*
 * Results are 0 and -1 unless said otherwise; failures record a library error code.
 * Buffers handed back (ppData, ppKey) are heap buffers owned by the caller, passed by address with
 * an int holding their size (NULL and 0 to start); they are grown as needed and the int then
 * holds the byte count of the item copied. Free them with KORVBDbFree.
 * Keys beginning with "#" are markers: setting one replaces every earlier record of it.
 */

/* openFlags: O_RDWR, O_RDWR | O_CREAT, or with O_EXCL too (a name already taken is refused).
 * A store file is never reached through a symbolic link and must be a regular file (0x0900).
 * NULL on failure: 0x0700 missing, 0xB100 not a B-tree file (an empty file too), 0x0300, 0x2900,
 * 0x0900. */
KORVBDB *KORVBDbOpen(const char *path, int openFlags, int allowDup);
/* Frees the handle even when the close fails (logged); -1 only for a null handle. */
int KORVBDbClose(KORVBDB *h);
/* 0 with the value copied; -1 (0x2000 absent, 0x0D00, 0x6C00, 0xAA00, 0xB200). */
int KORVBDbGet(KORVBDB *h, const void *key, int keyLen, void **ppData, int *pcbData);
/* In a store with duplicates an ordinary key gets one more record. Lengths must be above 0. */
int KORVBDbSet(KORVBDB *h, const void *key, int keyLen, const void *data, int dataLen);
/* Removes every record of the key; -1 with 0x2000 when there is none. */
int KORVBDbDelete(KORVBDB *h, const void *key, int keyLen);
int KORVBDbCursorSetType(KORVBDB *h, int type);
/* Reads at the cursor and copies key and value; skipMarkers 1 passes over "#" keys. For the
 * set-range type *ppKey and *pcbKey hold the key to position at. -1 with 0xB500 at the end. */
int KORVBDbCursorGet(KORVBDB *h, int skipMarkers, void **ppKey, int *pcbKey, void **ppData, int *pcbData);
void KORVBDbFree(void *buffer);

/* The paired text file's modification time. Get hands back a new 4-byte buffer holding the int. */
int KORVBDbConfSyncTimeSet(KORVBDB *h, int time);
int KORVBDbConfSyncTimeGet(KORVBDB *h, void **ppValue);
/* 1 when the stored sync time differs from mtime, 0 when equal, -1 when it cannot be read. */
int KORVBDbIsNeedToRebuild(KORVBDB *h, int mtime);
/* 1 once a rebuild has renamed a new file over this store's name, else 0. Get: -1 when unreadable. */
int KORVBDbDeprecatedSet(KORVBDB *h, int flag);
int KORVBDbDeprecatedGet(KORVBDB *h);
/* The time domain entries were loaded: Set stores time(NULL). */
int KORVBDbDomainExpireTimeSet(KORVBDB *h);
int KORVBDbDomainExpireTimeGet(KORVBDB *h, void **ppValue);
/* 1 when no load time is stored or it lies more than 300 seconds away (a future time counts as
 * expired), else 0 (also when it cannot be read, and 0x0D00 for a null handle). */
int KORVBDbDomainIsNeedToRebuild(KORVBDB *h);

/* Grows *ppData to cbNeed bytes: a new block is zeroed, a grown one is not; *pcbAlloc records the
 * size. 0, or -1 (0x0D00 bad arguments, 0x0200 out of memory: then *ppData is NULL, the old block
 * freed). */
int KORVCheckAndRealloc(void **ppData, int *pcbAlloc, int cbNeed);

#ifdef __cplusplus
}
#endif

#endif
