// The descriptors the simulator answers for, and what its device handlers share.
#include <errno.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>

#include "korv/platform.h"
#include "sim_devices.h"

namespace korvsim {

namespace {

std::map<int, SimFd> &sim_fds()
{
    static std::map<int, SimFd> fds;
    return fds;
}

}  // namespace

SimFd *find_fd(int fd)
{
    auto &fds = sim_fds();
    auto it = fds.find(fd);
    if (it == fds.end())
        return nullptr;
    struct stat st {};
    if (fstat(fd, &st) != 0 || st.st_dev != it->second.dev || st.st_ino != it->second.ino) {
        fds.erase(it);
        return nullptr;
    }
    return &it->second;
}


bool remember_fd(int fd, DevKind kind, int index, int flags, const std::string &path)
{
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return false;
    sim_fds()[fd] = SimFd{kind, index, flags & O_ACCMODE, 0, st.st_dev, st.st_ino, path};
    return true;
}

void forget_fd(int fd)
{
    sim_fds().erase(fd);
}

bool device_index(const char *path, const char *prefix, int *index)
{
    size_t n = strlen(prefix);
    if (strncmp(path, prefix, n) != 0)
        return false;
    const char *p = path + n;
    if (*p < '0' || *p > '9' || (p[0] == '0' && p[1] != '\0'))
        return false;  // "/dev/mtd07" is no device name
    int v = 0;
    for (; *p; ++p) {
        if (*p < '0' || *p > '9' || v > 100000)
            return false;
        v = v * 10 + (*p - '0');
    }
    *index = v;
    return true;
}

// Results carry errno past the logging that follows them.
int fail(int err)
{
    errno = err;
    return -1;
}

uint32_t get_u32(const void *p, size_t offset)
{
    uint32_t v;
    memcpy(&v, static_cast<const char *>(p) + offset, 4);
    return v;
}

void put_u32(void *p, size_t offset, uint32_t v)
{
    memcpy(static_cast<char *>(p) + offset, &v, 4);
}

std::string request_name(unsigned long request)
{
    switch (request) {
    case KORV_MEMGETINFO: return "MEMGETINFO";
    case KORV_MEMERASE: return "MEMERASE";
    case KORV_MEMLOCK: return "MEMLOCK";
    case KORV_MEMUNLOCK: return "MEMUNLOCK";
    case KORV_MTD_SET_PARTITION: return "MTD_SET_PARTITION";
    case KORV_MTD_SET_FIS_ENTRY: return "MTD_SET_FIS_ENTRY";
    case KORV_MSYS_GET_TABLE: return "MSYS_GET_TABLE";
    case KORV_MSYS_FORMAT: return "MSYS_FORMAT";
    case KORV_MSYS_PARTITION: return "MSYS_PARTITION";
    case KORV_MD_GET_ARRAY_INFO: return "GET_ARRAY_INFO";
    case KORV_BLKGETSIZE64: return "BLKGETSIZE64";
    case KORV_MD_REBUILD_STATUS: return "MD_REBUILD_STATUS";
    case SIOCGIFFLAGS: return "SIOCGIFFLAGS";
    case SIOCGIFHWADDR: return "SIOCGIFHWADDR";
    case SIOCGIFADDR: return "SIOCGIFADDR";
    case SIOCGIFNETMASK: return "SIOCGIFNETMASK";
    case SIOCGIFMTU: return "SIOCGIFMTU";
    case SIOCSIFMTU: return "SIOCSIFMTU";
    case SIOCETHTOOL: return "SIOCETHTOOL";
    default: {
        char buf[32];
        snprintf(buf, sizeof buf, "IOCTL_0x%08lX", request);
        return buf;
    }
    }
}

int open_node(const char *path, DevKind kind, int index, int flags, const std::string &args)
{
    int err = fault_fail(path, "OPEN");
    int fd = -1;
    struct stat st {};
    if (!err) {
        fd = open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0 || fstat(fd, &st) != 0)
            err = errno ? errno : EIO;
    }
    if (err) {
        if (fd >= 0)
            close(fd);
        log_request(path, "OPEN", args, -1, err);
        return fail(err);
    }
    sim_fds()[fd] = SimFd{kind, index, flags & O_ACCMODE, 0, st.st_dev, st.st_ino, path};
    log_request(path, "OPEN", args, fd, 0);
    return fd;
}

}  // namespace korvsim
