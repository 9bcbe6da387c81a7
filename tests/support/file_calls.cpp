// The counting and failing stand-ins of fsync and fchmod (file_calls.h). A program links them
// only when it calls the functions of the header.
#include "file_calls.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <map>
#include <tuple>

namespace {

struct Calls {
    std::map<std::pair<dev_t, ino_t>, int> byFile;
    std::string failPrefix;
    int failErr = 0;
};

Calls &calls_of(korvtest::FileCall call)
{
    static Calls all[2];
    return all[static_cast<int>(call)];
}

// Counts the call on fd's file; the error it is to fail with, or 0.
int note(korvtest::FileCall call, int fd)
{
    Calls &c = calls_of(call);
    struct stat st;
    if (fstat(fd, &st) == 0)
        ++c.byFile[{st.st_dev, st.st_ino}];
    if (!c.failErr)
        return 0;
    char link[32], path[PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, path, sizeof path - 1);
    if (n < 0)
        return 0;
    path[n] = '\0';
    return std::string(path).rfind(c.failPrefix, 0) == 0 ? c.failErr : 0;
}

}  // namespace

namespace korvtest {

int file_calls(FileCall call, const std::string &path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return 0;
    auto &byFile = calls_of(call).byFile;
    auto it = byFile.find({st.st_dev, st.st_ino});
    return it == byFile.end() ? 0 : it->second;
}

void fail_file_calls(FileCall call, const std::string &prefix, int err)
{
    calls_of(call).failPrefix = prefix;
    calls_of(call).failErr = err;
}

}  // namespace korvtest

extern "C" int fsync(int fd)
{
    if (int err = note(korvtest::FileCall::kFsync, fd)) {
        errno = err;
        return -1;
    }
    return static_cast<int>(syscall(SYS_fsync, fd));
}

extern "C" int fchmod(int fd, mode_t mode)
{
    if (int err = note(korvtest::FileCall::kFchmod, fd)) {
        errno = err;
        return -1;
    }
    return static_cast<int>(syscall(SYS_fchmod, fd, mode));
}
