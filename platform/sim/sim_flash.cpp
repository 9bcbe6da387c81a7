// Flash windows "/dev/mtdN" over the chip image: open, read, write, seek and the MTD requests.
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "korv/platform.h"
#include "sim_devices.h"

namespace korvsim {

namespace {

std::string range_args(uint64_t start, uint64_t length)
{
    return "start=" + hex32(start) + ",length=" + hex32(length);
}

// Applies the chip kind's write rule to chip range [offset, offset+count).
bool program_bytes(Flash &flash, uint64_t offset, const uint8_t *data, size_t count)
{
    std::vector<uint8_t> bytes(count);
    if (flash.kind == ChipKind::Nor) {
        // NOR programming only clears bits: what was not erased reads back AND-ed.
        if (!chip_read(offset, bytes.data(), count))
            return false;
        for (size_t i = 0; i < count; ++i)
            bytes[i] &= data[i];
    } else {
        memcpy(bytes.data(), data, count);
    }
    if (!chip_write(offset, bytes.data(), count))
        return false;
    mirrors_update(flash, offset, count);
    return true;
}

bool fill_bytes(Flash &flash, uint64_t offset, size_t count, uint8_t value)
{
    std::vector<uint8_t> bytes(count, value);
    if (!chip_write(offset, bytes.data(), count))
        return false;
    mirrors_update(flash, offset, count);
    return true;
}

// The kernel fills MEMGETINFO's record itself; like the directory entry above it keeps its own
// encoder rather than the library's codec, which reads this record on the other side.
int flash_getinfo(const Flash &flash, const Window &w, void *arg)
{
    uint8_t info[32] = {};
    bool msys = flash.kind == ChipKind::MSys;
    info[0] = msys ? 4 : 3;                           // MTD_NANDFLASH / MTD_NORFLASH
    put_u32(info, 4, msys ? 0x400u : 0xC00u);         // MTD_WRITEABLE (| MTD_BIT_WRITEABLE)
    put_u32(info, 8, static_cast<uint32_t>(w.size));
    put_u32(info, 12, static_cast<uint32_t>(msys ? kMSysUnit : flash.erase_size));
    put_u32(info, 16, msys ? 512u : 1u);              // write size
    memcpy(arg, info, sizeof info);
    return 0;
}

// Checks an erase or lock range against the window: whole erase blocks inside it.
bool range_ok(const Flash &flash, const Window &w, uint32_t start, uint32_t length, bool aligned)
{
    uint64_t erase = flash.kind == ChipKind::MSys ? kMSysUnit : flash.erase_size;
    if (length == 0 || static_cast<uint64_t>(start) + length > w.size)
        return false;
    return !aligned || erase == 0 || (start % erase == 0 && length % erase == 0);
}

int flash_set_partition(Flash &flash, int index, const void *arg, std::string *args)
{
    uint32_t base = get_u32(arg, 0), size = get_u32(arg, 4);
    *args = "base=" + hex32(base) + ",size=" + hex32(size);
    if (flash.kind != ChipKind::Nor)
        return ENOTTY;
    Window moved = flash.windows[index];
    moved.base = base;
    moved.size = size;
    if (size == 0 || !window_in_chip(flash, moved) ||
        (flash.erase_size && ((base - flash.chip_base) % flash.erase_size || size % flash.erase_size)))
        return EINVAL;
    // A window that stays where it is keeps its mirror as it is.
    bool same = moved.base == flash.windows[index].base && moved.size == flash.windows[index].size;
    flash.windows[index] = moved;
    if (!same)
        mirror_export(flash, index);
    return 0;
}

// The driver rewrites the directory block itself, so the entry's words are replaced outright.
// It writes them with its own encoder, not the library's flash-record codec, on purpose: this is
// the driver's side, and a fault in the codec must not hide behind the same code on both sides.
int flash_set_fis_entry(Flash &flash, int index, const void *arg, std::string *args)
{
    char name[16];
    memcpy(name, arg, 16);
    uint32_t base = get_u32(arg, 16), size = get_u32(arg, 20), length = get_u32(arg, 24);
    size_t nlen = strnlen(name, 16);
    *args = "name=" + std::string(name, nlen) + ",base=" + hex32(base) + ",size=" + hex32(size) +
            ",data_length=" + hex32(length);
    if (flash.kind != ChipKind::Nor)
        return ENOTTY;
    if (nlen == 0 || nlen == 16)
        return EINVAL;
    const Window &w = flash.windows[index];
    uint64_t wstart = w.base - flash.chip_base;
    for (uint64_t off = 0; off + 256 <= w.size; off += 256) {
        uint8_t entry[256];
        if (!chip_read(wstart + off, entry, sizeof entry))
            return EIO;
        if (entry[0] == 0xFF)
            break;
        char have[16] = {};
        memcpy(have, entry, strnlen(reinterpret_cast<char *>(entry), 16));
        char want[16] = {};
        memcpy(want, name, nlen);
        if (memcmp(have, want, 16) != 0)
            continue;
        Le32Put(entry + 16, base);
        Le32Put(entry + 24, size);
        Le32Put(entry + 32, length);
        if (!chip_write(wstart + off, entry, sizeof entry))
            return EIO;
        mirrors_update(flash, wstart + off, sizeof entry);
        return 0;
    }
    return ENOENT;
}

// What a read or write of a flash descriptor checks first: an injected fault, the window, the
// descriptor's access mode (`refused` is the mode that cannot do it) and the buffer. 0 when the
// transfer may go on, else the errno it fails with.
int transfer_error(const SimFd &sfd, const Flash &flash, const char *request, int refused, const void *buf,
                   size_t count)
{
    if (int err = fault_fail(sfd.path, request))
        return err;
    auto it = flash.windows.find(sfd.index);
    if (!flash.present || it == flash.windows.end() || !window_in_chip(flash, it->second))
        return ENODEV;
    if (sfd.accmode == refused)
        return EBADF;
    if (!buf && count)
        return EFAULT;
    return 0;
}

}  // namespace

int flash_open(const char *path, int flags, bool *claimed)
{
    *claimed = false;
    int index;
    if (!path || !device_index(path, "/dev/mtd", &index))
        return -1;
    StateLock lock;
    Flash flash = flash_load();
    if (!flash.present || !flash.windows.count(index))
        return -1;
    *claimed = true;
    mirrors_import(flash);
    std::string args = (flags & O_ACCMODE) == O_RDONLY ? "O_RDONLY"
                       : (flags & O_ACCMODE) == O_WRONLY ? "O_WRONLY" : "O_RDWR";
    return open_node(path, DevKind::Flash, index, flags, args);
}

int flash_ioctl(SimFd &sfd, unsigned long request, void *arg)
{
    StateLock lock;
    Flash flash = flash_load();
    mirrors_import(flash);
    Flash before = flash;
    std::string name = request_name(request), args;
    auto it = flash.windows.find(sfd.index);
    int err = 0;
    if (!flash.present || it == flash.windows.end() || !window_in_chip(flash, it->second)) {
        err = ENODEV;
    } else if (request != KORV_MSYS_FORMAT && !arg) {
        err = EFAULT;
    } else if ((err = fault_fail(sfd.path, name)) != 0) {
    } else {
        Window &w = it->second;
        uint64_t wstart = w.base - flash.chip_base;
        switch (request) {
        case KORV_MEMGETINFO:
            err = flash_getinfo(flash, w, arg);
            break;
        case KORV_MEMERASE: {
            uint32_t start = get_u32(arg, 0), length = get_u32(arg, 4);
            args = range_args(start, length);
            if (sfd.accmode == O_RDONLY)
                err = EPERM;  // as the MTD character device refuses an erase without write access
            else if (!range_ok(flash, w, start, length, true))
                err = EINVAL;
            else if (w.locked)
                err = EROFS;  // as NOR chips report a locked block
            else if (!fill_bytes(flash, wstart + start, length, 0xFF))
                err = EIO;
            else if (flash.kind == ChipKind::MSys && start < w.data_length)
                w.data_length = start;
            break;
        }
        case KORV_MEMLOCK:
        case KORV_MEMUNLOCK: {
            uint32_t start = get_u32(arg, 0), length = get_u32(arg, 4);
            args = range_args(start, length);
            if (!range_ok(flash, w, start, length, false))
                err = EINVAL;
            else
                w.locked = request == KORV_MEMLOCK;
            break;
        }
        case KORV_MTD_SET_PARTITION:
            err = flash_set_partition(flash, sfd.index, arg, &args);
            break;
        case KORV_MTD_SET_FIS_ENTRY:
            err = flash_set_fis_entry(flash, sfd.index, arg, &args);
            break;
        case KORV_MSYS_GET_TABLE:
        case KORV_MSYS_FORMAT:
        case KORV_MSYS_PARTITION:
            err = msys_request(flash, sfd.index, request, arg, &args);
            break;
        default:
            err = ENOTTY;
        }
    }
    flash_save_if_changed(before, flash);
    log_request(sfd.path, name, args, err ? -1 : 0, err);
    return err ? fail(err) : 0;
}

ssize_t flash_read(SimFd &sfd_ref, void *buf, size_t count)
{
    SimFd *sfd = &sfd_ref;
    StateLock lock;
    std::string args = "offset=" + hex32(sfd->pos) + ",count=" + std::to_string(count);
    Flash flash = flash_load();
    mirrors_import(flash);
    auto it = flash.windows.find(sfd->index);
    int err = transfer_error(*sfd, flash, "READ", O_WRONLY, buf, count);
    size_t n = 0;
    if (!err && sfd->pos < it->second.size) {
        const Window &w = it->second;
        n = static_cast<size_t>(std::min<uint64_t>(count, w.size - sfd->pos));
        if (n && !chip_read(w.base - flash.chip_base + sfd->pos, buf, n))
            err = EIO;
        if (!err) {
            auto faults = faults_load();
            bool consumed = false;
            for (size_t i = 0; i < faults.size();) {
                const Fault &f = faults[i];
                if (f.kind == "corrupt" && (f.device == "*" || f.device == sfd->path) &&
                    f.offset >= sfd->pos && f.offset < sfd->pos + n) {
                    static_cast<uint8_t *>(buf)[f.offset - sfd->pos] ^= f.mask;
                    if (f.once) {
                        faults.erase(faults.begin() + static_cast<long>(i));
                        consumed = true;
                        continue;
                    }
                }
                ++i;
            }
            if (consumed)
                faults_save(faults);
        }
    }
    if (err) {
        log_request(sfd->path, "READ", args, -1, err);
        return fail(err);
    }
    sfd->pos += n;
    log_request(sfd->path, "READ", args, static_cast<long long>(n), 0);
    return static_cast<ssize_t>(n);
}

ssize_t flash_write(SimFd &sfd_ref, const void *buf, size_t count)
{
    SimFd *sfd = &sfd_ref;
    StateLock lock;
    std::string args = "offset=" + hex32(sfd->pos) + ",count=" + std::to_string(count);
    Flash flash = flash_load();
    mirrors_import(flash);
    Flash before = flash;
    auto it = flash.windows.find(sfd->index);
    int err = transfer_error(*sfd, flash, "WRITE", O_RDONLY, buf, count);
    if (!err && it->second.locked)
        err = EROFS;
    if (!err && count && sfd->pos >= it->second.size)
        err = ENOSPC;
    size_t n = 0;
    if (!err) {
        Window &w = it->second;
        n = static_cast<size_t>(std::min<uint64_t>(count, w.size - sfd->pos));
        // A short-write fault lets its byte budget through, then fails the next write; with
        // errno 0 that write takes nothing and reports no error.
        auto faults = faults_load();
        for (size_t i = 0; i < faults.size(); ++i) {
            Fault &f = faults[i];
            if (f.kind != "shortwrite" || (f.device != "*" && f.device != sfd->path))
                continue;
            uint64_t left = f.offset > f.done ? f.offset - f.done : 0;
            if (left == 0 && n > 0) {
                err = f.err;
                n = 0;
                if (f.once)
                    faults.erase(faults.begin() + static_cast<long>(i));
            } else {
                n = static_cast<size_t>(std::min<uint64_t>(n, left));
                f.done += n;
            }
            faults_save(faults);
            break;
        }
        if (!err && n) {
            if (!program_bytes(flash, w.base - flash.chip_base + sfd->pos, static_cast<const uint8_t *>(buf), n))
                err = EIO;
            else if (flash.kind == ChipKind::MSys)
                w.data_length = std::max<uint64_t>(w.data_length, sfd->pos + n);
        }
    }
    flash_save_if_changed(before, flash);
    if (err) {
        log_request(sfd->path, "WRITE", args, -1, err);
        return fail(err);
    }
    sfd->pos += n;
    log_request(sfd->path, "WRITE", args, static_cast<long long>(n), 0);
    return static_cast<ssize_t>(n);
}

off_t flash_lseek(SimFd &sfd_ref, off_t offset, int whence)
{
    SimFd *sfd = &sfd_ref;
    StateLock lock;
    Flash flash = flash_load();
    auto it = flash.windows.find(sfd->index);
    long long size = it == flash.windows.end() ? 0 : static_cast<long long>(it->second.size);
    std::string args = "offset=" + std::to_string(static_cast<long long>(offset)) + ",whence=" +
                       std::to_string(whence);
    int err = fault_fail(sfd->path, "LSEEK");
    long long target = 0;
    if (!err) {
        if (whence == SEEK_SET)
            target = offset;
        else if (whence == SEEK_CUR)
            target = static_cast<long long>(sfd->pos) + offset;
        else if (whence == SEEK_END)
            target = size + offset;
        else
            err = EINVAL;
        if (!err && target < 0)
            err = EINVAL;
    }
    if (err) {
        log_request(sfd->path, "LSEEK", args, -1, err);
        return fail(err);
    }
    sfd->pos = static_cast<uint64_t>(target);
    log_request(sfd->path, "LSEEK", args, target, 0);
    return static_cast<off_t>(target);
}

}  // namespace korvsim
