#include <errno.h>
#include <sys/file.h>
#include <unistd.h>

#include "korv/autoblock.h"
#include "korv_internal.h"

extern "C" void KORVAutoBlockFileClose(int fd)
{
    if (fd < 0)
        return;
    if (flock(fd, LOCK_UN) != 0)
        KORV_LOG("Fail to unlock autoblock file, errno=[%d/%m]", errno);
    close(fd);
}
