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

}  // namespace korvsim
