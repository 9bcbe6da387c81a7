// A second real process standing in for a daemon that the library signals by its pid file: it
// writes its pid there and records every signal it receives, in order.
#pragma once

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "korvtest.h"

namespace korvtest {

class SignalRecorder {
public:
    // Records the signals of `watched` (others keep their default action). With ownGroup the
    // process leads a group of its own, as a daemon does.
    SignalRecorder(const std::string &pidFile, std::vector<int> watched, bool ownGroup = false)
    {
        int ready[2], stop[2], out[2];
        if (pipe(ready) != 0 || pipe(stop) != 0 || pipe(out) != 0)
            return;
        sigset_t set;
        sigemptyset(&set);
        for (int s : watched)
            sigaddset(&set, s);
        sigset_t old;
        sigprocmask(SIG_BLOCK, &set, &old);  // blocked before the child exists: none is lost
        pid_ = fork();
        if (pid_ == 0) {
            // Only its own ends: a pipe of another recorder held here would keep that one's
            // process from ever seeing its stop.
            for (int fd = 3; fd < 1024; fd++) {
                if (fd != ready[1] && fd != stop[0] && fd != out[1])
                    close(fd);
            }
            if (ownGroup)
                setpgid(0, 0);
            Run(set, ready[1], stop[0], out[1]);
        }
        sigprocmask(SIG_SETMASK, &old, nullptr);
        close(ready[1]);
        close(stop[0]);
        close(out[1]);
        stop_ = stop[1];
        out_ = out[0];
        write_file(pidFile, std::to_string(pid_) + "\n");
        char c;
        while (read(ready[0], &c, 1) < 0 && errno == EINTR) {
        }
        close(ready[0]);
    }
    SignalRecorder(const SignalRecorder &) = delete;
    SignalRecorder &operator=(const SignalRecorder &) = delete;
    ~SignalRecorder() { Received(); }

    pid_t pid() const { return pid_; }

    // The signals received so far, in order, once there are n of them or waitMs has passed; the
    // process keeps running.
    std::vector<int> Got(size_t n, int waitMs = 4000)
    {
        struct timespec start;
        clock_gettime(CLOCK_MONOTONIC, &start);
        while (pid_ > 0) {
            struct timespec now;
            clock_gettime(CLOCK_MONOTONIC, &now);
            const long left =
                waitMs - ((now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000);
            struct pollfd p = {out_, POLLIN, 0};
            const int ready = poll(&p, 1, got_.size() >= n || left <= 0 ? 0 : int(left));
            if (ready < 0 && errno == EINTR)
                continue;
            unsigned char s;
            if (ready != 1 || read(out_, &s, 1) != 1)
                break;
            got_.push_back(s);
        }
        return got_;
    }

    // Ends the process and gives the signals it received, in order.
    std::vector<int> Received()
    {
        if (pid_ > 0) {
            close(stop_);
            unsigned char s;
            ssize_t n;
            while ((n = read(out_, &s, 1)) == 1 || (n < 0 && errno == EINTR)) {
                if (n == 1)
                    got_.push_back(s);
            }
            close(out_);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
        return got_;
    }

private:
    [[noreturn]] static void Run(const sigset_t &set, int ready, int stop, int out)
    {
        if (write(ready, "r", 1) != 1)
            _exit(3);
        const struct timespec tick = {0, 20 * 1000 * 1000}, none = {0, 0};
        for (;;) {
            int s = sigtimedwait(&set, nullptr, &tick);
            if (s > 0) {
                unsigned char b = static_cast<unsigned char>(s);
                if (write(out, &b, 1) != 1)
                    _exit(3);
                continue;
            }
            struct pollfd p = {stop, POLLIN, 0};
            if (poll(&p, 1, 0) == 1) {
                // Every signal sent before the stop is pending by now.
                while ((s = sigtimedwait(&set, nullptr, &none)) > 0) {
                    unsigned char b = static_cast<unsigned char>(s);
                    if (write(out, &b, 1) != 1)
                        _exit(3);
                }
                _exit(0);
            }
        }
    }

    pid_t pid_ = -1;
    int stop_ = -1, out_ = -1;
    std::vector<int> got_;
};

}  // namespace korvtest
