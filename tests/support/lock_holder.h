// A second real process holding the library's named locks, or a file's flock, for the tests of
// the lock takers.
#pragma once

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include "korv/file_lock.h"

namespace korvtest {

// A second process that takes a lock and keeps it until released, or lets it go after hold_ms
// milliseconds when that is not negative (and still waits to be released).
class ChildHolding {
public:
    template <typename Take, typename LetGo>
    ChildHolding(Take take, LetGo letGo, int hold_ms)
    {
        int ready[2], release[2];
        if (pipe(ready) != 0 || pipe(release) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            close(ready[0]);
            close(release[1]);
            char got = take() ? 'y' : 'n';
            if (write(ready[1], &got, 1) != 1)
                _exit(3);
            if (hold_ms >= 0) {
                usleep(static_cast<useconds_t>(hold_ms) * 1000);
                letGo();
            }
            char c;
            while (read(release[0], &c, 1) < 0 && errno == EINTR) {
            }
            _exit(0);
        }
        close(ready[1]);
        close(release[0]);
        release_ = release[1];
        char got = 0;
        if (read(ready[0], &got, 1) == 1)
            obtained_ = got == 'y';
        close(ready[0]);
    }
    ChildHolding(const ChildHolding &) = delete;
    ChildHolding &operator=(const ChildHolding &) = delete;
    ~ChildHolding() { release(); }

    bool obtained() const { return obtained_; }
    void release()
    {
        if (release_ >= 0) {
            close(release_);
            release_ = -1;
        }
        if (pid_ > 0) {
            int status;
            waitpid(pid_, &status, 0);
            pid_ = -1;
        }
    }

private:
    pid_t pid_ = -1;
    int release_ = -1;
    bool obtained_ = false;
};

// Named locks taken with the library (request: lock bits OR the operation).
class Holder : public ChildHolding {
public:
    explicit Holder(unsigned request, int timeout = 0, int hold_ms = -1)
        : ChildHolding(
              [=] {
                  // The parent's holds are not this process's.
                  KORLFileLockCloseAll();
                  return ErrKORLFileLock(request, timeout) == 0;
              },
              [=] { ErrKORLFileUnlock(request); }, hold_ms)
    {
    }
};

// An exclusive flock on a file, created when missing.
class FlockHolder : public ChildHolding {
public:
    explicit FlockHolder(const char *path, int hold_ms = -1)
        : ChildHolding(
              [path] {
                  childFd() = open(path, O_RDWR | O_CREAT, 0644);
                  return childFd() >= 0 && flock(childFd(), LOCK_EX) == 0;
              },
              [] { flock(childFd(), LOCK_UN); }, hold_ms)
    {
    }

private:
    // The descriptor of the child, which runs both steps.
    static int &childFd()
    {
        static int fd = -1;
        return fd;
    }
};

}  // namespace korvtest
