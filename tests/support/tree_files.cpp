// Files of the device tree, for the tests and the tree builders alike.
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
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
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
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
