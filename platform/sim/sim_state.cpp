// The simulator's state files: parsing, atomic rewrites, the chip image and its mirrors.
#include "sim_state.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/statfs.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "sandbox_guard.h"

namespace korvsim {

namespace {

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }
    bool ok() const { return fd_ >= 0; }

private:
    int fd_;
};

// pread or pwrite until all `count` bytes are through; EINTR is retried, 0 or an error ends it.
template <typename Ptr, typename Io>
bool transfer_all(Io io, int fd, Ptr p, size_t count, off_t offset)
{
    while (count > 0) {
        ssize_t n = io(fd, p, count, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        count -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
}

bool write_all(int fd, const void *buf, size_t count, off_t offset)
{
    auto io = [](int f, const char *p, size_t n, off_t at) { return pwrite(f, p, n, at); };
    return transfer_all(io, fd, static_cast<const char *>(buf), count, offset);
}

bool read_all(int fd, void *buf, size_t count, off_t offset)
{
    auto io = [](int f, char *p, size_t n, off_t at) { return pread(f, p, n, at); };
    return transfer_all(io, fd, static_cast<char *>(buf), count, offset);
}

void ensure_state_dir()
{
    mkdir(kStateDir, 0755);
}

std::optional<Stamp> stamp_of(const std::string &path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return Stamp{static_cast<uint64_t>(st.st_ino), static_cast<uint64_t>(st.st_size),
                 static_cast<int64_t>(st.st_mtim.tv_sec), static_cast<int64_t>(st.st_mtim.tv_nsec)};
}

std::string stamp_format(const Stamp &s)
{
    return std::to_string(s.ino) + ":" + std::to_string(s.size) + ":" + std::to_string(s.sec) + ":" +
           std::to_string(s.nsec);
}

std::optional<Stamp> stamp_parse(const std::string &text)
{
    Stamp s;
    unsigned long long ino, size;
    long long sec, nsec;
    if (sscanf(text.c_str(), "%llu:%llu:%lld:%lld", &ino, &size, &sec, &nsec) != 4)
        return std::nullopt;
    s.ino = ino;
    s.size = size;
    s.sec = sec;
    s.nsec = nsec;
    return s;
}

uint64_t conf_u64(const Conf &conf, const std::string &key, uint64_t fallback = 0)
{
    auto it = conf.find(key);
    uint64_t v;
    if (it == conf.end() || !parse_u64(it->second, &v))
        return fallback;
    return v;
}

struct ErrnoName {
    int err;
    const char *name;
};

constexpr ErrnoName kErrnoNames[] = {
    {EPERM, "EPERM"},   {ENOENT, "ENOENT"}, {EINTR, "EINTR"},   {EIO, "EIO"},
    {ENXIO, "ENXIO"},   {EBADF, "EBADF"},   {EAGAIN, "EAGAIN"}, {ENOMEM, "ENOMEM"},
    {EACCES, "EACCES"}, {EFAULT, "EFAULT"}, {EBUSY, "EBUSY"},   {EEXIST, "EEXIST"},
    {ENODEV, "ENODEV"}, {EINVAL, "EINVAL"}, {ENOTTY, "ENOTTY"}, {EFBIG, "EFBIG"},
    {ENOSPC, "ENOSPC"}, {ESPIPE, "ESPIPE"}, {EROFS, "EROFS"},   {ENOSYS, "ENOSYS"},
    {ETIMEDOUT, "ETIMEDOUT"},
};

}  // namespace

StateLock::StateLock()
{
    ensure_state_dir();
    fd_ = open(kLockFile, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ >= 0) {
        while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
}

StateLock::~StateLock()
{
    if (fd_ >= 0)
        close(fd_);
}

bool read_whole(const char *path, std::string *out)
{
    Fd fd(open(path, O_RDONLY | O_CLOEXEC));
    if (!fd.ok())
        return false;
    out->clear();
    char buf[65536];
    for (;;) {
        ssize_t n = read(fd.get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        out->append(buf, static_cast<size_t>(n));
    }
}

bool write_file_atomic(const char *path, const std::string &content)
{
    ensure_state_dir();
    std::string tmp = std::string(path) + ".XXXXXX";
    std::vector<char> name(tmp.begin(), tmp.end());
    name.push_back('\0');
    int raw = mkstemp(name.data());
    if (raw < 0)
        return false;
    bool ok;
    {
        Fd fd(raw);
        // No fsync: the tree is a scratch device of one test, and the rename alone is atomic.
        ok = write_all(fd.get(), content.data(), content.size(), 0) && fchmod(fd.get(), 0644) == 0;
    }
    if (ok && rename(name.data(), path) == 0)
        return true;
    unlink(name.data());
    return false;
}

namespace {

// Calls `take` with every line of a state file but blank ones and '#' comments.
template <typename Take>
void each_line(const char *path, Take take)
{
    std::string text;
    if (!read_whole(path, &text))
        return;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#')
            take(line);
}

}  // namespace

Conf conf_load(const char *path)
{
    Conf conf;
    each_line(path, [&](const std::string &line) {
        size_t eq = line.find('=');
        if (eq != std::string::npos)
            conf[line.substr(0, eq)] = line.substr(eq + 1);
    });
    return conf;
}

bool conf_save(const char *path, const Conf &conf)
{
    std::string text;
    for (const auto &[k, v] : conf)
        text += k + "=" + v + "\n";
    return write_file_atomic(path, text);
}

std::string hex32(uint64_t value)
{
    char buf[24];
    snprintf(buf, sizeof buf, "0x%08llx", static_cast<unsigned long long>(value));
    return buf;
}

bool parse_u64(const std::string &text, uint64_t *value)
{
    if (text.empty() || text[0] == '-')
        return false;
    errno = 0;
    char *end = nullptr;
    unsigned long long v = strtoull(text.c_str(), &end, 0);
    if (errno != 0 || end == text.c_str() || *end != '\0')
        return false;
    *value = v;
    return true;
}

bool parse_int(const std::string &text, long long *value)
{
    if (text.empty())
        return false;
    errno = 0;
    char *end = nullptr;
    long long v = strtoll(text.c_str(), &end, 0);
    if (errno != 0 || end == text.c_str() || *end != '\0')
        return false;
    *value = v;
    return true;
}

std::string errno_name(int err)
{
    for (const auto &e : kErrnoNames)
        if (e.err == err)
            return e.name;
    return std::to_string(err);
}

int errno_parse(const std::string &text)
{
    for (const auto &e : kErrnoNames)
        if (text == e.name)
            return e.err;
    long long v;
    if (parse_int(text, &v) && v >= 0 && v < 4096)
        return static_cast<int>(v);
    return -1;
}

Flash flash_load()
{
    Flash flash;
    Conf conf = conf_load(kFlashConf);
    auto kind = conf.find("kind");
    if (kind == conf.end())
        return flash;
    flash.present = true;
    flash.kind = kind->second == "msys" ? ChipKind::MSys : ChipKind::Nor;
    flash.chip_base = conf_u64(conf, "chip_base");
    flash.chip_size = conf_u64(conf, "chip_size");
    flash.erase_size = conf_u64(conf, "erase_size");
    flash.msys_prepared = conf_u64(conf, "msys_prepared") != 0;
    for (const auto &[key, value] : conf) {
        int index;
        char field[32];
        if (sscanf(key.c_str(), "mtd%d.%31s", &index, field) != 2 || index < 0)
            continue;
        Window &w = flash.windows[index];
        std::string f = field;
        uint64_t v = 0;
        if (f == "stamp")
            w.stamp = stamp_parse(value);
        else if (parse_u64(value, &v)) {
            if (f == "base")
                w.base = v;
            else if (f == "size")
                w.size = v;
            else if (f == "locked")
                w.locked = v != 0;
            else if (f == "data_length")
                w.data_length = v;
        }
    }
    return flash;
}

namespace {

Conf flash_conf(const Flash &flash)
{
    Conf conf;
    conf["kind"] = flash.kind == ChipKind::MSys ? "msys" : "nor";
    conf["chip_base"] = hex32(flash.chip_base);
    conf["chip_size"] = hex32(flash.chip_size);
    conf["erase_size"] = hex32(flash.erase_size);
    conf["msys_prepared"] = flash.msys_prepared ? "1" : "0";
    for (const auto &[index, w] : flash.windows) {
        std::string p = "mtd" + std::to_string(index) + ".";
        conf[p + "base"] = hex32(w.base);
        conf[p + "size"] = hex32(w.size);
        conf[p + "locked"] = w.locked ? "1" : "0";
        conf[p + "data_length"] = hex32(w.data_length);
        if (w.stamp)
            conf[p + "stamp"] = stamp_format(*w.stamp);
    }
    return conf;
}

}  // namespace

bool flash_save(const Flash &flash)
{
    return conf_save(kFlashConf, flash_conf(flash));
}

bool flash_save_if_changed(const Flash &before, const Flash &after)
{
    Conf b = flash_conf(before), a = flash_conf(after);
    return a == b || conf_save(kFlashConf, a);
}

std::string mirror_path(int index)
{
    return "/dev/mtd" + std::to_string(index);
}

std::string mirror_store(int index)
{
    return std::string(kMirrorDir) + "/" + std::to_string(index) + "/flash";
}

void mirror_remove(int index)
{
    unlink(mirror_path(index).c_str());
    unlink(mirror_store(index).c_str());
}

bool window_in_chip(const Flash &flash, const Window &w)
{
    return w.base >= flash.chip_base && w.size <= flash.chip_size &&
           w.base - flash.chip_base <= flash.chip_size - w.size;
}

bool chip_read(uint64_t offset, void *buf, size_t count)
{
    Fd fd(open(kChipBin, O_RDONLY | O_CLOEXEC));
    return fd.ok() && read_all(fd.get(), buf, count, static_cast<off_t>(offset));
}

bool chip_write(uint64_t offset, const void *buf, size_t count)
{
    // In place: the chip image is only the device's memory, rewritten range by range.
    Fd fd(open(kChipBin, O_WRONLY | O_CLOEXEC));
    return fd.ok() && write_all(fd.get(), buf, count, static_cast<off_t>(offset));
}

bool chip_create(uint64_t size, uint8_t fill)
{
    std::string bytes(size, static_cast<char>(fill));
    return write_file_atomic(kChipBin, bytes);
}

namespace {

// Sets the planted time and records what the mirror looks like now.
void mirror_seal(Flash &flash, int index, int fd)
{
    struct timespec times[2] = {{kMirrorMtime, 0}, {kMirrorMtime, 0}};
    futimens(fd, times);
    flash.windows[index].stamp = stamp_of(mirror_path(index));
}

}  // namespace

namespace {

// A tmpfs of the window's size (whole pages) for the mirror's bytes, so that a program writing
// past the window's end fails with ENOSPC there, as on the device. False when none can be had
// (a window of size 0, no right to mount): the mirror is then a plain file.
bool mirror_room(int index, uint64_t size)
{
    uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    uint64_t want = (size + page - 1) / page * page;
    if (want == 0)
        return false;  // a tmpfs of size 0 would have no limit
    static const bool inside = korv_inside_sandbox();
    if (!inside)
        return false;  // never mount anything over a host's folders
    std::string dir = std::string(kMirrorDir) + "/" + std::to_string(index);
    mkdir(kMirrorDir, 0755);
    mkdir(dir.c_str(), 0755);
    struct stat d {}, parent {};
    if (stat(dir.c_str(), &d) != 0 || stat(kMirrorDir, &parent) != 0)
        return false;
    bool mounted = d.st_dev != parent.st_dev;
    struct statfs fs {};
    if (mounted && statfs(dir.c_str(), &fs) == 0 && fs.f_type == TMPFS_MAGIC &&
        static_cast<uint64_t>(fs.f_blocks) * static_cast<uint64_t>(fs.f_bsize) == want)
        return true;
    std::string options = "size=" + std::to_string(want) + ",mode=0755";
    unsigned long flags = MS_NOSUID | MS_NODEV;
    if (mounted) {
        // A tmpfs does not shrink below what it holds; the export rewrites the bytes anyway.
        if (truncate(mirror_store(index).c_str(), 0) != 0 && errno != ENOENT)
            return false;
        return mount("korvsim", dir.c_str(), "tmpfs", flags | MS_REMOUNT, options.c_str()) == 0;
    }
    return mount("korvsim", dir.c_str(), "tmpfs", flags, options.c_str()) == 0;
}

// Makes "/dev/mtdN" the symbolic link to `target`, or a plain file when target is the path.
void mirror_link(const std::string &path, const std::string &target)
{
    mkdir("/dev", 0755);
    struct stat st {};
    bool is_link = lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    if (target == path) {
        if (is_link)
            unlink(path.c_str());
        return;
    }
    if (is_link) {
        char have[256];
        ssize_t n = readlink(path.c_str(), have, sizeof have);
        if (n >= 0 && target.compare(0, std::string::npos, have, static_cast<size_t>(n)) == 0)
            return;
    }
    unlink(path.c_str());
    if (symlink(target.c_str(), path.c_str()) != 0)
        return;
}

}  // namespace

bool mirror_export(Flash &flash, int index)
{
    Window &w = flash.windows[index];
    std::string path = mirror_path(index);
    std::string target = mirror_room(index, w.size) ? mirror_store(index) : path;
    mirror_link(path, target);
    // Kept in place (same inode) so that descriptors on the mirror stay valid.
    Fd fd(open(target.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    if (!fd.ok())
        return false;
    std::vector<uint8_t> bytes(w.size, 0xFF);
    if (window_in_chip(flash, w) && w.size > 0)
        chip_read(w.base - flash.chip_base, bytes.data(), bytes.size());
    bool ok = (bytes.empty() || write_all(fd.get(), bytes.data(), bytes.size(), 0)) &&
              ftruncate(fd.get(), static_cast<off_t>(w.size)) == 0;
    mirror_seal(flash, index, fd.get());
    return ok;
}

void mirrors_update(Flash &flash, uint64_t offset, size_t count)
{
    uint64_t end = offset + count;
    for (auto &[index, w] : flash.windows) {
        if (!window_in_chip(flash, w))
            continue;
        uint64_t wstart = w.base - flash.chip_base, wend = wstart + w.size;
        uint64_t lo = std::max(offset, wstart), hi = std::min(end, wend);
        if (lo >= hi)
            continue;
        std::vector<uint8_t> bytes(hi - lo);
        if (!chip_read(lo, bytes.data(), bytes.size()))
            continue;
        Fd fd(open(mirror_path(index).c_str(), O_WRONLY | O_CLOEXEC));
        if (!fd.ok()) {
            mirror_export(flash, index);
            continue;
        }
        write_all(fd.get(), bytes.data(), bytes.size(), static_cast<off_t>(lo - wstart));
        mirror_seal(flash, index, fd.get());
    }
}

void mirrors_import(Flash &flash)
{
    if (!flash.present)
        return;
    bool changed = false;
    for (auto &[index, w] : flash.windows) {
        std::string path = mirror_path(index);
        auto now = stamp_of(path);
        if (now && w.stamp && *now == *w.stamp)
            continue;
        changed = true;
        std::string data;
        if (!now || !read_whole(path.c_str(), &data)) {
            // A missing mirror is put back; the chip keeps its bytes.
            log_request(path, "IMPORT", "missing", -1, ENOENT);
            mirror_export(flash, index);
            continue;
        }
        if (!window_in_chip(flash, w)) {
            log_request(path, "IMPORT", "bytes=" + std::to_string(data.size()), -1, EINVAL);
            mirror_export(flash, index);
            continue;
        }
        std::string args = "bytes=" + std::to_string(data.size());
        if (w.locked) {
            log_request(path, "IMPORT", args, -1, EROFS);
            mirror_export(flash, index);
            continue;
        }
        int err = 0;
        if (data.size() > w.size) {
            data.resize(w.size);  // the device ends at its window: the rest never reached it
            err = ENOSPC;
        }
        uint64_t offset = w.base - flash.chip_base;
        std::vector<uint8_t> old(data.size());
        if (!data.empty() && chip_read(offset, old.data(), old.size())) {
            if (flash.kind == ChipKind::Nor)
                for (size_t i = 0; i < old.size(); ++i)
                    old[i] &= static_cast<uint8_t>(data[i]);
            else
                memcpy(old.data(), data.data(), data.size());
            chip_write(offset, old.data(), old.size());
        }
        if (flash.kind == ChipKind::MSys)
            w.data_length = data.size();
        log_request(path, "IMPORT", args, err ? -1 : static_cast<long long>(data.size()), err);
        mirror_export(flash, index);
        if (!data.empty())
            mirrors_update(flash, offset, data.size());  // windows sharing these bytes
    }
    if (changed)
        flash_save(flash);
}

void log_request(const std::string &device, const std::string &request, const std::string &args,
                 long long result, int err)
{
    ensure_state_dir();
    std::string line = device + " " + request + " " + (args.empty() ? "-" : args) + " -> " +
                       std::to_string(result);
    if (result < 0)
        line += " " + errno_name(err);
    line += "\n";
    Fd fd(open(kRequestsLog, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (fd.ok()) {
        ssize_t n = write(fd.get(), line.data(), line.size());
        (void)n;
    }
}

std::string fault_format(const Fault &f)
{
    std::string when = f.once ? "once" : "always";
    if (f.kind == "fail")
        return "fail " + f.device + " " + f.request + " " + errno_name(f.err) + " " + when;
    if (f.kind == "corrupt") {
        char mask[8];
        snprintf(mask, sizeof mask, "0x%02x", f.mask);
        return "corrupt " + f.device + " " + hex32(f.offset) + " " + mask + " " + when;
    }
    return "shortwrite " + f.device + " " + std::to_string(f.offset) + " " + errno_name(f.err) + " " +
           when + " " + std::to_string(f.done);
}

std::optional<Fault> fault_parse(const std::string &line)
{
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    if (words.size() < 5)
        return std::nullopt;
    Fault f;
    f.kind = words[0];
    f.device = words[1];
    f.once = words[4] == "once";
    if (words[4] != "once" && words[4] != "always")
        return std::nullopt;
    uint64_t v;
    if (f.kind == "fail") {
        f.request = words[2];
        f.err = errno_parse(words[3]);
        if (f.err < 0)
            return std::nullopt;
    } else if (f.kind == "corrupt") {
        if (!parse_u64(words[2], &f.offset) || !parse_u64(words[3], &v) || v > 0xFF)
            return std::nullopt;
        f.mask = static_cast<uint8_t>(v);
    } else if (f.kind == "shortwrite") {
        if (!parse_u64(words[2], &f.offset))
            return std::nullopt;
        f.err = errno_parse(words[3]);
        if (f.err < 0)
            return std::nullopt;
        if (words.size() > 5 && parse_u64(words[5], &v))
            f.done = v;
    } else {
        return std::nullopt;
    }
    return f;
}

std::vector<Fault> faults_load()
{
    std::vector<Fault> faults;
    each_line(kFaultsConf, [&](const std::string &line) {
        if (auto f = fault_parse(line))
            faults.push_back(*f);
    });
    return faults;
}

bool faults_save(const std::vector<Fault> &faults)
{
    std::string text;
    for (const auto &f : faults)
        text += fault_format(f) + "\n";
    return write_file_atomic(kFaultsConf, text);
}

int fault_fail(const std::string &device, const std::string &request)
{
    auto faults = faults_load();
    for (size_t i = 0; i < faults.size(); ++i) {
        const Fault &f = faults[i];
        if (f.kind != "fail" || f.request != request || (f.device != "*" && f.device != device))
            continue;
        int err = f.err;
        if (f.once) {
            faults.erase(faults.begin() + static_cast<long>(i));
            faults_save(faults);
        }
        return err;
    }
    return 0;
}

Conf kernel_load()
{
    return conf_load(kKernelConf);
}

bool kernel_save(const Conf &conf)
{
    return conf_save(kKernelConf, conf);
}

}  // namespace korvsim
