#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <syslog.h>

#include "korv/file.h"
#include "korv/list.h"
#include "korv/schedule.h"
#include "korv/string.h"
#include "korv_internal.h"
#include "korv_sz_holders.h"

namespace {

// The weekday bits of a text such as "*" or "1,3,5"; -1 when the text cannot be split.
int Weekdays(const char *text)
{
    if (strcmp(text, "*") == 0)
        return 127;
    korv::ListHolder days(PslKORLSzListAlloc(0));
    if (!days || KORLStrTok(text, ",", days.addr()) < 0)
        return -1;
    int bits = 0;
    for (int i = 0; i < days->nItem; ++i) {
        const unsigned day = unsigned(atoi(SzKORLSzListGet(days.get(), i)));
        if (day > 7) {
            syslog(LOG_ERR, "%s(%d): wday field exceeded. : %d", "KORVScheduleGet", __LINE__, int(day));
            continue;
        }
        if (day < 7)
            bits |= 1 << day;
    }
    return bits;
}

}  // namespace

extern "C" int KORVScheduleGet(const char *command, PKORVSCHEDULE schedule)
{
    if (!command || !*command || !schedule) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    char line[KORV_SCHEDULE_LINE_MAX];
    const int got = KORLFileGetLine(KORV_CRONTAB, command, line, sizeof line, 0);
    if (got < 0) {
        syslog(LOG_ERR, "%s(%d): fail to get schedule line from /etc/crontab", __func__, __LINE__);
        return -1;
    }
    if (got == 0) {
        KORV_ERR(KORL_ERR_NOT_FOUND);
        return 0;
    }

    // Every text is scanned with its buffer's width: a hand-written line may hold anything.
    char hours[20] = "", days[20] = "";
    int minute = 0;
    schedule->szCommand[0] = '\0';
    // A line that does not scan whole (a field too long for its text, another user, no command)
    // is not a schedule.
    const int fields = sscanf(line, "%d\t%19s\t*\t*\t%19s\troot\t%1023s", &minute, hours, days, schedule->szCommand);
    schedule->minute = minute;
    if (fields != 4 || !hours[0] || !days[0]) {
        syslog(LOG_ERR, "%s(%d): wday or hours field from /etc/crontab is empty ", __func__, __LINE__);
        return -1;
    }

    const int bits = Weekdays(days);
    if (bits < 0)
        return -1;
    schedule->weekdays = bits;

    int start = 0, end = 0, step = 0;
    if (strchr(hours, '-') && strchr(hours, '/')) {
        if (sscanf(hours, "%d-%d/%d", &start, &end, &step) != 3) {
            syslog(LOG_ERR, "%s(%d): hour field format error. : %s", __func__, __LINE__, hours);
            return -1;
        }
        // "a-b/0" runs every hour of its range, as a step of 1 would.
        if (step == 0)
            step = 1;
    } else {
        if (strlen(hours) > 2) {
            syslog(LOG_ERR, "%s(%d): hour field format error. : %s", __func__, __LINE__, hours);
            return -1;
        }
        start = end = atoi(hours);
    }
    if (unsigned(start) > 23 || unsigned(end) > 23 || unsigned(step) > 23 || end < start) {
        syslog(LOG_ERR, "%s(%d): hour field exceeded. : ", __func__, __LINE__);
        return -1;
    }
    schedule->hourStart = start;
    schedule->hourEnd = end;
    schedule->hourStep = step;
    schedule->runsPerDay = step == 0 ? 1 : (end - start) / step + 1;
    return 1;
}
