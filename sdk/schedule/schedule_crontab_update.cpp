#include <syslog.h>

#include "korv/file.h"
#include "korv/schedule.h"
#include "korv_command.h"
#include "korv_internal.h"
#include "korv_pid_file.h"

namespace {

#define CRON_LOG(fmt, ...) syslog(LOG_ERR, "%s (%d) " fmt, "crontab_update_crontab", __LINE__ __VA_OPT__(, ) __VA_ARGS__)

}  // namespace

extern "C" int KORVCrontabUpdate(const char *command, const char *line)
{
    // An empty pattern would match the first line of the file, whatever it schedules.
    if (!command || !*command) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    if (line) {
        char found[KORV_SCHEDULE_LINE_MAX];
        int got = KORLFileGetLine(KORV_CRONTAB, command, found, sizeof found, 0);
        // A matching line too long for the buffer is still the command's line.
        if (got < 0 && KORLErrGet() == KORL_ERR_BUF_SMALL)
            got = 1;
        if (got < 0) {
            CRON_LOG("Failed to get line in crontab (0x%x)", KORLErrGet());
            return -1;
        }
        if (got > 0) {
            if (KORLFileSetLine(KORV_CRONTAB, command, line, 0) <= 0) {
                CRON_LOG("Failed to set line in crontab (0x%x)", KORLErrGet());
                return -1;
            }
        } else if (KORLFileAddLine(KORV_CRONTAB, nullptr, line, OP_FIND_PREFIX) <= 0) {
            CRON_LOG("Failed to add line in crontab (0x%x)", KORLErrGet());
            return -1;
        }
    } else if (KORLFileSetLine(KORV_CRONTAB, command, nullptr, 0) < 0) {
        CRON_LOG("Failed to remove line in crontab (0x%x)", KORLErrGet());
        return -1;
    }
    // The shell hands kill whatever the pid file holds: "-1" or a second number would signal
    // other processes, so the command runs only for a file that names one pid.
    if (!korv::proc::ReadPidFile(KORV_CROND_PID).OnePid() ||
        !korv::proc::Succeeded(korv::proc::RunShell("/bin/kill -HUP `/bin/cat " KORV_CROND_PID "` > /dev/null 2>&1")))
        CRON_LOG("Failed to hup crond");
    return 0;
}
