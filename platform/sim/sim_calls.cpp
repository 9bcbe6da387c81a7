// The host build's kernel: flash windows over /.korvsim/chip.bin, md arrays and the device's
// system calls from /.korvsim/kernel.conf; every other path is an ordinary file.
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "korv/platform.h"
#include "sandbox_guard.h"
#include "sim_state.h"

using namespace korvsim;

namespace {

enum class DevKind { Flash, Md };

// A descriptor that the simulator answers for. The real descriptor is the tree's file
// (the mirror or the md node); its identity guards against a number reused after a bare close.
struct SimFd {
    DevKind kind;
    int index;
    int accmode;
    uint64_t pos = 0;
    dev_t dev;
    ino_t ino;
    std::string path;
};

std::map<int, SimFd> &sim_fds()
{
    static std::map<int, SimFd> fds;
    return fds;
}

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

// Parses "/dev/<prefix>N".
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
    default: {
        char buf[32];
        snprintf(buf, sizeof buf, "IOCTL_0x%08lX", request);
        return buf;
    }
    }
}

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
    flash.windows[index] = moved;
    mirror_export(flash, index);
    return 0;
}

// The driver rewrites the directory block itself, so the entry's words are replaced outright.
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

int msys_request(Flash &flash, int index, unsigned long request, void *arg, std::string *args)
{
    if (flash.kind != ChipKind::MSys || index != 0)
        return ENOTTY;
    if (request == KORV_MSYS_GET_TABLE) {
        uint8_t table[64] = {};
        for (int i = 0; i < kMSysPartitions; ++i) {
            auto it = flash.windows.find(i);
            if (it == flash.windows.end())
                continue;
            put_u32(table, 8 * i, static_cast<uint32_t>(it->second.size));
            put_u32(table, 8 * i + 4, static_cast<uint32_t>(it->second.data_length));
        }
        memcpy(arg, table, sizeof table);
        return 0;
    }
    if (request == KORV_MSYS_FORMAT) {
        uintptr_t units = reinterpret_cast<uintptr_t>(arg);
        *args = "units=" + std::to_string(units);
        if (units != kMSysUnits)
            return EINVAL;
        flash.msys_prepared = true;
        return 0;
    }
    // KORV_MSYS_PARTITION
    uint32_t counts[kMSysPartitions];
    uint64_t total = 0;
    for (int i = 0; i < kMSysPartitions; ++i) {
        counts[i] = get_u32(arg, 4 * static_cast<size_t>(i));
        total += counts[i];
        *args += (i ? "," : "units=") + std::to_string(counts[i]);
    }
    if (!flash.msys_prepared)
        return EPERM;
    if (total > kMSysUnits || total * kMSysUnit > flash.chip_size ||
        std::find(counts, counts + kMSysPartitions, 0u) != counts + kMSysPartitions)
        return EINVAL;
    uint64_t base = flash.chip_base;
    for (int i = 0; i < kMSysPartitions; ++i) {
        Window w;
        w.base = base;
        w.size = static_cast<uint64_t>(counts[i]) * kMSysUnit;
        flash.windows[i] = w;
        base += w.size;
    }
    flash.msys_prepared = false;
    std::vector<uint8_t> erased(total * kMSysUnit, 0xFF);
    chip_write(0, erased.data(), erased.size());
    for (int i = 0; i < kMSysPartitions; ++i)
        mirror_export(flash, i);
    return 0;
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

int md_ioctl(SimFd &sfd, unsigned long request, void *arg)
{
    StateLock lock;
    Conf kernel = kernel_load();
    std::string name = request_name(request);
    std::string prefix = "md" + std::to_string(sfd.index) + ".";
    auto array = kernel.find(prefix + "array");
    int err = 0;
    if (!arg) {
        err = EFAULT;
    } else if ((err = fault_fail(sfd.path, name)) != 0) {
    } else if (request == KORV_MD_GET_ARRAY_INFO) {
        if (array == kernel.end()) {
            err = ENODEV;
        } else {
            int32_t words[18] = {};
            std::string text = array->second;
            size_t i = 0, at = 0;
            while (i < 18 && at <= text.size()) {
                size_t comma = text.find(',', at);
                long long v = 0;
                parse_int(text.substr(at, comma == std::string::npos ? std::string::npos : comma - at), &v);
                words[i++] = static_cast<int32_t>(v);
                if (comma == std::string::npos)
                    break;
                at = comma + 1;
            }
            memcpy(arg, words, sizeof words);
        }
    } else if (request == KORV_BLKGETSIZE64) {
        uint64_t size = 0;
        auto it = kernel.find(prefix + "size");
        if (it != kernel.end())
            parse_u64(it->second, &size);
        memcpy(arg, &size, sizeof size);
    } else if (request == KORV_MD_REBUILD_STATUS) {
        if (array == kernel.end()) {
            err = ENODEV;
        } else {
            unsigned a = 0, b = 0, c = 0;
            auto it = kernel.find(prefix + "rebuild");
            if (it != kernel.end())
                sscanf(it->second.c_str(), "%u,%u,%u", &a, &b, &c);
            uint32_t words[3] = {a, b, c};
            memcpy(arg, words, sizeof words);
        }
    } else {
        err = ENOTTY;
    }
    log_request(sfd.path, name, "", err ? -1 : 0, err);
    return err ? fail(err) : 0;
}

}  // namespace

static int sim_flag_get(uint32_t *word)
{
    StateLock lock;
    Conf kernel = kernel_load();
    int err = fault_fail("kernel", "SYS401");
    uint64_t flag = 0;
    if (!err && kernel["syscall401"] != "present")
        err = ENOSYS;
    if (!err && !word)
        err = EFAULT;
    if (!err) {
        parse_u64(kernel["flag_word"], &flag);
        *word = static_cast<uint32_t>(flag);
    }
    log_request("kernel", "SYS401", "", err ? -1 : 0, err);
    return err ? fail(err) : 0;
}

static int sim_driver_buffer(int allocate)
{
    StateLock lock;
    Conf kernel = kernel_load();
    int err = fault_fail("kernel", "SYS405");
    if (!err) {
        auto it = kernel.find("syscall405");
        if (it != kernel.end() && it->second != "0") {
            int e = errno_parse(it->second);
            err = e > 0 ? e : EINVAL;
        }
    }
    if (!err) {
        kernel["driver_buffer"] = allocate ? "allocated" : "free";
        kernel_save(kernel);
    }
    log_request("kernel", "SYS405", "arg=" + std::to_string(allocate), err ? -1 : 0, err);
    return err ? fail(err) : 0;
}

static int sim_uptime(long *seconds)
{
    StateLock lock;
    Conf kernel = kernel_load();
    int err = fault_fail("kernel", "UPTIME");
    long long up = 100;  // a device booted shortly before the test
    auto it = kernel.find("uptime");
    if (it != kernel.end())
        parse_int(it->second, &up);
    if (!err && !seconds)
        err = EFAULT;
    if (!err)
        *seconds = static_cast<long>(up);
    log_request("kernel", "UPTIME", "", err ? -1 : up, err);
    return err ? fail(err) : 0;
}

namespace {

// Opens the tree's node of a simulated device and remembers the descriptor. The node is only a
// handle: data goes through the chip (or the md settings), never through this descriptor.
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

static int sim_open(const char *path, int flags)
{
    int index;
    if (path && device_index(path, "/dev/mtd", &index)) {
        StateLock lock;
        Flash flash = flash_load();
        if (flash.present && flash.windows.count(index)) {
            mirrors_import(flash);
            std::string args = (flags & O_ACCMODE) == O_RDONLY ? "O_RDONLY"
                               : (flags & O_ACCMODE) == O_WRONLY ? "O_WRONLY" : "O_RDWR";
            return open_node(path, DevKind::Flash, index, flags, args);
        }
    }
    if (path && device_index(path, "/dev/md", &index)) {
        StateLock lock;
        return open_node(path, DevKind::Md, index, flags, "");
    }
    return open(path, flags | O_CLOEXEC, 0666);
}

static int sim_close(int fd)
{
    if (SimFd *sfd = find_fd(fd)) {
        std::string path = sfd->path;
        sim_fds().erase(fd);
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
    if (!sfd)
        return read(fd, buf, count);
    StateLock lock;
    std::string args = "offset=" + hex32(sfd->pos) + ",count=" + std::to_string(count);
    if (sfd->kind == DevKind::Md) {
        log_request(sfd->path, "READ", args, -1, EINVAL);
        return fail(EINVAL);
    }
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

static ssize_t sim_write(int fd, const void *buf, size_t count)
{
    SimFd *sfd = find_fd(fd);
    if (!sfd)
        return write(fd, buf, count);
    StateLock lock;
    std::string args = "offset=" + hex32(sfd->pos) + ",count=" + std::to_string(count);
    if (sfd->kind == DevKind::Md) {
        log_request(sfd->path, "WRITE", args, -1, EINVAL);
        return fail(EINVAL);
    }
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

static off_t sim_lseek(int fd, off_t offset, int whence)
{
    SimFd *sfd = find_fd(fd);
    if (!sfd)
        return lseek(fd, offset, whence);
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

static int sim_ioctl(int fd, unsigned long request, void *arg)
{
    SimFd *sfd = find_fd(fd);
    if (!sfd)
        return ioctl(fd, request, arg);
    if (sfd->kind == DevKind::Md)
        return md_ioctl(*sfd, request, arg);
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
    return keep_errno([&] { return sim_flag_get(word); });
}

extern "C" int korv_plat_driver_buffer(int allocate)
{
    return keep_errno([&] { return sim_driver_buffer(allocate); });
}

extern "C" int korv_plat_uptime(long *seconds)
{
    return keep_errno([&] { return sim_uptime(seconds); });
}

extern "C" int korv_plat_open(const char *path, int flags)
{
    return keep_errno([&] { return sim_open(path, flags); });
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
// the check above), so that the shell programs it runs read "/dev/mtdN" as before.
__attribute__((constructor)) void restore_mirrors()
{
    int saved = errno;
    struct stat st {};
    if (stat(kFlashConf, &st) == 0) {
        StateLock lock;
        Flash flash = flash_load();
        Flash before = flash;
        mirrors_import(flash);
        flash_save_if_changed(before, flash);
    }
    errno = saved;
}

}  // namespace
