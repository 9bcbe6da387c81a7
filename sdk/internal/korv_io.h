// Whole reads and writes: a short read is normal and is read on, a short write is written on, and
// a failure can say which device or file and which bytes it was. Each pair is named for the way
// it goes:
//
//   ReadFull, WriteAll          read(2) and write(2) at the descriptor's position: plain files,
//                               pipes and FIFOs;
//   ReadFullAt, WriteAllAt      pread(2) and pwrite(2) at the span's offset, leaving the
//                               descriptor's position alone: plain files;
//   PlatReadFull, PlatWriteAll  the platform layer (korv_plat_read, korv_plat_write) at the
//                               position: descriptors of korv_plat_open, the flash and md devices
//                               that the host build simulates.
//
//   korv::IoResult r = korv::PlatReadFull(fd, buf, 256, {device, offset});
//   if (!r.ok()) syslog(LOG_ERR, "...: %s", r.Describe().c_str());
//
// The callers keep their own messages; Describe() is the detail they may add to them. All go on
// after EINTR; errno is left as the failing call set it (0 when the device ended or took nothing).
#pragma once

#include <errno.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "korv/platform.h"

namespace korv {

// Where a transfer went: the device's (or file's) name and the offset of its first byte.
struct IoSpan {
    const char *device = nullptr;
    uint64_t offset = 0;
};

struct IoResult {
    bool writing = false;
    IoSpan span;
    size_t wanted = 0;
    size_t done = 0;
    int err = 0;  // errno of the failing call; 0 when the device ended or took nothing

    bool ok() const { return done == wanted; }
    // "read of /dev/mtd7 bytes 0x100-0x1ff: 0x80 bytes done, then end of device"
    std::string Describe() const
    {
        char text[256];
        const char *what = writing ? "write" : "read";
        const char *device = span.device ? span.device : "(unnamed)";
        unsigned long long first = span.offset, last = span.offset + (wanted ? wanted - 1 : 0);
        if (ok()) {
            snprintf(text, sizeof text, "%s of %s bytes 0x%llx-0x%llx: done", what, device, first, last);
            return text;
        }
        const char *end = err ? strerror(err) : writing ? "device took nothing" : "end of device";
        snprintf(text, sizeof text, "%s of %s bytes 0x%llx-0x%llx: 0x%zx bytes done, then %s (errno %d)", what,
                 device, first, last, done, end, err);
        return text;
    }
};

namespace io_detail {

template <typename Call>
IoResult Loop(bool writing, IoSpan span, size_t count, Call call)
{
    IoResult r;
    r.writing = writing;
    r.span = span;
    r.wanted = count;
    while (r.done < count) {
        errno = 0;
        ssize_t n = call(r.done, count - r.done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            r.err = n < 0 ? errno : 0;
            break;
        }
        r.done += static_cast<size_t>(n);
    }
    if (!r.ok())
        errno = r.err;
    return r;
}

// A read(2) or write(2) of the descriptor's own position, called until count bytes are done.
template <typename Call, typename Byte>
IoResult AtPosition(bool writing, Call call, int fd, Byte *bytes, size_t count, IoSpan span)
{
    return Loop(writing, span, count, [&](size_t at, size_t left) { return call(fd, bytes + at, left); });
}

}  // namespace io_detail

// Reads count bytes, going on after short reads; the end of the file stops it short.
inline IoResult ReadFull(int fd, void *buf, size_t count, IoSpan span = {})
{
    return io_detail::AtPosition(false, ::read, fd, static_cast<unsigned char *>(buf), count, span);
}

// Writes count bytes, going on after short writes; a write that takes nothing is a failure.
inline IoResult WriteAll(int fd, const void *buf, size_t count, IoSpan span = {})
{
    return io_detail::AtPosition(true, ::write, fd, static_cast<const unsigned char *>(buf), count, span);
}

// Reads count bytes at span.offset, going on after short reads; the end of the file stops it short.
inline IoResult ReadFullAt(int fd, void *buf, size_t count, IoSpan span)
{
    auto *bytes = static_cast<unsigned char *>(buf);
    return io_detail::Loop(false, span, count, [&](size_t at, size_t left) {
        return pread(fd, bytes + at, left, static_cast<off_t>(span.offset + at));
    });
}

// Writes count bytes at span.offset, going on after short writes; a write that takes nothing is a
// failure.
inline IoResult WriteAllAt(int fd, const void *buf, size_t count, IoSpan span)
{
    const auto *bytes = static_cast<const unsigned char *>(buf);
    return io_detail::Loop(true, span, count, [&](size_t at, size_t left) {
        return pwrite(fd, bytes + at, left, static_cast<off_t>(span.offset + at));
    });
}

// Reads count bytes from a device, going on after short reads; the end of the device stops it
// short.
inline IoResult PlatReadFull(int fd, void *buf, size_t count, IoSpan span = {})
{
    return io_detail::AtPosition(false, korv_plat_read, fd, static_cast<unsigned char *>(buf), count, span);
}

// Writes count bytes to a device, going on after short writes; a write that takes nothing is a
// failure.
inline IoResult PlatWriteAll(int fd, const void *buf, size_t count, IoSpan span = {})
{
    return io_detail::AtPosition(true, korv_plat_write, fd, static_cast<const unsigned char *>(buf), count, span);
}

}  // namespace korv
