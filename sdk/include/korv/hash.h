/* String hash: a map from text keys to text values held, with copies of all its texts, in one heap
 * block. Walks visit the slots in index order, and that order reaches the files the library writes. */
#ifndef KORV_HASH_H
#define KORV_HASH_H

#include <stdint.h>
#include <stdio.h>

#include "korv/list.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Slots of a hash from PshKORLSzHashAlloc, and its smallest pool. */
#define KORL_SZHASH_DEFAULT_SLOTS  31
#define KORL_SZHASH_MIN_POOL       512

/*
 * The block: this header of five 32-bit words, nSlot slot pairs, then the pool of cbPool bytes, so
 * 20 + 8 x nSlot + cbPool bytes on every build. It is position-independent: where the device holds
 * pointers it holds 32-bit offsets from the block start, 0 standing for a null pointer.
 * A slot is empty when both offsets are 0, in use when key is set, a tombstone when only value is.
 */
typedef struct _tag_KORLSZHASHSLOT_ {
    int32_t key;   /* offset of the key copy, 0 when none */
    int32_t value; /* offset of the value copy, 0 when none */
} KORLSZHASHSLOT;

typedef struct _tag_KORLSZHASH_ {
    int32_t cbPool;     /* capacity of the string pool */
    int32_t cbPoolFree; /* pool bytes not yet used */
    int32_t nSlot;      /* number of slots */
    int32_t nUsed;      /* slots holding a key */
    int32_t pPoolNext;  /* offset of the next free pool byte */
} KORLSZHASH, *PKORLSZHASH;

/* Slot i (0 to nSlot - 1) of a hash, for callers that walk the slots in order. */
static inline KORLSZHASHSLOT *KORLSzHashSlot(PKORLSZHASH hash, int i)
{
    return (KORLSZHASHSLOT *)((char *)hash + sizeof(KORLSZHASH)) + i;
}
/* Key of slot i, or NULL when the slot holds none. */
static inline char *SzKORLSzHashSlotKey(PKORLSZHASH hash, int i)
{
    int32_t off = KORLSzHashSlot(hash, i)->key;
    return off ? (char *)hash + off : (char *)0;
}
/* Value of slot i when it holds a key, else NULL. */
static inline char *SzKORLSzHashSlotValue(PKORLSZHASH hash, int i)
{
    KORLSZHASHSLOT *slot = KORLSzHashSlot(hash, i);
    return slot->key ? (char *)hash + slot->value : (char *)0;
}

/* Empty hash of 31 slots and a pool of max(size, 512) bytes, or NULL (0x0200). */
PKORLSZHASH PshKORLSzHashAlloc(int size);
/* Empty hash of exactly slots (at least 2) and pool bytes, or NULL (0x0D00, 0x0200). */
PKORLSZHASH PshKORLSzHashAllocator(int slots, int pool);
void KORLSzHashFree(PKORLSZHASH hash);

/* Sets key to value; the hash may be rebuilt and is then stored back through phash.
 * The key's slot index, or -1. */
int KORLSzHashSetValue(PKORLSZHASH *phash, const char *key, const char *value);
/* The stored value, or NULL. */
char *SzKORLSzHashGetValue(PKORLSZHASH hash, const char *key);
/* Removes key; its value (still in the pool until a rebuild or clear), or NULL. */
char *SzKORLSzHashRemoveKey(PKORLSZHASH hash, const char *key);
/* Removes every key; the slot count stays. */
void KORLSzHashClear(PKORLSZHASH hash);
/* Number of keys; pushes copies of them in slot order onto *plist when plist is not NULL. -1 on failure. */
int KORLSzHashEnumKey(PKORLSZHASH hash, PKORLSZLIST *plist);

/* Writes "[section]\n" (when section is not NULL) and every entry in slot order with format
 * (NULL means "%s=%s\n"; key then value). 0, or -1 (0x0D00 bad format, 0x0B00 write failed). */
int KORLSzHashFileHash2File(FILE *stream, const char *section, PKORLSZHASH hash, const char *format);
/* 1 when format (or NULL) is a key line format: "%s", "=", "%s" and a newline in that order, and no
 * conversion other than those two "%s"; else 0. */
int HashFileFormatCheck(const char *format);

#ifdef __cplusplus
}
#endif

#endif
