/* Periodic jobs as lines of the system crontab, one line per command.
 * No named lock inside: writers side by side never tear a line, but may lose each other's change. */
#ifndef KORV_SCHEDULE_H
#define KORV_SCHEDULE_H

#ifdef __cplusplus
extern "C" {
#endif

#define KORV_CRONTAB   "/etc/crontab"
#define KORV_CROND_PID "/var/run/crond.pid"

/* Longest crontab line, and so the longest command, with its NUL. */
#define KORV_SCHEDULE_LINE_MAX 1024

typedef struct _tag_KORVSCHEDULE_ {
    int weekdays;   /* bit n: cron weekday n (0 Sunday .. 6 Saturday); 127 every day */
    int hourStart;  /* 0-23 */
    int hourStep;   /* 0-23; 0: only hourStart */
    int hourEnd;    /* 0-23, not below hourStart */
    int minute;     /* 0-59 */
    int runsPerDay; /* filled by KORVScheduleGet */
    char szCommand[KORV_SCHEDULE_LINE_MAX];
} KORVSCHEDULE, *PKORVSCHEDULE;

/* Writes or replaces the command's line "minute\thours\t*\t*\tweekdays\troot\tcommand", then
 * signals crond: 0, or -1 (0x0D00: null, fields out of range, an empty command, one holding CR
 * or LF, or a line that does not fit). */
int KORVScheduleSet(PKORVSCHEDULE schedule);
/* The first crontab line holding command, parsed: 1, 0 when there is none (0x2000), or -1. The
 * command field comes back as its first word. */
int KORVScheduleGet(const char *command, PKORVSCHEDULE schedule);
/* Deletes the command's line and signals crond: 0 (also when there was none), or -1. */
int KORVScheduleRemove(const char *command);
/* Replaces the command's line by line, appends line when there is none, or deletes the command's
 * line when line is null; then sends HUP to crond. 0, or -1 (0x0D00 for a null or empty command). */
int KORVCrontabUpdate(const char *command, const char *line);

#ifdef __cplusplus
}
#endif

#endif
