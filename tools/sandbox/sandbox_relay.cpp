// The caller's terminal and standard input, relayed: the command never holds a descriptor of
// the caller's terminal (which it could type into), nor the caller's own open file as its
// standard input (which it could reopen for writing, or walk out of when it is a folder).
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "sandbox.h"

namespace sandbox {
namespace {

void set_nonblocking(int fd)
{
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0)
        die("relay");
}

}  // namespace

void Relay::prepare(Options &opt)
{
    bool tty[3];
    for (int fd = 0; fd < 3; ++fd)
        tty[fd] = isatty(fd);
    // The caller's terminal is read only by an interactive launcher: in its foreground, with
    // its output there too. Others (CTest hands every test the terminal it runs in, and runs
    // them side by side) give the command an input that ends at once.
    bool ownInput = !tty[0] || ((tty[1] || tty[2]) && tcgetpgrp(0) == getpgrp());
    if (!ownInput) {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0)
            die("pipe");
        pipeRead_.reset(ends[0]);
        close(ends[1]);
        opt.stdio[0] = pipeRead_.get();
        tty[0] = false;
    }
    if (tty[0] || tty[1] || tty[2]) {
        master_.reset(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
        if (master_.get() < 0 || grantpt(master_.get()) != 0 || unlockpt(master_.get()) != 0)
            die("pseudo-terminal");
        const char *name = ptsname(master_.get());
        slave_.reset(name ? open(name, O_RDWR | O_NOCTTY | O_CLOEXEC) : -1);
        if (slave_.get() < 0)
            die("pseudo-terminal");
        int term = tty[0] ? 0 : tty[1] ? 1 : 2;
        struct termios attr {};
        if (tcgetattr(term, &attr) == 0) {
            tcsetattr(slave_.get(), TCSANOW, &attr);
            if (attr.c_cc[VINTR] != _POSIX_VDISABLE)
                interrupt_ = static_cast<char>(attr.c_cc[VINTR]);
        }
        struct winsize size {};
        if (ioctl(term, TIOCGWINSZ, &size) == 0)
            ioctl(slave_.get(), TIOCSWINSZ, &size);
        // The pseudo-terminal edits and echoes the input now; the caller's passes it on as typed.
        if (tty[0] && tcgetattr(0, &saved_) == 0) {
            struct termios raw = saved_;
            cfmakeraw(&raw);
            if (tcsetattr(0, TCSANOW, &raw) == 0) {
                terminalFd_ = 0;
                rawSet_ = true;
            }
        }
        set_nonblocking(master_.get());
        for (int fd = 0; fd < 3; ++fd) {
            if (tty[fd])
                opt.stdio[fd] = slave_.get();
        }
        opt.terminal = true;
        opt.launcherFds.push_back(master_.get());
        output_ = {master_.get(), tty[1] ? 1 : tty[2] ? 2 : 0, {}, true};
        if (tty[0])
            input_ = {0, master_.get(), {}, true};
    }
    struct stat st {};
    if (ownInput && !tty[0] && fstat(0, &st) == 0 && !S_ISFIFO(st.st_mode) && !S_ISSOCK(st.st_mode)) {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0)
            die("pipe");
        pipeRead_.reset(ends[0]);
        pipeWrite_.reset(ends[1]);
        set_nonblocking(pipeWrite_.get());
        opt.stdio[0] = pipeRead_.get();
        opt.launcherFds.push_back(pipeWrite_.get());
        input_ = {0, pipeWrite_.get(), {}, true};
    }
}

void Relay::started(Options &opt)
{
    slave_.reset();
    pipeRead_.reset();
    for (int fd = 0; fd < 3; ++fd)
        opt.stdio[fd] = fd;
}

// Reads what `from` has when nothing is pending; false once it is at its end.
bool Relay::pump_in(Pump &p)
{
    char buf[16384];
    ssize_t n = read(p.from, buf, sizeof buf);
    if (n > 0) {
        p.pending.append(buf, static_cast<size_t>(n));
        return true;
    }
    return n < 0 && (errno == EINTR || errno == EAGAIN);
}

// Writes what is pending to `to`, as much as it takes now.
void Relay::pump_out(Pump &p)
{
    while (!p.pending.empty()) {
        ssize_t n = write(p.to, p.pending.data(), p.pending.size());
        if (n > 0) {
            p.pending.erase(0, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return;
        p.pending.clear();  // the reader is gone
        p.open = false;
    }
}

siginfo_t Relay::run(const sigset_t &mask)
{
    UniqueFd sigfd(signalfd(-1, &mask, SFD_CLOEXEC | SFD_NONBLOCK));
    if (sigfd.get() < 0)
        die("signalfd");
    for (;;) {
        struct pollfd fds[4] = {{sigfd.get(), POLLIN, 0}, {-1, 0, 0}, {-1, 0, 0}, {-1, 0, 0}};
        if (input_.open) {
            if (input_.pending.empty())
                fds[1] = {input_.from, POLLIN, 0};
            else
                fds[1] = {input_.to, POLLOUT, 0};
        }
        if (output_.open)
            fds[2] = {output_.from, POLLIN, 0};
        if (poll(fds, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            die("poll");
        }
        if (fds[1].revents) {
            if (input_.pending.empty()) {
                if (!pump_in(input_)) {
                    input_.open = false;
                    if (input_.to == pipeWrite_.get())
                        pipeWrite_.reset();  // the command reads the end of its input
                }
            }
            if (input_.open)
                pump_out(input_);
        }
        if (fds[2].revents) {
            if (!pump_in(output_))
                output_.open = false;  // every holder of the pseudo-terminal is gone
            pump_out(output_);
        }
        if (fds[0].revents & POLLIN) {
            struct signalfd_siginfo raw {};
            if (read(sigfd.get(), &raw, sizeof raw) != sizeof raw)
                continue;
            if (raw.ssi_signo == SIGWINCH) {
                struct winsize size {};
                if (master_.get() >= 0 && ioctl(output_.to, TIOCGWINSZ, &size) == 0)
                    ioctl(master_.get(), TIOCSWINSZ, &size);
                continue;
            }
            // What the session wrote before it ended still goes to the caller's terminal.
            if (raw.ssi_signo == SIGCHLD && output_.open) {
                while (output_.open && pump_in(output_) && !output_.pending.empty())
                    pump_out(output_);
            }
            siginfo_t info {};
            info.si_signo = static_cast<int>(raw.ssi_signo);
            info.si_pid = static_cast<pid_t>(raw.ssi_pid);
            return info;
        }
    }
}

void Relay::interrupt()
{
    if (master_.get() >= 0 && write(master_.get(), &interrupt_, 1) != 1) {
        // A full input queue: the command is not reading, and the interrupt waits for it.
    }
}

void Relay::restore()
{
    if (rawSet_) {
        tcsetattr(terminalFd_, TCSAFLUSH, &saved_);
        rawSet_ = false;
    }
}

}  // namespace sandbox
