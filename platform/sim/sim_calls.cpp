// The host build's kernel: the platform calls, routed to the simulator's device handlers
// (sim_devices.h) for the descriptors and requests they answer; every other path is an ordinary
// file.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "korv/platform.h"
#include "sandbox_guard.h"
#include "sim_devices.h"

using namespace korvsim;

static int sim_open(const char *path, int flags)
{
    bool claimed = false;
    int fd = flash_open(path, flags, &claimed);
    if (claimed)
        return fd;
    fd = md_open(path, flags, &claimed);
    if (claimed)
        return fd;
    return open(path, flags | O_CLOEXEC, 0666);
}

static int sim_socket(int domain, int type, int protocol)
{
    bool claimed = false;
    int fd = net_socket(domain, type, protocol, &claimed);
    if (claimed)
        return fd;
    return socket(domain, type | SOCK_CLOEXEC, protocol);
}

static int sim_close(int fd)
{
    if (SimFd *sfd = find_fd(fd)) {
        std::string path = sfd->path;
        forget_fd(fd);
        int rc = close(fd);
        int err = errno;
        StateLock lock;
        log_request(path, "CLOSE", "", rc, err);
        errno = err;
        return rc;
    }
    return close(fd);
}

static ssize_t sim_read(int fd, void *buf, size_t count)
{
    SimFd *sfd = find_fd(fd);
    if (!sfd || sfd->kind == DevKind::Net)
        return read(fd, buf, count);
    if (sfd->kind == DevKind::Md)
        return md_transfer(*sfd, "READ", count);
    return flash_read(*sfd, buf, count);
}

static ssize_t sim_write(int fd, const void *buf, size_t count)
{
    SimFd *sfd = find_fd(fd);
    if (!sfd || sfd->kind == DevKind::Net)
        return write(fd, buf, count);
    if (sfd->kind == DevKind::Md)
        return md_transfer(*sfd, "WRITE", count);
    return flash_write(*sfd, buf, count);
}

static off_t sim_lseek(int fd, off_t offset, int whence)
{
    SimFd *sfd = find_fd(fd);
    if (!sfd || sfd->kind == DevKind::Net)
        return lseek(fd, offset, whence);
    // md nodes keep a position like flash nodes, against the window of their number.
    return flash_lseek(*sfd, offset, whence);
}

static int sim_ioctl(int fd, unsigned long request, void *arg)
{
    SimFd *sfd = find_fd(fd);
    if (!sfd)
        return ioctl(fd, request, arg);
    switch (sfd->kind) {
    case DevKind::Md: return md_ioctl(*sfd, request, arg);
    case DevKind::Net: return net_ioctl(*sfd, request, arg);
    case DevKind::Flash: break;
    }
    return flash_ioctl(*sfd, request, arg);
}

namespace {

// A successful call leaves errno as it found it, as a system call does; the simulator's own
// file work in between must not show through.
template <typename Call>
auto keep_errno(Call call)
{
    int saved = errno;
    auto result = call();
    if (result >= 0)
        errno = saved;
    return result;
}

}  // namespace

extern "C" int korv_plat_flag_get(uint32_t *word)
{
    return keep_errno([&] { return kernel_flag_get(word); });
}

extern "C" int korv_plat_driver_buffer(int allocate)
{
    return keep_errno([&] { return kernel_driver_buffer(allocate); });
}

extern "C" int korv_plat_uptime(long *seconds)
{
    return keep_errno([&] { return kernel_uptime(seconds); });
}

extern "C" int korv_plat_open(const char *path, int flags)
{
    return keep_errno([&] { return sim_open(path, flags); });
}

extern "C" int korv_plat_socket(int domain, int type, int protocol)
{
    return keep_errno([&] { return sim_socket(domain, type, protocol); });
}

extern "C" int korv_plat_close(int fd)
{
    return keep_errno([&] { return sim_close(fd); });
}

extern "C" ssize_t korv_plat_read(int fd, void *buf, size_t count)
{
    return keep_errno([&] { return sim_read(fd, buf, count); });
}

extern "C" ssize_t korv_plat_write(int fd, const void *buf, size_t count)
{
    return keep_errno([&] { return sim_write(fd, buf, count); });
}

extern "C" off_t korv_plat_lseek(int fd, off_t offset, int whence)
{
    return keep_errno([&] { return sim_lseek(fd, offset, whence); });
}

extern "C" int korv_plat_ioctl(int fd, unsigned long request, void *arg)
{
    return keep_errno([&] { return sim_ioctl(fd, request, arg); });
}

namespace {

// The first code of every program of the simulated device: its paths are the device's, so
// outside a device tree it stops before anything reads or writes the host's files.
__attribute__((constructor(101))) void refuse_outside_sandbox()
{
    if (korv_inside_sandbox())
        return;
    fprintf(stderr,
            "%s: refusing to run outside the device sandbox; run it through scripts/sandbox or ctest "
            "(see README.md)\n",
            program_invocation_name);
    _exit(2);
}

// A tree kept between sandbox sessions keeps its chip, but the tmpfs mirrors of the last session
// are gone with it. Every program of the simulated device puts them back as it starts (after
// the check above), so that the shell programs it runs read "/dev/mtdN" as before. What a shell
// program wrote into a mirror (the updater's `dd` of an image) is taken in as it ends, too; the
// launcher does the same as the session's command ends.
__attribute__((constructor)) void restore_mirrors()
{
    mirrors_sync();
    atexit([] { mirrors_sync(); });
}

}  // namespace
