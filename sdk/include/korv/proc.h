/* Running other programs, reading pid files and signalling daemons by them. */
#ifndef KORV_PROC_H
#define KORV_PROC_H

#ifdef __cplusplus
extern "C" {
#endif

/* Runs program (an absolute path, not searched) detached, with an empty environment, the
 * arguments up to the first null one, "/dev/null" on 0, 1 and 2, and waits for it.
 * The child's exit status (255 when it cannot be executed), 0 when the system reaped it
 * already, or -1 (0x2A00) when fork or the wait failed or the child was killed. */
int KORLProcExec(const char *program, const char *firstArg, const char *secondArg,
                 const char *thirdArg, const char *fourthArg);

/* The pid at the start of the file; 0 when it holds no number, -1 when it cannot be read or is
 * no plain file (a link, a FIFO: never waited on). A pid beyond the signed 32-bit range reads as
 * negative. Records no error code. */
int ProcPidFileRead(const char *path);

/* Sends signal to the pid in "/var/run/scemd.pid" when it is a positive number in plain digits:
 * -1 when kill fails, else 0. Records no error code. */
int KORVScemdSignal(int signal);

#ifdef __cplusplus
}
#endif

#endif
