/*
 * The device kernel's own interfaces, as the library and the updater call them.
 * The host build simulates them over files of the device tree; the device build
 * makes the real system calls and requests. Callers never know which.
 */
#ifndef KORV_PLATFORM_H
#define KORV_PLATFORM_H

#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Device system calls. */
#define KORV_SYS_FLAG_GET       401 /* fills a 32-bit flag word; bit 0: MSys flash */
#define KORV_SYS_DRIVER_BUFFER  405 /* 1 allocates the flash driver's transfer buffer, 0 frees it */

/* MTD requests (standard and the flash driver's own). */
#define KORV_MEMGETINFO         0x80204D01u /* 32-byte MTD information */
#define KORV_MEMERASE           0x40084D02u /* {u32 start, u32 length} */
#define KORV_MEMLOCK            0x40084D05u
#define KORV_MEMUNLOCK          0x40084D06u
#define KORV_MTD_SET_PARTITION  0x40084D16u /* {u32 flash base, u32 size} */
#define KORV_MTD_SET_FIS_ENTRY  0x401C4D17u /* 28-byte directory update */

/* MSys requests on "/dev/mtd0". */
#define KORV_MSYS_GET_TABLE     0x80044D1Au /* 64 bytes: eight {u32 size, u32 data length} */
#define KORV_MSYS_FORMAT        0x40044D18u /* the unit count itself (967) as the argument */
#define KORV_MSYS_PARTITION     0x40044D19u /* eight u32 counts of 16 KiB units */

/* md requests on an array device. */
#define KORV_MD_GET_ARRAY_INFO  0x80480911u /* 72 bytes: eighteen s32 words */
#define KORV_BLKGETSIZE64       0x80041272u /* u64 byte count */
#define KORV_MD_REBUILD_STATUS  0x800C0960u /* three u32: due or running, done, total */

/* System call 401: 0 with the word filled, or -1 with errno. */
int korv_plat_flag_get(uint32_t *word);
/* System call 405: 0, or -1 with errno (ENOSYS: a kernel without the call). */
int korv_plat_driver_buffer(int allocate);
/* Seconds since boot (sysinfo): 0, or -1 with errno. */
int korv_plat_uptime(long *seconds);

/* Descriptors of devices and files; flash devices go through the flash driver. */
int korv_plat_open(const char *path, int flags);
int korv_plat_close(int fd);
ssize_t korv_plat_read(int fd, void *buf, size_t count);
ssize_t korv_plat_write(int fd, const void *buf, size_t count);
off_t korv_plat_lseek(int fd, off_t offset, int whence);
/* A request with a record (or, for KORV_MSYS_FORMAT, a value cast to a pointer). */
int korv_plat_ioctl(int fd, unsigned long request, void *arg);

/* A socket (socket(2)); closed with korv_plat_close. The network interfaces are asked through
 * korv_plat_ioctl on an AF_INET datagram socket, with the kernel's own requests and records:
 * SIOCGIFFLAGS, SIOCGIFHWADDR, SIOCGIFADDR, SIOCGIFNETMASK, SIOCGIFMTU and SIOCSIFMTU with a
 * struct ifreq, SIOCETHTOOL with ETHTOOL_GSET and a struct ethtool_cmd at ifr_data. */
int korv_plat_socket(int domain, int type, int protocol);

#ifdef __cplusplus
}
#endif

#endif
