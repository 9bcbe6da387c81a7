/* Plain text logs: whole lines appended by the caller, each forced to disk. */
#ifndef KORV_LOG_H
#define KORV_LOG_H

#ifdef __cplusplus
extern "C" {
#endif

/* Truncates the log to empty, creating it when missing; a null path or an unopenable file is
 * ignored. */
void KORLErrorLogClear(const char *path);

/* Appends line as it is and one LF, then syncs: 0, or -1 (0x0D00, 0x0900, 0x0B00). */
int KORLErrorLogSet(const char *path, const char *line);

#ifdef __cplusplus
}
#endif

#endif
