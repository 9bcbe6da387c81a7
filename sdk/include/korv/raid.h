/* Device model tests, RAID (md) arrays and disk partitions. */
#ifndef KORV_RAID_H
#define KORV_RAID_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define KORV_ERR_RAID_NOT_MD   0xBE00 /* the path does not read as "/dev/md%d" */
#define KORV_ERR_RAID_NO_DEV   0x9900 /* a member directory without "dev-" in its name */

/* KORVRAIDINFO.level */
#define KORV_RAID_LEVEL_UNKNOWN 0
#define KORV_RAID_LEVEL_0       1
#define KORV_RAID_LEVEL_1       2
#define KORV_RAID_LEVEL_5       3
#define KORV_RAID_LEVEL_6       4
#define KORV_RAID_LEVEL_LINEAR  5

/* KORVRAIDINFO.status */
#define KORV_RAID_STATUS_NORMAL   1
#define KORV_RAID_STATUS_DEGRADED 2
#define KORV_RAID_STATUS_CRASHED  3

/* KORVRAIDDISK.state */
#define KORV_RAID_DISK_IN_SYNC     0
#define KORV_RAID_DISK_FAULTY      1
#define KORV_RAID_DISK_ERROR       2
#define KORV_RAID_DISK_SPARE       3 /* a spare holding a slot */
#define KORV_RAID_DISK_SPARE_NONE  4 /* a spare with slot "none" */

/* KORVRAIDREBUILD.state */
#define KORV_RAID_REBUILD_NONE     0
#define KORV_RAID_REBUILD_RUNNING  1
#define KORV_RAID_REBUILD_PENDING  2

/* The md driver's array description (GET_ARRAY_INFO): eighteen signed 32-bit words. */
typedef struct {
    int32_t version[3];
    int32_t ctime;
    int32_t level;          /* -1 linear, 0, 1, 4, 5, 6, 10 ... */
    int32_t sizeKiB;
    int32_t nrDisks;
    int32_t raidDisks;
    int32_t other[10];
} KORVMDARRAYINFO;

typedef struct {
    int state;              /* KORV_RAID_REBUILD_* */
    int done;               /* as the kernel reports them; 0 unless running */
    int total;
} KORVRAIDREBUILD;

/* One member of an array; a singly linked list. */
typedef struct KORVRAIDDISK {
    char path[128];         /* "/dev/" and the member's name */
    int state;              /* KORV_RAID_DISK_* */
    struct KORVRAIDDISK *next;
} KORVRAIDDISK;

typedef struct {
    int mdIndex;
    int diskLetter;         /* -1, or the letter of the first member "/dev/sdXY" ('a' gives 0) */
    char szPath[128];
    int level;              /* KORV_RAID_LEVEL_* */
    int status;             /* KORV_RAID_STATUS_* */
    KORVRAIDREBUILD rebuild;
    uint64_t sizeBytes;     /* the array device's size (BLKGETSIZE64) */
    int64_t arrayBytes;     /* the md driver's size in KiB, times 1024 */
    int raidDisks;
    KORVRAIDDISK *disks;    /* owned by the record */
} KORVRAIDINFO;

#ifdef __cplusplus
static_assert(sizeof(KORVMDARRAYINFO) == 72, "md array description is 72 bytes");
#else
_Static_assert(sizeof(KORVMDARRAYINFO) == 72, "md array description is 72 bytes");
#endif

/* 1 on a junior model (its own flash layout), else 0. */
int KORVIsJuniorModel(void);
/* 1 when the factory setting "supportraid" begins with "yes" in any case, else 0. */
int KORVConfSupportRaid(void);

/* Size in sectors of partition `partition` of `disk` ("hda" or "/dev/hda"), with its start
 * sector and type id; -1 on any failure, the outputs then untouched. */
int64_t RCPartitionConfigs(int partition, const char *disk, unsigned int *start, unsigned int *typeId);

/* 1 with a new record in *info; 0 when the array does not run; -1 on failure. */
int KORVRaidInfoGet(const char *mdPath, KORVRAIDINFO **info);
void KORVRaidInfoFree(KORVRAIDINFO *info);

int KORVRaidIoctlInfo(int fd, KORVMDARRAYINFO *out);
int KORVRaidIoctlSize(int fd, uint64_t *bytes);
int KORVRaidRebuildStatusGet(int fd, KORVRAIDREBUILD *out);
int KORVRaidDecideStatus(const KORVMDARRAYINFO *array, const KORVRAIDDISK *disks, int *status);

/* The members under "/sys/block/md%d/md/dev-*", in the reverse of their sorted order. */
int KORVRaidDiskListGet(const char *mdPath, KORVRAIDDISK **disks);
void KORVRaidDiskListFree(KORVRAIDDISK *disks);
int KORVRaidDiskCreate(const char *memberDir, KORVRAIDDISK **disk);
void RaidDiskListPush(KORVRAIDDISK **head, KORVRAIDDISK *disk);
/* The first line of a file, at most size - 1 bytes, its LF kept when it fits: 0, or -1. */
int RaidDiskFileReadLine(const char *path, char *buffer, int size);

#ifdef __cplusplus
}
#endif

#endif
