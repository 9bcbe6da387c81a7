#include "kill_point.h"

#include "updater_run.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <set>
#include <stdexcept>
#include <thread>

namespace updatertest {

namespace {

// Bytes of the tracee's memory from addr, up to max (fewer where its memory ends).
std::string Peek(pid_t pid, uint64_t addr, size_t max)
{
    std::string out;
    char buf[512];
    while (out.size() < max) {
        size_t n = std::min(sizeof buf, max - out.size());
        // Never across a page: the next one may not be mapped.
        size_t page = 4096 - ((addr + out.size()) % 4096);
        n = std::min(n, page);
        struct iovec local = {buf, n};
        struct iovec remote = {reinterpret_cast<void *>(addr + out.size()), n};
        ssize_t got = process_vm_readv(pid, &local, 1, &remote, 1, 0);
        if (got <= 0)
            break;
        out.append(buf, static_cast<size_t>(got));
    }
    return out;
}

std::string PeekString(pid_t pid, uint64_t addr)
{
    std::string s;
    for (size_t at = 0; at < 4096; at += 256) {
        std::string part = Peek(pid, addr + at, 256);
        size_t nul = part.find('\0');
        if (nul != std::string::npos)
            return s + part.substr(0, nul);
        s += part;
        if (part.size() < 256)
            break;
    }
    return s;
}

std::string FdPath(pid_t pid, uint64_t fd)
{
    char link[64], target[4096];
    snprintf(link, sizeof link, "/proc/%d/fd/%llu", pid, static_cast<unsigned long long>(fd));
    ssize_t n = readlink(link, target, sizeof target - 1);
    return n > 0 ? std::string(target, static_cast<size_t>(n)) : "";
}

// What a system call is, for the steps: its kind and its text (and the data written), or false
// when no step counts it.
struct Event {
    KillStep::Kind kind;
    std::string text;
    std::string data;
};

bool Describe(pid_t pid, const struct __ptrace_syscall_info &in, Event *e)
{
    const uint64_t nr = in.entry.nr;
    const auto *a = in.entry.args;
    if (nr == SYS_write || nr == SYS_pwrite64 || nr == SYS_sendto) {
        std::string path = FdPath(pid, a[0]);
        std::string data = Peek(pid, a[1], std::min<uint64_t>(a[2], 1024));
        if (path.rfind("socket:", 0) == 0) {
            *e = {KillStep::kSyslog, data, ""};
            return true;
        }
        if (nr == SYS_sendto || path.empty())
            return false;
        *e = {KillStep::kWrite, path, data};
        return true;
    }
    std::string renamed;
#ifdef SYS_rename
    if (nr == SYS_rename)
        renamed = PeekString(pid, a[1]);
#endif
    if (nr == SYS_renameat || nr == SYS_renameat2)
        renamed = PeekString(pid, a[3]);
    // The simulator's own files are the device's state, not the unit's.
    if (!renamed.empty() && renamed.rfind("/.korvsim/", 0) != 0) {
        *e = {KillStep::kRename, renamed, ""};
        return true;
    }
    if (nr == SYS_execve) {
        *e = {KillStep::kExec, PeekString(pid, a[0]), ""};
        return true;
    }
    return false;
}

bool Matches(const KillStep &s, const Event &e)
{
    if (s.kind != e.kind)
        return false;
    switch (s.kind) {
    case KillStep::kSyslog:
        return e.text.find(s.text) != std::string::npos;
    case KillStep::kWrite:
        return e.text == s.text && e.data.rfind(s.data, 0) == 0;
    case KillStep::kRename:
        return e.text.rfind(s.text, 0) == 0 && (s.data.empty() || e.text.rfind(s.data, 0) != 0);
    case KillStep::kExec:
        return e.text.size() >= s.text.size() && e.text.compare(e.text.size() - s.text.size(), s.text.size(), s.text) == 0;
    }
    return false;
}

const char *KindName(KillStep::Kind k)
{
    switch (k) {
    case KillStep::kSyslog:
        return "syslog";
    case KillStep::kWrite:
        return "write";
    case KillStep::kRename:
        return "rename";
    case KillStep::kExec:
        return "exec";
    }
    return "?";
}

// The steps as they are reached.
class Counter {
public:
    explicit Counter(const KillPoint &point) : point_(point) {}
    // True when this call, at this moment (entry or return), is the point.
    bool Hit(const Event &e, bool atReturn)
    {
        if (step_ >= point_.size())
            return false;
        const KillStep &s = point_[step_];
        if (s.atReturn != atReturn || !Matches(s, e))
            return false;
        if (++seen_ < s.nth)
            return false;
        ++step_;
        seen_ = 0;
        return step_ == point_.size();
    }

private:
    const KillPoint &point_;
    size_t step_ = 0;
    int seen_ = 0;
};

}  // namespace

KilledRun run_killed(const std::vector<std::string> &argv, const std::string &dir, const KillPoint &point,
                     bool trace_all)
{
    std::vector<std::string> words = argv;
    std::vector<char *> args;
    for (auto &w : words)
        args.push_back(w.data());
    args.push_back(nullptr);

    int out = -1;
    pid_t pid = fork_with_output(&out, [&] {
        if (chdir(dir.c_str()) != 0 || setpgid(0, 0) != 0 || ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0)
            _exit(120);
        raise(SIGSTOP);
        execv(args[0], args.data());
        _exit(121);
    });
    KilledRun r;
    // The output is read beside the tracing, which must answer every stop at once.
    std::thread reader([&r, out] { r.out = read_to_end(out); });

    int st = 0;
    if (waitpid(pid, &st, 0) != pid || !WIFSTOPPED(st)) {
        reader.join();
        throw std::runtime_error("the traced child did not stop");
    }
    ptrace(PTRACE_SETOPTIONS, pid, nullptr,
           PTRACE_O_TRACESYSGOOD | PTRACE_O_TRACEFORK | PTRACE_O_TRACEVFORK | PTRACE_O_TRACECLONE |
               PTRACE_O_TRACEEXEC | PTRACE_O_EXITKILL);
    ptrace(PTRACE_SYSCALL, pid, nullptr, nullptr);

    Counter counter(point);
    std::set<pid_t> live = {pid};
    std::map<pid_t, Event> pending;  // what each traced call is, between its entry and return
    while (!live.empty()) {
        pid_t t = waitpid(-1, &st, __WALL);
        if (t < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (WIFEXITED(st) || WIFSIGNALED(st)) {
            live.erase(t);
            pending.erase(t);
            if (t == pid && WIFEXITED(st))
                r.status = WEXITSTATUS(st);
            continue;
        }
        if (!WIFSTOPPED(st))
            continue;
        int sig = WSTOPSIG(st);
        int event = st >> 16;
        long deliver = 0;
        if (!live.count(t)) {
            // A new child's first stop, maybe before its parent's event.
            live.insert(t);
        } else if (sig == (SIGTRAP | 0x80)) {
            struct __ptrace_syscall_info info = {};
            ptrace(PTRACE_GET_SYSCALL_INFO, t, reinterpret_cast<void *>(sizeof info), &info);
            bool entry = info.op == PTRACE_SYSCALL_INFO_ENTRY;
            bool exit = info.op == PTRACE_SYSCALL_INFO_EXIT;
            Event e;
            bool described = false;
            if (entry) {
                pending.erase(t);
                if (Describe(t, info, &e)) {
                    described = true;
                    pending[t] = e;
                    if (trace_all)
                        r.events.push_back(std::string(KindName(e.kind)) + " " +
                                           (e.kind == KillStep::kWrite ? e.text + " " + e.data.substr(0, 60) : e.text));
                }
            } else if (exit) {
                auto it = pending.find(t);
                if (it != pending.end()) {
                    described = true;
                    e = it->second;
                    pending.erase(it);
                }
            }
            if (!r.killed && described && counter.Hit(e, exit)) {
                r.killed = true;
                kill(-pid, SIGKILL);
            }
        } else if (sig == SIGTRAP && event != 0) {
            if (event == PTRACE_EVENT_FORK || event == PTRACE_EVENT_VFORK || event == PTRACE_EVENT_CLONE) {
                unsigned long child = 0;
                ptrace(PTRACE_GETEVENTMSG, t, nullptr, &child);
                live.insert(static_cast<pid_t>(child));
            }
        } else if (sig != SIGSTOP) {
            // A signal for the tracee; the stops of a new child are never passed on.
            deliver = sig;
        }
        ptrace(PTRACE_SYSCALL, t, nullptr, reinterpret_cast<void *>(deliver));
    }
    if (r.killed)
        r.status = -1;
    reader.join();
    return r;
}

}  // namespace updatertest
