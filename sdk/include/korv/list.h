/* String list: an ordered array of NUL-terminated texts held, with copies of all its texts, in one
 * heap block that can be stored in a record store as it is. */
#ifndef KORV_LIST_H
#define KORV_LIST_H

#include <stddef.h>
#include <stdint.h>

#include "korv/bdb.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Sort modes. */
#define KORL_SZLIST_UNSORTED  0
#define KORL_SZLIST_SORT      0x01 /* kept sorted by strcmp */
#define KORL_SZLIST_CASESORT  0x10 /* kept sorted by KORLUnicodeUTF8StrCaseCmp */

/* PslKORLSzListOr: build a new list instead of uniting into the first. */
#define KORL_SZLIST_OR_NEW    0x1000

/* Smallest block a list is allocated with. */
#define KORL_SZLIST_MIN_SIZE  512

/*
 * The block's header: six 32-bit words, the same on every build. The block is position-independent:
 * where the device holds pointers, it holds 32-bit offsets from the block start, so that the stored
 * form is a copy of the block. After the header come nItem item offsets (32-bit), growing upward;
 * the string copies are placed downward from the block's end. An item whose offset is pEmpty is a gap.
 * Read items with SzKORLSzListGet; never hold item pointers across a call that may grow the list.
 */
typedef struct _tag_KORLSZLIST_ {
    int32_t cbSize;   /* size of the whole block in bytes */
    int32_t nItem;    /* number of item slots */
    int32_t cbFree;   /* free bytes between the item array and the lowest string byte */
    int32_t sortMode; /* as KORLSzListSort recorded it; kept sorted only in KORL_SZLIST_SORT or _CASESORT */
    int32_t pLow;     /* offset of the lowest string byte; cbSize while no string is stored */
    int32_t pEmpty;   /* offset of the block's last byte (cbSize - 1), always NUL: the shared "" */
} KORLSZLIST, *PKORLSZLIST;

/* The library's realloc: size 0 frees; on failure the old block is freed too and NULL returned. */
void *KORLRealloc(void *block, size_t size);

/* New empty unsorted list of max(size, 512) bytes, or NULL (0x0200). */
PKORLSZLIST PslKORLSzListAlloc(int size);
void KORLSzListFree(PKORLSZLIST list);

/* Item index (a gap reads as ""), or NULL (0x0D00). */
char *SzKORLSzListGet(PKORLSZLIST list, int index);

/* Sorts an unsorted list by bit 0 (strcmp) or else bit 4 (caseless) of mode, then records mode. */
void KORLSzListSort(PKORLSZLIST list, int mode);

/* Growing functions take the list by address and store the moved block there. They return the index
 * where the copy was placed (a sorted list places it itself), or -1. */
int KORLSzListInsert(PKORLSZLIST *plist, int index, const char *s);
int KORLSzListPush(PKORLSZLIST *plist, const char *s);
int KORLSzListUnshift(PKORLSZLIST *plist, const char *s);
/* Replaces item index; the item's index after the change (a sorted list is re-sorted), or -1.
 * Nothing of the old text stays readable in the block: its unused bytes are zeroed. */
int KORLSzListSet(PKORLSZLIST *plist, int index, const char *s);

/* Remove an item and return it; its bytes stay in the block until it grows or is emptied, but
 * are never part of the stored form. */
char *SzKORLSzListRemove(PKORLSZLIST list, int index);
char *SzKORLSzListPop(PKORLSZLIST list);
char *SzKORLSzListShift(PKORLSZLIST list);
void KORLSzListRemoveAll(PKORLSZLIST list);
/* Drops every gap. */
void KORLSzListCompact(PKORLSZLIST list);

/* Index of s, or -1. Find refuses a caseless list, CaseFind a byte-order list (0x0D00). */
int KORLSzListFind(PKORLSZLIST list, const char *s);
int KORLSzListCaseFind(PKORLSZLIST list, const char *s);
/* Bisection of items lo..hi: the index of s, or the bitwise complement of its insertion point. */
int KORLSzListBinarySearch(PKORLSZLIST list, int hi, int lo, const char *s, int caseless);

/* Union of two lists: into *plist (flags 0), or a new list (flags KORL_SZLIST_OR_NEW). NULL on failure. */
PKORLSZLIST PslKORLSzListOr(PKORLSZLIST *plist, PKORLSZLIST other, int flags);
/* The list in a block of twice the size (the old block is freed), or NULL (0x0200, old list intact). */
PKORLSZLIST PslKORLSzListExpand(PKORLSZLIST list);

/* The stored form (32-bit little-endian words and offsets); size must be the list's cbSize.
 * Only the items' strings are stored: all other bytes of the block are stored as zeros.
 * The caller frees the result with free(). */
void *KORVListDBPack(PKORLSZLIST list, int size);
/* A list from a stored form, checked first (0xB100 when damaged), with its sort mode whatever it
 * is; freed with KORLSzListFree. */
PKORLSZLIST KORVListDBUnpack(const void *value, int size);

/* Writes the stored form of list into store under the key "#" + section (bytes a-z upper-cased)
 * + NUL, replacing any earlier value: 0, or -1. */
int KORVListDBSet(KORVBDB *store, const char *section, PKORLSZLIST list);

/* The two sort comparators, over pointers to item pointers (char **). */
int SzListCompare(const void *a, const void *b);
int SzListCaseCompare(const void *a, const void *b);

#ifdef __cplusplus
}
#endif

#endif
