#include <stdio.h>
#include <string.h>
#include <syslog.h>

#include "korv/schedule.h"
#include "korv_internal.h"

extern "C" int KORVScheduleSet(PKORVSCHEDULE schedule)
{
    if (!schedule) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        syslog(LOG_ERR, "%s(%d): PKORVSCHEDULE is NULL", __func__, __LINE__);
        return -1;
    }
    const KORVSCHEDULE &s = *schedule;
    const size_t commandLen = strnlen(s.szCommand, sizeof s.szCommand);
    // The command must stand on its one line, and be found again by its text.
    const bool commandOk = commandLen > 0 && commandLen < sizeof s.szCommand &&
                           strcspn(s.szCommand, "\r\n") == commandLen;
    const bool fieldsOk = (s.weekdays & 0x7F) != 0 && s.hourStart >= 0 && s.hourStart <= 23 && s.hourEnd >= 0 &&
                          s.hourEnd <= 23 && s.hourStart <= s.hourEnd && s.hourStep >= 0 && s.hourStep <= 23 &&
                          s.minute >= 0 && s.minute <= 59;
    char line[KORV_SCHEDULE_LINE_MAX];
    int n = -1;
    if (fieldsOk && commandOk) {
        char days[20] = "*";
        if (s.weekdays != 127) {
            size_t at = 0;
            days[0] = '\0';
            for (int d = 0; d <= 6; ++d) {
                if (s.weekdays & (1 << d))
                    at += size_t(snprintf(days + at, sizeof days - at, at ? ",%d" : "%d", d));
            }
        }
        char hours[20];
        if (s.hourStep == 0 || s.hourStart == s.hourEnd)
            snprintf(hours, sizeof hours, "%d", s.hourStart);
        else
            snprintf(hours, sizeof hours, "%d-%d/%d", s.hourStart, s.hourEnd, s.hourStep);
        n = snprintf(line, sizeof line, "%d\t%s\t*\t*\t%s\troot\t%s", s.minute, hours, days, s.szCommand);
    }
    if (n < 0 || size_t(n) >= sizeof line) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        syslog(LOG_ERR, "%s(%d): time or command error %d,%d,%d,%d,%.*s", __func__, __LINE__, s.hourStart, s.minute,
               s.hourStep, s.hourEnd, int(commandLen), s.szCommand);
        return -1;
    }
    if (KORVCrontabUpdate(s.szCommand, line) < 0) {
        syslog(LOG_ERR, "%s(%d): fail to set the schedule to /etc/crontab", __func__, __LINE__);
        return -1;
    }
    return 0;
}
