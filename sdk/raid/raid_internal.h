// What the RAID functions of this folder share: the md path they take, and the md driver's
// requests with their failures told apart.
#pragma once

#include <source_location>

namespace korv::raid {

// The array number of a "/dev/md<n>" path: 0, or -1 (0xBE00, logged) recorded at loc.
int MdIndex(const char *mdPath, int *md, std::source_location loc = std::source_location::current());

// korv_plat_ioctl on an array device: 0, or -1 with 0x0600 when the array does not run (ENODEV),
// else "Failed to ioctl for <what>" logged and 0x8000, recorded at loc.
int MdIoctl(int fd, unsigned long request, void *arg, const char *what,
            std::source_location loc = std::source_location::current());

}  // namespace korv::raid
