// What the simulator's device handlers share: the descriptors it answers for, and one entry per
// device kind (flash, MSys, md, the kernel's own calls, the network). sim_calls.cpp routes the
// platform calls to them.
#pragma once

#include <stdint.h>
#include <sys/types.h>

#include <string>

#include "sim_flash.h"
#include "sim_state.h"

namespace korvsim {

enum class DevKind { Flash, Md, Net };

// A descriptor that the simulator answers for. The real descriptor is the tree's file
// (the mirror or the md node) or a socket; its identity guards against a number reused after a
// bare close.
struct SimFd {
    DevKind kind;
    int index;
    int accmode;
    uint64_t pos = 0;
    dev_t dev;
    ino_t ino;
    std::string path;  // as logged: the device's path, or "net" for a socket
};

// The simulator's descriptor for fd, or null (also once fd no longer is the file it was).
SimFd *find_fd(int fd);
// Remembers fd (an open descriptor) as kind; false when it cannot be stat-ed.
bool remember_fd(int fd, DevKind kind, int index, int flags, const std::string &path);
void forget_fd(int fd);

// Parses "/dev/<prefix>N".
bool device_index(const char *path, const char *prefix, int *index);
// -1 with errno set: results carry errno past the logging that follows them.
int fail(int err);
// Host-order words of request records (the device's own byte order).
uint32_t get_u32(const void *p, size_t offset);
void put_u32(void *p, size_t offset, uint32_t v);
// The request log's name of a device request.
std::string request_name(unsigned long request);

// Opens the tree's node of a simulated device and remembers the descriptor. The node is only a
// handle: data goes through the chip (or the md settings), never through this descriptor.
int open_node(const char *path, DevKind kind, int index, int flags, const std::string &args);

// Flash windows "/dev/mtdN" (sim_flash.cpp). flash_open sets *claimed when the path is a window
// of the chip, and only then opens it.
int flash_open(const char *path, int flags, bool *claimed);
ssize_t flash_read(SimFd &sfd, void *buf, size_t count);
ssize_t flash_write(SimFd &sfd, const void *buf, size_t count);
off_t flash_lseek(SimFd &sfd, off_t offset, int whence);
int flash_ioctl(SimFd &sfd, unsigned long request, void *arg);
// The MSys requests on "/dev/mtd0" (sim_msys.cpp), for flash_ioctl: 0, or the errno.
int msys_request(Flash &flash, int index, unsigned long request, void *arg, std::string *args);

// md arrays "/dev/mdN" (sim_md.cpp): requests from kernel.conf; reads and writes are refused.
int md_open(const char *path, int flags, bool *claimed);
ssize_t md_transfer(SimFd &sfd, const char *request, size_t count);
int md_ioctl(SimFd &sfd, unsigned long request, void *arg);

// The device's system calls and clock (sim_kernel.cpp).
int kernel_flag_get(uint32_t *word);
int kernel_driver_buffer(int allocate);
int kernel_uptime(long *seconds);

// The network (sim_net.cpp): an AF_INET datagram socket claimed by net_socket answers the
// interface requests from net.conf.
int net_socket(int domain, int type, int protocol, bool *claimed);
int net_ioctl(SimFd &sfd, unsigned long request, void *arg);

}  // namespace korvsim
