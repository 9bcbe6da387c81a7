// The simulated flash's state: windows in flash.conf, the chip image and its mirrors.
#include <errno.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <stdio.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/statfs.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "sandbox_guard.h"
#include "sim_flash.h"

namespace korvsim {

namespace {

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

}  // namespace

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
    // Laid out under a temporary name and renamed, a chunk at a time.
    std::string name = std::string(kChipBin) + ".new";
    bool ok;
    {
        Fd fd(open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        ok = fd.ok();
        // One chunk of the fill serves every write.
        size_t first = static_cast<size_t>(std::min<uint64_t>(kChunk, size));
        uint8_t *bytes = scratch(0, first);
        memset(bytes, fill, first);
        for (uint64_t at = 0; ok && at < size; at += kChunk) {
            size_t n = static_cast<size_t>(std::min<uint64_t>(kChunk, size - at));
            ok = write_all(fd.get(), bytes, n, static_cast<off_t>(at));
        }
    }
    if (ok && rename(name.c_str(), kChipBin) == 0)
        return true;
    unlink(name.c_str());
    return false;
}

uint8_t *scratch(int slot, size_t size)
{
    // Never freed: the exit hook may still need them after static destructors ran.
    static auto *buffers = new std::vector<uint8_t>[3];
    std::vector<uint8_t> &b = buffers[slot];
    if (b.size() < size)
        b.resize(size);
    return b.data();
}

namespace {

// Sets the planted time and records what the mirror looks like now.
void mirror_seal(Flash &flash, int index, int fd)
{
    struct timespec times[2] = {{kMirrorMtime, 0}, {kMirrorMtime, 0}};
    futimens(fd, times);
    flash.windows[index].stamp = stamp_of(mirror_path(index));
}

// Compared and rewritten in pages: an unchanged page is never written.
constexpr size_t kPage = 4096;

// Calls put(from, length) for each run of pages where a and b differ; false as soon as put does.
template <typename Put>
bool each_difference(const uint8_t *a, const uint8_t *b, size_t count, Put put)
{
    size_t at = 0;
    while (at < count) {
        size_t n = std::min(kPage, count - at);
        if (memcmp(a + at, b + at, n) == 0) {
            at += n;
            continue;
        }
        size_t from = at;
        while (at < count && memcmp(a + at, b + at, std::min(kPage, count - at)) != 0)
            at += std::min(kPage, count - at);
        if (!put(from, at - from))
            return false;
    }
    return true;
}

// The mirrors one change writes into: each opened once, and sealed once when the change is done.
// A mirror that cannot be opened is written out whole then, from the changed chip.
class MirrorWrites {
public:
    MirrorWrites(Flash &flash, int skip) : flash_(flash), skip_(skip) {}
    MirrorWrites(const MirrorWrites &) = delete;
    MirrorWrites &operator=(const MirrorWrites &) = delete;
    ~MirrorWrites()
    {
        for (auto &[index, fd] : fds_) {
            if (fd->ok())
                mirror_seal(flash_, index, fd->get());
            else
                mirror_export(flash_, index);
        }
    }

    // Chip range [offset, offset+count) now holds `bytes`: they go into every mirror showing them.
    void put(uint64_t offset, const uint8_t *bytes, size_t count)
    {
        if (skip_ == kNoMirrors)
            return;
        uint64_t end = offset + count;
        for (auto &[index, w] : flash_.windows) {
            if (index == skip_ || !window_in_chip(flash_, w))
                continue;
            uint64_t wstart = w.base - flash_.chip_base, wend = wstart + w.size;
            uint64_t lo = std::max(offset, wstart), hi = std::min(end, wend);
            if (lo >= hi)
                continue;
            Fd &fd = mirror(index);
            if (fd.ok())
                write_all(fd.get(), bytes + (lo - offset), hi - lo, static_cast<off_t>(lo - wstart));
        }
    }

private:
    Fd &mirror(int index)
    {
        auto it = fds_.find(index);
        if (it == fds_.end())
            it = fds_.emplace(index, std::make_unique<Fd>(open(mirror_path(index).c_str(), O_WRONLY | O_CLOEXEC)))
                     .first;
        return *it->second;
    }

    Flash &flash_;
    int skip_;
    std::map<int, std::unique_ptr<Fd>> fds_;
};

}  // namespace

bool chip_change(Flash &flash, uint64_t offset, size_t count, Program how, const uint8_t *data, uint8_t fill,
                 int skip_mirror)
{
    Fd chip(open(kChipBin, O_RDWR | O_CLOEXEC));
    if (!chip.ok())
        return false;
    MirrorWrites mirrors(flash, skip_mirror);
    for (size_t at = 0; at < count; at += kChunk) {
        size_t n = std::min(kChunk, count - at);
        uint8_t *old = scratch(0, n), *now = scratch(1, n);
        if (!read_all(chip.get(), old, n, static_cast<off_t>(offset + at)))
            return false;
        switch (how) {
        case Program::Fill:
            memset(now, fill, n);
            break;
        case Program::And:
            for (size_t i = 0; i < n; ++i)
                now[i] = old[i] & data[at + i];
            break;
        case Program::Copy:
            memcpy(now, data + at, n);
            break;
        }
        bool ok = each_difference(old, now, n, [&](size_t from, size_t len) {
            uint64_t where = offset + at + from;
            if (!write_all(chip.get(), now + from, len, static_cast<off_t>(where)))
                return false;
            mirrors.put(where, now + from, len);
            return true;
        });
        if (!ok)
            return false;
    }
    return true;
}

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

Fd mirror_open(Flash &flash, int index)
{
    const Window &w = flash.windows[index];
    std::string path = mirror_path(index);
    std::string target = mirror_room(index, w.size) ? mirror_store(index) : path;
    mirror_link(path, target);
    // Kept in place (same inode) so that descriptors on the mirror stay valid.
    return Fd(open(target.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
}

bool mirror_close(Flash &flash, int index, const Fd &fd)
{
    bool ok = ftruncate(fd.get(), static_cast<off_t>(flash.windows[index].size)) == 0;
    mirror_seal(flash, index, fd.get());
    return ok;
}

bool mirror_export(Flash &flash, int index)
{
    Fd fd = mirror_open(flash, index);
    if (!fd.ok())
        return false;
    const Window &w = flash.windows[index];
    Fd chip(window_in_chip(flash, w) ? open(kChipBin, O_RDONLY | O_CLOEXEC) : -1);
    uint64_t wstart = w.base - flash.chip_base;
    bool ok = true;
    for (uint64_t at = 0; ok && at < w.size; at += kChunk) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(kChunk, w.size - at));
        uint8_t *bytes = scratch(2, n);
        if (!chip.ok() || !read_all(chip.get(), bytes, n, static_cast<off_t>(wstart + at)))
            memset(bytes, 0xFF, n);
        ok = write_all(fd.get(), bytes, n, static_cast<off_t>(at));
    }
    return mirror_close(flash, index, fd) && ok;
}

void mirrors_update(Flash &flash, uint64_t offset, size_t count)
{
    Fd chip(open(kChipBin, O_RDONLY | O_CLOEXEC));
    if (!chip.ok())
        return;
    MirrorWrites mirrors(flash, -1);
    for (size_t at = 0; at < count; at += kChunk) {
        size_t n = std::min(kChunk, count - at);
        uint8_t *bytes = scratch(2, n);
        if (read_all(chip.get(), bytes, n, static_cast<off_t>(offset + at)))
            mirrors.put(offset + at, bytes, n);
    }
}

namespace {

// Whether "/dev/mtdN" is still the link to the mirror's own file that the export made.
bool mirror_linked(int index)
{
    struct stat st {};
    if (lstat(mirror_path(index).c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return false;
    char have[256];
    ssize_t n = readlink(mirror_path(index).c_str(), have, sizeof have);
    return n >= 0 && mirror_store(index).compare(0, std::string::npos, have, static_cast<size_t>(n)) == 0;
}

// Takes the bytes another program wrote into a window's mirror into the chip with the chip's
// rules; afterwards the mirror shows the chip again. Only pages that differ are written, to the
// chip, to the other mirrors that show them and back to this one. The bytes taken, and the errno
// of what did not reach the chip (0, or ENOSPC for bytes past the window's end).
bool mirror_take(Flash &flash, int index, int fd, uint64_t size, int *err)
{
    Window &w = flash.windows[index];
    *err = 0;
    uint64_t n = size;
    if (n > w.size) {
        n = w.size;  // the device ends at its window: the rest never reached it
        *err = ENOSPC;
    }
    Fd chip(open(kChipBin, O_RDWR | O_CLOEXEC));
    if (!chip.ok())
        return false;
    uint64_t wstart = w.base - flash.chip_base;
    bool ok = true;
    {
        MirrorWrites others(flash, index);
        for (uint64_t at = 0; ok && at < n; at += kChunk) {
            size_t len = static_cast<size_t>(std::min<uint64_t>(kChunk, n - at));
            uint8_t *mine = scratch(0, len), *old = scratch(1, len), *now = scratch(2, len);
            if (!read_all(fd, mine, len, static_cast<off_t>(at)) ||
                !read_all(chip.get(), old, len, static_cast<off_t>(wstart + at)))
                return false;
            if (flash.kind == ChipKind::Nor)
                for (size_t i = 0; i < len; ++i)
                    now[i] = old[i] & mine[i];
            else
                memcpy(now, mine, len);
            ok = each_difference(old, now, len, [&](size_t from, size_t count) {
                     uint64_t where = wstart + at + from;
                     if (!write_all(chip.get(), now + from, count, static_cast<off_t>(where)))
                         return false;
                     others.put(where, now + from, count);
                     return true;
                 }) &&
                 each_difference(mine, now, len, [&](size_t from, size_t count) {
                     return write_all(fd, now + from, count, static_cast<off_t>(at + from));
                 });
        }
    }
    // What the program cut off (dd truncates) comes back from the chip; what it wrote past the
    // end goes.
    for (uint64_t at = n; ok && at < w.size; at += kChunk) {
        size_t len = static_cast<size_t>(std::min<uint64_t>(kChunk, w.size - at));
        uint8_t *bytes = scratch(1, len);
        ok = read_all(chip.get(), bytes, len, static_cast<off_t>(wstart + at)) &&
             write_all(fd, bytes, len, static_cast<off_t>(at));
    }
    if (size != w.size)
        ok = ftruncate(fd, static_cast<off_t>(w.size)) == 0 && ok;
    if (flash.kind == ChipKind::MSys)
        w.data_length = n;
    return ok;
}

}  // namespace

void mirrors_import(Flash &flash, MissingMirror missing)
{
    if (!flash.present)
        return;
    std::optional<Flash> before;
    for (auto &[index, w] : flash.windows) {
        std::string path = mirror_path(index);
        auto now = stamp_of(path);
        if (now && w.stamp && *now == *w.stamp)
            continue;
        if (!now && missing == MissingMirror::Skip)
            continue;
        if (!before)
            before = flash;
        Fd fd(now ? open(path.c_str(), O_RDWR | O_CLOEXEC) : -1);
        struct stat st {};
        if (!fd.ok() || fstat(fd.get(), &st) != 0) {
            // A missing mirror is put back; the chip keeps its bytes.
            log_request(path, "IMPORT", "missing", -1, ENOENT);
            mirror_export(flash, index);
            continue;
        }
        uint64_t size = static_cast<uint64_t>(st.st_size);
        std::string args = "bytes=" + std::to_string(size);
        if (!window_in_chip(flash, w) || w.locked) {
            log_request(path, "IMPORT", args, -1, w.locked && window_in_chip(flash, w) ? EROFS : EINVAL);
            mirror_export(flash, index);
            continue;
        }
        int err = 0;
        bool linked = mirror_linked(index);
        if (!mirror_take(flash, index, fd.get(), size, &err))
            err = err ? err : EIO;
        log_request(path, "IMPORT", args, err ? -1 : static_cast<long long>(size), err);
        if (linked)
            mirror_seal(flash, index, fd.get());
        else
            mirror_export(flash, index);  // a plain file in the link's place: the link comes back
    }
    if (before)
        flash_save_if_changed(*before, flash);
}

void mirrors_sync(MissingMirror missing)
{
    int saved = errno;
    struct stat st {};
    if (stat(kFlashConf, &st) == 0) {
        StateLock lock;
        Flash flash = flash_load();
        mirrors_import(flash, missing);
    }
    errno = saved;
}

}  // namespace korvsim
