/* Library error state: the code of the last failure, where it was recorded, and a backtrace. */
#ifndef KORV_ERROR_H
#define KORV_ERROR_H

#ifdef __cplusplus
extern "C" {
#endif

/* General error codes; module codes live in their module headers. */
#define KORL_ERR_BUF_SMALL    0x0100 /* the caller's buffer is too small */
#define KORL_ERR_NO_MEMORY    0x0200
#define KORL_ERR_PERMISSION   0x0300 /* EACCES */
#define KORL_ERR_LOCK         0x0400 /* a lock cannot be obtained */
#define KORL_ERR_UNLOCK       0x0500
#define KORL_ERR_NO_DEVICE    0x0600 /* ENOENT from stat; a missing device */
#define KORL_ERR_NO_FILE      0x0700 /* the file does not exist */
#define KORL_ERR_OPEN         0x0900 /* cannot open, or the path is a directory */
#define KORL_ERR_READ         0x0A00
#define KORL_ERR_WRITE        0x0B00 /* a write, flush or stream check failed */
#define KORL_ERR_LOCK_DIR     0x0C00 /* the lock directory cannot be created */
#define KORL_ERR_BAD_PARAM    0x0D00
#define KORL_ERR_NOT_IPV4     0x1000
#define KORL_ERR_NOT_FOUND    0x2000
#define KORL_ERR_STAT         0x2700
#define KORL_ERR_RENAME       0x2800
#define KORL_ERR_NO_SPACE     0x2900
#define KORL_ERR_CHILD        0x2A00 /* a child program failed */
#define KORL_ERR_UNLINK_TEMP  0x3900
#define KORL_ERR_MALFORMED    0x4000
#define KORL_ERR_BDB_IO       0x6C00
#define KORL_ERR_OTHER        0x8000 /* an ioctl, a glob, an ICU conversion, an unrecognised value */
#define KORL_ERR_TIME         0x8100
#define KORL_ERR_READ_ONLY    0x8400
#define KORL_ERR_BDB_INTR     0xAA00
#define KORL_ERR_BDB_INVALID  0xB100
#define KORL_ERR_BDB_READ     0xB200
#define KORL_ERR_BDB_WRITE    0xB300
#define KORL_ERR_BDB_DELETE   0xB400
#define KORL_ERR_BDB_END      0xB500 /* a record-store walk reached its end */

/* The code of the last failure recorded; 0 until the first one, never cleared. */
extern int korverr;

void KORLErrSetEx(int code, const char *srcFile, int line);
void KORLErrSet(int code);
int KORLErrGet(void);
const char *KORLErrFileGet(void);
int KORLErrLineGet(void);

void KORLErrBacktraceTake(void);
void KORLErrBacktracePrint(void);
void KORLErrBacktracePuts(void);
void KORLErrBacktraceFree(void);

#ifdef __cplusplus
}
#endif

#endif
