#include <syslog.h>
#include <unistd.h>

#include "korv/eventlog.h"

extern "C" int KORVLogWriteByte(int fd, const void *buf, int count)
{
    const ssize_t written = write(fd, buf, count < 0 ? 0 : size_t(count));
    if (written == -1)
        syslog(LOG_ERR, "KORVLogWriteByte(): write() error!, input count is [%d]", count);
    return int(written);
}
