// A second real process holding the library's named locks, for the tests of the lock takers.
#pragma once

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include "korv/file_lock.h"

namespace korvtest {

// A second process that takes a lock with the library and keeps it until released.
class Holder {
public:
    explicit Holder(unsigned request, int timeout = 0, int hold_ms = -1)
    {
        int ready[2], release[2];
        if (pipe(ready) != 0 || pipe(release) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            close(ready[0]);
            close(release[1]);
            // The parent's holds are not this process's.
            KORLFileLockCloseAll();
            char got = ErrKORLFileLock(request, timeout) == 0 ? 'y' : 'n';
            if (write(ready[1], &got, 1) != 1)
                _exit(3);
            if (hold_ms >= 0) {
                usleep(static_cast<useconds_t>(hold_ms) * 1000);
                ErrKORLFileUnlock(request);
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
    ~Holder() { release(); }

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

// A second process that holds an exclusive flock on a file (created when missing) until
// released, or for hold_ms milliseconds when that is not negative.
class FlockHolder {
public:
    explicit FlockHolder(const char *path, int hold_ms = -1)
    {
        int ready[2], release[2];
        if (pipe(ready) != 0 || pipe(release) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            close(ready[0]);
            close(release[1]);
            int fd = open(path, O_RDWR | O_CREAT, 0644);
            char got = fd >= 0 && flock(fd, LOCK_EX) == 0 ? 'y' : 'n';
            if (write(ready[1], &got, 1) != 1)
                _exit(3);
            if (hold_ms >= 0) {
                usleep(static_cast<useconds_t>(hold_ms) * 1000);
                flock(fd, LOCK_UN);
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
    FlockHolder(const FlockHolder &) = delete;
    FlockHolder &operator=(const FlockHolder &) = delete;
    ~FlockHolder() { release(); }

    bool obtained() const { return obtained_; }
    void release()
    {
        if (release_ >= 0) {
            close(release_);
            release_ = -1;
        }
        if (pid_ > 0) {
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

private:
    pid_t pid_ = -1;
    int release_ = -1;
    bool obtained_ = false;
};

}  // namespace korvtest
