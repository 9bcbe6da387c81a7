// Writing a whole buffer to a descriptor: short writes are continued, interrupted ones retried.
#pragma once

#include <errno.h>
#include <stddef.h>
#include <unistd.h>

namespace korv {

// 0 when all n bytes were written, else -1 with errno set (ENOSPC for a write that made no progress).
inline int WriteAll(int fd, const void *data, size_t n)
{
    const char *p = static_cast<const char *>(data);
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0)
            return -1;
        if (w == 0) {
            errno = ENOSPC;
            return -1;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return 0;
}

}  // namespace korv
