#include <time.h>

#include "korv/mail.h"
#include "korv_internal.h"

extern "C" int KORLTimeDateGet(int date[6])
{
    if (!date) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    time_t now = time(nullptr);
    struct tm tm;
    if (now == static_cast<time_t>(-1) || !localtime_r(&now, &tm)) {
        KORV_ERR(KORL_ERR_TIME);
        return -1;
    }
    date[0] = tm.tm_year + 1900;
    date[1] = tm.tm_mon + 1;
    date[2] = tm.tm_mday;
    date[3] = tm.tm_hour;
    date[4] = tm.tm_min;
    date[5] = tm.tm_sec;
    return 0;
}
