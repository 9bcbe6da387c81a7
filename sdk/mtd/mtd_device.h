// What the flash functions share: a device descriptor of the kernel interface that closes
// itself, the MTD information request, and the open and whole-partition requests.
#pragma once

#include <stdint.h>
#include <string.h>

#include "korv/platform.h"
#include "korv_flash_records.h"
#include "korv_plat_fd.h"

namespace korv::mtd {

// A descriptor from korv_plat_open, closed through the kernel interface on scope exit.
using DeviceFd = PlatFd;

// MEMGETINFO: the record as the kernel fills it; its fields through the flash-record codec.
struct Info {
    uint8_t bytes[flash::kMtdInfoSize];
    uint32_t size() const { return flash::UnpackMtdInfo(bytes).size; }
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

// Opens `device` read-write for a request. A failure is logged as `func` at `line`, the
// caller's own name and line.
DeviceFd open_for_request(const char *func, int line, const char *device);

// Erase, lock and unlock: `request` with the range {0, size} of the whole partition, the size
// from MEMGETINFO; one request, the driver works block by block. `what` names the request in
// its failure message ("erase", "lock/unlock"); messages carry the caller's `func` and `line`.
int whole_partition_request(const char *func, int line, const char *device, unsigned long request,
                            const char *what);

}  // namespace korv::mtd
