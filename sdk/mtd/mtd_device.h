// What the flash functions share: a descriptor of an MTD device that closes itself, and the
// 32-byte MTD information record that MEMGETINFO fills.
#pragma once

#include <stdint.h>
#include <string.h>

#include "korv/platform.h"

namespace korv::mtd {

class DeviceFd {
public:
    DeviceFd(const char *device, int flags) : fd_(korv_plat_open(device, flags)) {}
    ~DeviceFd()
    {
        if (fd_ >= 0)
            korv_plat_close(fd_);
    }
    DeviceFd(const DeviceFd &) = delete;
    DeviceFd &operator=(const DeviceFd &) = delete;
    bool ok() const { return fd_ >= 0; }
    int get() const { return fd_; }

private:
    int fd_;
};

// MEMGETINFO: the record as the kernel fills it (native words); only the size is read here.
struct Info {
    uint8_t bytes[32];
    uint32_t size() const
    {
        uint32_t v;
        memcpy(&v, bytes + 8, sizeof v);
        return v;
    }
};

inline int get_info(int fd, Info *info)
{
    memset(info->bytes, 0, sizeof info->bytes);
    return korv_plat_ioctl(fd, KORV_MEMGETINFO, info->bytes);
}

// The Linux MTD range record {start, length} of MEMERASE, MEMLOCK and MEMUNLOCK.
struct Range {
    uint32_t start;
    uint32_t length;
};
static_assert(sizeof(Range) == 8);

}  // namespace korv::mtd
