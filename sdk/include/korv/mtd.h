/* Flash (MTD) partitions, the RedBoot flash directory and the flash-mode flag. */
#ifndef KORV_MTD_H
#define KORV_MTD_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One RedBoot flash-directory entry, 256 bytes; stored with little-endian words. */
typedef struct {
    char name[16];          /* NUL-padded */
    uint32_t flash_base;
    uint32_t mem_base;
    uint32_t size;
    uint32_t entry_point;
    uint32_t data_length;
    uint8_t padding[212];   /* carried unchanged */
    uint32_t desc_cksum;
    uint32_t file_cksum;
} KORVMTDFISENTRY;

/* The flash driver's directory update: the entry named `name` gets the three words. */
typedef struct {
    char name[16];          /* at most 15 characters, the rest zero */
    uint32_t flash_base;
    uint32_t size;
    uint32_t data_length;
} KORVMTDFISMOD;

#define KORV_MTD_FIS_ENTRY_SIZE 256
#define KORV_MTD_INFO_SIZE 32

#ifdef __cplusplus
static_assert(sizeof(KORVMTDFISENTRY) == 256, "flash-directory entry is 256 bytes");
static_assert(sizeof(KORVMTDFISMOD) == 28, "directory update is 28 bytes");
#else
_Static_assert(sizeof(KORVMTDFISENTRY) == 256, "flash-directory entry is 256 bytes");
_Static_assert(sizeof(KORVMTDFISMOD) == 28, "directory update is 28 bytes");
#endif

/* Each returns 0 on success and -1 on failure after one syslog line; korverr is left alone. */
int KORVMTDErasePartition(const char *device);
int KORVMTDGetDeviceInfo(const char *device, void *info, unsigned int infoSize);
/* The entry count before the first free entry, or -1; *freeOffset = count * 256.
 * entries null with entriesSize 0 only counts. */
int KORVMTDGetPartitionInfo(const char *device, void *entries, int entriesSize, int *freeOffset);
int KORVMTDLockPartition(const char *device);
int KORVMTDUnlockPartition(const char *device);
/* mode 1 locks, any other mode unlocks. */
int KORVMTDILock(const char *device, int mode);
int KORVMTDModifyPartitionSize(const char *device, unsigned int flashBase, unsigned int size);
int KORVMTDModifyFISEntry(const char *device, const KORVMTDFISMOD *entry);
/* 1 when system call 401 succeeds with bit 0 of its word set, else 0. */
int KORVSyscallFlagGet(void);

#ifdef __cplusplus
}
#endif

#endif
