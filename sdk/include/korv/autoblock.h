/* Auto-block: the settings in "/etc/korvinfo.conf" and the block list "/etc/korvIPs.deny" of
 * client addresses that failed to log in too often. */
#ifndef KORV_AUTOBLOCK_H
#define KORV_AUTOBLOCK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define KORV_AUTOBLOCK_LIST     "/etc/korvIPs.deny"
#define KORV_AUTOBLOCK_LIST_TMP "/etc/korvIPs.deny.tmp"

/* Size of one stored record: the time (32-bit little-endian) and the IPv4 address (4 bytes in
 * network order). Bytes after the last whole record are ignored. */
#define KORV_AUTOBLOCK_REC_SIZE 8
/* The scan maps the list this many bytes at a time. */
#define KORV_AUTOBLOCK_WINDOW   65536

/* Event code written when an address is blocked. */
#define KORV_EVENT_AUTOBLOCK_ADD 0x12A00003u

typedef struct _tag_KORVAUTOBLOCKCONF_ {
    int attempts;    /* "autoblock_attempts" */
    int attemptMin;  /* "autoblock_attempt_min": minutes in which the attempts must fall */
    int expireDays;  /* "autoblock_expriedday": 0 never */
    int notify;      /* "autoblock_notify" "yes": 1, else 0 */
} KORVAUTOBLOCKCONF;

/* One record as it lies in the file (read its fields with the helpers below). */
typedef struct _tag_KORVAUTOBLOCKREC_ {
    uint8_t time[4]; /* seconds since 1970, unsigned, little-endian; 0: empty */
    uint8_t addr[4]; /* as inet_aton stores it; 0: empty */
} KORVAUTOBLOCKREC;

static inline uint32_t KORVAutoBlockRecTime(const KORVAUTOBLOCKREC *rec)
{
    return (uint32_t)rec->time[0] | (uint32_t)rec->time[1] << 8 | (uint32_t)rec->time[2] << 16 |
           (uint32_t)rec->time[3] << 24;
}

/* The address in network order, as struct in_addr's s_addr holds it. */
static inline uint32_t KORVAutoBlockRecAddr(const KORVAUTOBLOCKREC *rec)
{
    uint32_t a;
    __builtin_memcpy(&a, rec->addr, sizeof a);
    return a;
}

/* A callback of the scan: an output descriptor, the record inside the mapping and the caller's
 * argument. 1 stops the scan; a negative result ends it as a failure (0x0B00). */
typedef int (*KORVAUTOBLOCKCB)(int fd, KORVAUTOBLOCKREC *rec, void *arg);

/* Scan kinds. */
#define KORV_AUTOBLOCK_SCAN_CALLBACK     0 /* the record's own callback */
#define KORV_AUTOBLOCK_SCAN_COPY_UNLESS  1 /* copy to fd unless the address is *(uint32_t *)arg */
#define KORV_AUTOBLOCK_SCAN_COPY_UNLISTED 2 /* copy unless in the 0-terminated uint32_t array arg */
#define KORV_AUTOBLOCK_SCAN_CLEAR        3 /* zero matching records in the file (read-write, shared) */
#define KORV_AUTOBLOCK_SCAN_MATCH        4 /* stop with 1 at the first match */

typedef struct _tag_KORVAUTOBLOCKSCAN_ {
    int prot;             /* as for mmap */
    int flags;            /* as for mmap */
    int kind;             /* 0 to 4 */
    int lockOp;           /* flock operation */
    int openFlags;        /* open(2) flags */
    int size;             /* bytes of the file to scan, above 0 */
    int offset;           /* records ending before it are skipped */
    unsigned int now;     /* current time, seconds */
    unsigned int expiry;  /* seconds a record lives, 0 for ever */
    const char *path;
    KORVAUTOBLOCKCB callback; /* kind 0 */
} KORVAUTOBLOCKSCAN;

/* Reads the settings under lock_korvinfo (shared): 0, or -1. */
int KORVAutoBlockConfGet(KORVAUTOBLOCKCONF *conf);
/* Writes the settings under lock_korvinfo (exclusive) and sends ftpd HUP: 0, or -1. */
int KORVAutoBlockConfSet(const KORVAUTOBLOCKCONF *conf);
/* Blocks a dotted IPv4 address now: the list is rewritten with its live records of other
 * addresses and the new one at the end, an event is written and, when notify is on, a mail sent.
 * Adds of several processes wait for each other. 0, or -1 with the list as it was. */
int KORVAutoBlockIPAdd(const char *address);
/* Walks the live records of a list through the kind's callback: 1 when a callback stopped it,
 * 0 at the end, -1. */
int AutoBlockIMmapProcess(const KORVAUTOBLOCKSCAN *scan, int fd, void *arg);
/* Opens path (mode 0666, no umask) and flocks it, 30 tries a second apart: the descriptor, or -1
 * (0x0700 when it does not exist, 0x0400 after the tries). */
int KORVAutoBlockFileOpen(const char *path, int openFlags, int lockOp);
/* Unlocks and closes; nothing for a negative descriptor. */
void KORVAutoBlockFileClose(int fd);
/* Sends HUP to ftpd. */
void KORVAutoBlockServicesHup(void);

#ifdef __cplusplus
}
#endif

#endif
