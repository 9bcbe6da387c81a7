/* Binary event logs: ring files of bounded size holding the newest records of a log class. */
#ifndef KORV_EVENTLOG_H
#define KORV_EVENTLOG_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Where each class's file and maximum size are set; written with the defaults when missing. */
#define KORV_LOG_CONF "/etc/korvlog.conf"

/*
 * The stored form, the same on every build: little-endian fields packed without padding.
 * These records describe it; the files are read and written field by field, never as structs.
 */
#define KORV_LOG_HEADER_SIZE  16 /* "KORV", 4 untouched bytes, head, tail */
#define KORV_LOG_RECORD_FIXED 24 /* the fixed part of a record, before its six texts */
#define KORV_LOG_END_MARKER   2  /* a record length of 0: no more records before the file end */

typedef struct _tag_KORVLOGHEADER_ {
    char magic[4];     /* "KORV", no terminator */
    uint32_t reserved; /* never written by the library; zero in a file it creates */
    uint32_t head;     /* offset of the oldest record */
    uint32_t tail;     /* offset where the next record goes */
} KORVLOGHEADER;

typedef struct _tag_KORVLOGRECORD_ {
    uint16_t length;    /* 24 + the six text lengths */
    uint16_t level;
    uint32_t time;      /* seconds since the epoch */
    uint16_t programLength;
    uint16_t userLength;
    uint32_t eventCode;
    uint16_t textLength[4];
    /* then the program name, the user name and the four texts, unterminated */
} KORVLOGRECORD;

/* Appends one record to the log of logClass (1 to 8, not 4): a null text is stored empty, an
 * empty one as " ". A record that its 16-bit length or the class's ring cannot hold is refused
 * before the file is touched. 0, or -1; failures go to syslog, no error code is recorded. */
int KORVLogSet1(int logClass, int level, unsigned int eventCode, const char *s1, const char *s2,
                const char *s3, const char *s4);
/* Writes the default "/etc/korvlog.conf": 0, or -1 (0x0900 when it cannot be opened). */
int KORVLogSetLogConf(void);
/* Drops the oldest records of the class's default file until it holds at most maxSize bytes,
 * under the writers' lock: 0 (also when nothing was to do or the file is missing), or -1. */
int KORVLogChangeSize(int maxSize, int logClass);
/* write(2); a failure is logged with the count. */
int KORVLogWriteByte(int fd, const void *buf, int count);

#ifdef __cplusplus
}
#endif

#endif
