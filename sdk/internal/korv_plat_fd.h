// A descriptor of the kernel interface (korv_plat_open), closed through it on scope exit, so that
// the simulator forgets the device along with the descriptor.
#pragma once

#include "korv/platform.h"
#include "korv_unique.h"

namespace korv {

struct PlatFdTraits {
    using Handle = int;
    static constexpr int empty() { return -1; }
    static bool valid(int fd) { return fd >= 0; }
    static int close(int fd) { return korv_plat_close(fd); }
};

using PlatFd = UniqueHandle<PlatFdTraits>;

}  // namespace korv
