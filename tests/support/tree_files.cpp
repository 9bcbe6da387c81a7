// Files of the device tree, for the tests and the tree builders alike.
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <stdio.h>
#include <string.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

#include "korvtest.h"

namespace korvtest {

void make_dirs(const std::string &path, mode_t mode)
{
    std::string cur;
    for (size_t pos = path.find('/', 1);; pos = path.find('/', pos + 1)) {
        cur = path.substr(0, pos);
        if (!cur.empty() && mkdir(cur.c_str(), mode) != 0 && errno != EEXIST)
            throw std::runtime_error("mkdir " + cur + ": " + strerror(errno));
        if (pos == std::string::npos)
            break;
    }
}

void write_file(const std::string &path, const std::string &content, mode_t mode)
{
    size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0)
        make_dirs(path.substr(0, slash));
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0)
        throw std::runtime_error("open " + path + ": " + strerror(errno));
    size_t done = 0;
    while (done < content.size()) {
        ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n <= 0) {
            close(fd);
            throw std::runtime_error("write " + path + ": " + strerror(errno));
        }
        done += static_cast<size_t>(n);
    }
    fchmod(fd, mode);
    close(fd);
}

std::string read_file(const std::string &path)
{
    // Read into one buffer of the file's size: a stream would copy a big file several times.
    std::string text;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return text;
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        text.reserve(static_cast<size_t>(st.st_size) + 1);
    char buf[65536];
    for (;;) {
        size_t room = text.capacity() - text.size();
        ssize_t n;
        if (room > sizeof buf) {
            size_t at = text.size();
            text.resize(text.capacity());
            n = read(fd, text.data() + at, room);
            text.resize(at + static_cast<size_t>(std::max<ssize_t>(n, 0)));
        } else {
            n = read(fd, buf, sizeof buf);
            if (n > 0)
                text.append(buf, static_cast<size_t>(n));
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
    }
    close(fd);
    return text;
}

void copy_file(const std::string &from, const std::string &to, mode_t mode)
{
    // In the kernel: a program of megabytes never passes through the test's memory.
    int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        throw std::runtime_error("open " + from + ": " + strerror(errno));
    size_t slash = to.rfind('/');
    if (slash != std::string::npos && slash > 0)
        make_dirs(to.substr(0, slash));
    int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (out < 0) {
        int err = errno;
        close(in);
        throw std::runtime_error("open " + to + ": " + strerror(err));
    }
    bool ok = true;
    for (;;) {
        ssize_t n = copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
        if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP))
            n = sendfile(out, in, nullptr, 1 << 30);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
    }
    int err = errno;
    close(in);
    if (fchmod(out, mode) != 0 && ok) {
        ok = false;
        err = errno;
    }
    close(out);
    if (!ok)
        throw std::runtime_error("copy " + from + " to " + to + ": " + strerror(err));
}

bool file_exists(const std::string &path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

static int remove_entry(const char *path, const struct stat *, int, struct FTW *)
{
    remove(path);
    return 0;
}

void remove_tree(const std::string &path)
{
    nftw(path.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
}

}  // namespace korvtest
