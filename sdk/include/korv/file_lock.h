/* Named lock files under "/tmp/lock/": flock locks between processes, counted within one. */
#ifndef KORV_FILE_LOCK_H
#define KORV_FILE_LOCK_H

#include <sys/file.h> /* LOCK_SH, LOCK_EX, LOCK_NB, LOCK_UN */

#ifdef __cplusplus
extern "C" {
#endif

/* One bit per lock file; a request ORs these with a flock operation in the low four bits. */
#define KORL_LOCK_PW        0x10     /* "/tmp/lock/lock_pw" */
#define KORL_LOCK_GR        0x20     /* "/tmp/lock/lock_gr" */
#define KORL_LOCK_SMB       0x40     /* "/tmp/lock/lock_smb" */
#define KORL_LOCK_RC        0x80     /* "/tmp/lock/lock_rc" */
#define KORL_LOCK_HOST      0x100    /* "/tmp/lock/lock_host" */
#define KORL_LOCK_EXPORTS   0x200    /* "/tmp/lock/lock_exports" */
#define KORL_LOCK_NW        0x400    /* "/tmp/lock/lock_nw" */
#define KORL_LOCK_KORVINFO  0x800    /* "/tmp/lock/lock_korvinfo" */
#define KORL_LOCK_APPLE     0x1000   /* "/tmp/lock/lock_apple" */
#define KORL_LOCK_SNMP      0x2000   /* "/tmp/lock/lock_snmp" */
#define KORL_LOCK_WIN       0x4000   /* "/tmp/lock/lock_win" */
#define KORL_LOCK_TAPEBKP   0x8000   /* "/tmp/lock/lock_tapebkp" */
#define KORL_LOCK_CONNECT   0x10000  /* "/tmp/lock/lock_connect" */
#define KORL_LOCK_USBIDMAP  0x20000  /* "/tmp/lock/lock_usbidmap" */
#define KORL_LOCK_DUSERUID  0x40000  /* "/tmp/lock/lock_duseruid" */
#define KORL_LOCK_DUSERGID  0x80000  /* "/tmp/lock/lock_dusergid" */
#define KORL_LOCK_FSTAB     0x100000 /* "/tmp/lock/lock_fstab" */
#define KORL_LOCK_HOTSWAP   0x200000 /* "/tmp/lock/lock_hotswap" */

/* The operation part of a request (LOCK_SH, LOCK_EX, LOCK_NB); never lock bits. */
#define KORL_LOCK_OP_MASK   0xF

/* The directory and its 18 empty files, created when missing: 0, or -1 (0x0C00, 0x0900). */
int KORLFileLockCheckDir(void);
/* Takes every lock of request or none, retrying every 50 ms for timeout seconds: 0, or -1
 * (0x0400; a shared hold asked for exclusively is refused at once). */
int ErrKORLFileLock(unsigned int request, int timeout);
/* Drops one hold of each held lock in bits (the operation bits are ignored): 0, or -1 (0x0500). */
int ErrKORLFileUnlock(unsigned int bits);
/* In a forked child: closes the inherited lock files without unlocking them: 0, or -1. */
int KORLFileLockCloseAll(void);

#ifdef __cplusplus
}
#endif

#endif
