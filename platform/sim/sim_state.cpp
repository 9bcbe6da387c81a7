// The simulator's state files: parsing, atomic rewrites, errno names and the kernel settings.
#include "sim_state.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

namespace korvsim {

namespace {

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

}  // namespace

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

uint64_t conf_u64(const Conf &conf, const std::string &key, uint64_t fallback)
{
    auto it = conf.find(key);
    uint64_t v;
    if (it == conf.end() || !parse_u64(it->second, &v))
        return fallback;
    return v;
}

namespace {

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
    {ETIMEDOUT, "ETIMEDOUT"}, {EMFILE, "EMFILE"}, {ENFILE, "ENFILE"},
    {EOPNOTSUPP, "EOPNOTSUPP"}, {EADDRNOTAVAIL, "EADDRNOTAVAIL"}, {EAFNOSUPPORT, "EAFNOSUPPORT"},
    {ENETDOWN, "ENETDOWN"},
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

Conf kernel_load()
{
    return conf_load(kKernelConf);
}

bool kernel_save(const Conf &conf)
{
    return conf_save(kKernelConf, conf);
}


}  // namespace korvsim
