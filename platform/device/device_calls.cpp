// The device build: the real system calls and requests of the device's kernel.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include "korv/platform.h"
#include "korv/platform_store.h"

extern "C" int korv_plat_flag_get(uint32_t *word)
{
    return static_cast<int>(syscall(KORV_SYS_FLAG_GET, word));
}

extern "C" int korv_plat_driver_buffer(int allocate)
{
    return static_cast<int>(syscall(KORV_SYS_DRIVER_BUFFER, allocate));
}

extern "C" int korv_plat_uptime(long *seconds)
{
    struct sysinfo info {};
    if (sysinfo(&info) != 0)
        return -1;
    *seconds = info.uptime;
    return 0;
}

extern "C" int korv_plat_open(const char *path, int flags)
{
    return open(path, flags | O_CLOEXEC, 0666);
}

extern "C" int korv_plat_close(int fd)
{
    return close(fd);
}

extern "C" ssize_t korv_plat_read(int fd, void *buf, size_t count)
{
    return read(fd, buf, count);
}

extern "C" ssize_t korv_plat_write(int fd, const void *buf, size_t count)
{
    return write(fd, buf, count);
}

extern "C" off_t korv_plat_lseek(int fd, off_t offset, int whence)
{
    return lseek(fd, offset, whence);
}

extern "C" int korv_plat_ioctl(int fd, unsigned long request, void *arg)
{
    return ioctl(fd, request, arg);
}

extern "C" int korv_plat_socket(int domain, int type, int protocol)
{
    return socket(domain, type | SOCK_CLOEXEC, protocol);
}

extern "C" DB *korv_plat_dbopen(const char *path, int flags, int mode, DBTYPE type, const void *openinfo)
{
    return dbopen(path, flags, mode, type, openinfo);
}
