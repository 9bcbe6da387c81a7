// Opening the file that a reader reads or a writer rewrites, and the ends of a rewrite that the
// writers share.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "file_internal.h"
#include "korv/error.h"

namespace korv::file {

namespace {

// open(2) flags of the fopen modes used here: "r", "r+", and "a" or "a+", which append with
// O_APPEND whatever the stream's position.
int OpenFlags(const char *mode)
{
    const bool plus = strchr(mode, '+') != nullptr;
    if (mode[0] == 'a')
        return (plus ? O_RDWR : O_WRONLY) | O_APPEND;
    return plus ? O_RDWR : O_RDONLY;
}

}  // namespace

FILE *OpenTarget(const char *path, const char *mode, bool *missing, std::source_location loc)
{
    // Readers go where the path leads, as any program reading the file would; O_NONBLOCK keeps a
    // FIFO there from hanging the open.
    int flags = OpenFlags(mode) | O_NONBLOCK | O_CLOEXEC;
    UniqueFd fd(open(path, flags));
    if (!fd) {
        // Only a file that is not there may be made; one that cannot be opened is left alone.
        if (missing && errno == ENOENT)
            *missing = true;
        else
            ErrAt(KORL_ERR_OPEN, loc);
        return nullptr;
    }
    // A directory, a FIFO, a device node or a socket is no settings file: a FIFO would be waited
    // on for ever, a device read without end.
    struct stat st;
    int fl = -1;
    if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || (fl = fcntl(fd.get(), F_GETFL)) < 0 ||
        fcntl(fd.get(), F_SETFL, fl & ~O_NONBLOCK) != 0) {
        ErrAt(KORL_ERR_OPEN, loc);
        return nullptr;
    }
    FILE *fp = fdopen(fd.get(), mode);
    if (!fp) {
        ErrAt(KORL_ERR_OPEN, loc);
        return nullptr;
    }
    fd.release();
    return fp;
}

namespace {

// Links followed before a chain counts as a loop, as the kernel's own limit.
constexpr int kMaxLinks = 40;

// Where the link at path leads, relative to its folder when it is not absolute.
bool LinkDestination(const std::string &path, std::string &out)
{
    char to[4096];
    ssize_t n = readlink(path.c_str(), to, sizeof to);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof to)
        return false;
    std::string dest(to, static_cast<size_t>(n));
    size_t slash = path.rfind('/');
    out = dest[0] == '/' || slash == std::string::npos ? dest : path.substr(0, slash + 1) + dest;
    return true;
}

}  // namespace

FILE *Target::Open(const char *path, const char *mode, bool *missing, bool quiet, std::source_location loc)
{
    path_ = path;
    auto unopenable = [&](int err) -> FILE * {
        if (missing && err == ENOENT)
            *missing = true;
        else if (!quiet)
            ErrAt(KORL_ERR_OPEN, loc);
        return nullptr;
    };
    auto refused = [&]() -> FILE * {
        ErrAt(KORL_ERR_OPEN, loc);
        return nullptr;
    };

    struct stat st;
    for (int links = 0;; ++links) {
        if (lstat(path_.c_str(), &st) != 0)
            return unopenable(errno);
        if (!S_ISLNK(st.st_mode))
            break;
        if (st.st_uid != geteuid() || links == kMaxLinks || !LinkDestination(path_, path_))
            return refused();
    }
    // A directory, a FIFO, a device node or a socket: nothing a rewrite could replace.
    if (!S_ISREG(st.st_mode))
        return refused();

    int flags = OpenFlags(mode) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    UniqueFd fd(open(path_.c_str(), flags));
    if (!fd)
        return errno == ELOOP ? refused() : unopenable(errno);
    // What was opened must be what was checked: the name may have been replaced in between.
    struct stat opened;
    if (fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_dev != st.st_dev ||
        opened.st_ino != st.st_ino)
        return refused();
    int fl = fcntl(fd.get(), F_GETFL);
    if (fl < 0 || fcntl(fd.get(), F_SETFL, fl & ~O_NONBLOCK) != 0)
        return refused();
    FILE *fp = fdopen(fd.get(), mode);
    if (!fp)
        return refused();
    fd.release();
    return fp;
}

int TargetRewrite::Open(const char *path, const char *mode, bool *missing, bool quiet, std::source_location loc)
{
    in_.reset(target_.Open(path, mode, missing, quiet, loc));
    rw_.emplace(target_.path());
    return in_ ? 0 : -1;
}

int TargetRewrite::Begin(std::source_location loc)
{
    return rw_->Begin(fileno(in_.get()), loc);
}

int TargetRewrite::Begin(const char *path, bool *missing, bool quiet, std::source_location loc)
{
    return Open(path, "r", missing, quiet, loc) < 0 ? -1 : Begin(loc);
}

int CreateWithLine(const char *path, const char *line, std::source_location loc)
{
    FileRewrite rw(path);
    if (rw.BeginNew(CreationMode(), static_cast<uid_t>(-1), static_cast<gid_t>(-1), loc) < 0)
        return -1;
    if (line && rw.PutLine(line, loc) < 0)
        return -1;
    return rw.Commit(loc) < 0 ? -1 : 1;
}

int CommitChanges(FileRewrite &rw, int changes, std::source_location loc)
{
    if (changes == 0) {
        rw.Abandon();
        ErrAt(KORL_ERR_NOT_FOUND, loc);
        return 0;
    }
    return rw.Commit(loc) < 0 ? -1 : changes;
}

}  // namespace korv::file
