// pid 1 of the sandbox, inside the tree after the root switch: the tree's folders and links,
// the marker, the syslog recorder, then the command with its listed environment.
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <limits.h>
#include <linux/keyctl.h>
#include <net/if.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "korv/simctl.h"
#include "sandbox.h"

namespace sandbox {
namespace {

// /proc/1 up to this links into the sandbox's procfs, unless the pid namespace's pids end sooner.
constexpr int kProcPidLinks = 4096;

const char *const kTreeDirs[] = {"/bin", "/sbin", "/dev", "/etc", "/etc.defaults", "/proc/sys/kernel", "/proc/net",
                                 "/sys/block", "/sys/class/net", "/tmp", "/var/log", "/var/run", "/volume1",
                                 "/usr/bin", "/root", "/.korvsim"};

void make_dirs(const std::string &path)
{
    for (size_t pos = path.find('/', 1);; pos = path.find('/', pos + 1)) {
        std::string cur = path.substr(0, pos);
        if (mkdir(cur.c_str(), 0755) != 0 && errno != EEXIST)
            die("mkdir " + cur);
        if (pos == std::string::npos)
            break;
    }
}

void write_text(const std::string &path, const std::string &text)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        die("write " + path);
    close(fd);
}

void link_once(const std::string &target, const std::string &path)
{
    if (symlink(target.c_str(), path.c_str()) != 0 && errno != EEXIST)
        die("symlink " + path);
}

int remove_entry(const char *path, const struct stat *, int, struct FTW *)
{
    return remove(path);
}

// The launcher's own link at path, in place of whatever a session left there: another link, a
// file, or a folder with all it holds, removed without following a link.
void link_anew(const std::string &target, const std::string &path)
{
    char now[PATH_MAX];
    ssize_t n = readlink(path.c_str(), now, sizeof now);
    if (n >= 0 && std::string(now, static_cast<size_t>(n)) == target)
        return;
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && nftw(path.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT) != 0)
        die("remove " + path);
    if (symlink(target.c_str(), path.c_str()) != 0)
        die("symlink " + path);
}

// /bin/NAME links to the host's tool unless the tree brings its own program at /bin/NAME or
// /sbin/NAME. An empty file there is a bind's mount point left by an older launcher.
void offer_tool(const std::string &name, const std::string &path)
{
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode) || st.st_size != 0 || unlink(path.c_str()) != 0)
            return;
    } else if (lstat(("/sbin/" + name).c_str(), &st) == 0 && path.rfind("/bin/", 0) == 0) {
        return;
    }
    std::string tool = std::string(kToolDir) + "/" + name;
    if (access(tool.c_str(), F_OK) != 0)
        tool = std::string(kExtraToolDir) + "/" + name;
    link_once(tool, path);
}

// The folders every device tree has, and the links that make the host's loader and tools work.
void lay_out(const std::vector<std::string> &tools, int lastPid)
{
    for (const char *dir : kTreeDirs)
        make_dirs(dir);
    if (chmod("/tmp", 01777) != 0)
        die("chmod /tmp");
    // The host's loader and the build's plug-in are found there in every session.
    link_anew("usr/lib", "/lib");
    link_anew("usr/lib64", "/lib64");
    for (const std::string &tool : tools)
        offer_tool(tool, "/bin/" + tool);
    offer_tool("env", "/usr/bin/env");
    // Only the sandbox's own processes are offered, through its procfs limited to pid folders;
    // /proc/self, /proc/thread-self and /proc/<pid> link there, as sanitizers and some libc
    // calls expect (LeakSanitizer reads /proc/<pid>/task by number).
    link_once("/.korvsim/proc/self", "/proc/self");
    link_once("/.korvsim/proc/thread-self", "/proc/thread-self");
    for (int pid = 1; pid <= std::min(lastPid, kProcPidLinks); ++pid)
        link_once("/.korvsim/proc/" + std::to_string(pid), "/proc/" + std::to_string(pid));
}

std::string random_token()
{
    unsigned char raw[16];
    if (getrandom(raw, sizeof raw, 0) != sizeof raw)
        die("getrandom");
    std::string hex;
    for (unsigned char c : raw) {
        char b[3];
        snprintf(b, sizeof b, "%02x", c);
        hex += b;
    }
    return hex;
}

void loopback_up()
{
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    struct ifreq ifr {};
    strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    if (ioctl(fd, SIOCGIFFLAGS, &ifr) == 0) {
        ifr.ifr_flags |= IFF_UP | IFF_RUNNING;
        ioctl(fd, SIOCSIFFLAGS, &ifr);
    }
    close(fd);
}

// One record line: priority, tag and message, with backslash and newline escaped.
std::string record_line(const char *data, size_t len)
{
    std::string msg(data, len);
    int pri = -1;
    std::string tag;
    if (msg.size() > 2 && msg[0] == '<') {
        size_t close = msg.find('>');
        if (close != std::string::npos && close < 5) {
            pri = atoi(msg.substr(1, close - 1).c_str());
            msg.erase(0, close + 1);
        }
    }
    // "Mmm dd hh:mm:ss " then "tag[pid]: " or "tag: ".
    if (msg.size() >= 16 && msg[3] == ' ' && msg[6] == ' ' && msg[9] == ':' && msg[12] == ':' && msg[15] == ' ')
        msg.erase(0, 16);
    size_t colon = msg.find(": ");
    size_t space = msg.find(' ');
    if (colon != std::string::npos && (space == std::string::npos || colon < space)) {
        tag = msg.substr(0, colon);
        size_t bracket = tag.find('[');
        if (bracket != std::string::npos)
            tag.erase(bracket);
        msg.erase(0, colon + 2);
    }
    std::string line = std::to_string(pri) + "\t" + tag + "\t";
    for (char c : msg) {
        if (c == '\\')
            line += "\\\\";
        else if (c == '\n')
            line += "\\n";
        else if (c == '\t')
            line += "\\t";
        else
            line += c;
    }
    line += '\n';
    return line;
}

void drain_log(int sock, int out)
{
    static char buf[65536];
    for (;;) {
        ssize_t n = recv(sock, buf, sizeof buf, MSG_DONTWAIT);
        if (n < 0)
            return;
        std::string line;
        static const char kSync[] = "\x01korvsim-sync ";
        if (static_cast<size_t>(n) >= sizeof kSync - 1 && memcmp(buf, kSync, sizeof kSync - 1) == 0)
            line = std::string("sync\t\t") + std::string(buf + sizeof kSync - 1, n - (sizeof kSync - 1)) + "\n";
        else
            line = record_line(buf, static_cast<size_t>(n));
        if (write(out, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
            return;
    }
}

// A keyring of its own, empty: nothing of the caller's session keyring is reachable.
void join_new_keyring()
{
    if (syscall(SYS_keyctl, KEYCTL_JOIN_SESSION_KEYRING, nullptr) < 0)
        die("new session keyring");
}

// The command: a session of its own, the relay's terminal as its controlling one, a new
// keyring, no typing into terminals, and the listed environment.
[[noreturn]] void exec_command(const Options &opt, const std::string &token)
{
    if (setsid() < 0)
        die("setsid");
    if (opt.terminal) {
        for (int fd = 0; fd < 3; ++fd) {
            if (isatty(fd) && ioctl(fd, TIOCSCTTY, 0) == 0)
                break;
        }
    }
    join_new_keyring();
    forbid_terminal_typing();
    clearenv();
    for (const auto &[name, value] : opt.env)
        setenv(name.c_str(), value.c_str(), 1);
    setenv("KORV_SANDBOX", token.c_str(), 1);
    std::vector<char *> argv;
    for (const std::string &arg : opt.command)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    fprintf(stderr, "korv-sandbox: %s: %s\n", argv[0], strerror(errno));
    _exit(127);
}

// pid 1 never exec'd: it is a copy of the launcher. Its memory is nobody's to read or trace,
// and the caller's environment, which /proc/1/environ would show, is wiped from it.
void seal_init(const Options &opt)
{
    if (prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0)
        die("not dumpable");
    clearenv();
    if (opt.envEnd > opt.envStart)
        memset(reinterpret_cast<void *>(opt.envStart), 0, opt.envEnd - opt.envStart);
    join_new_keyring();
}

// Processes of the session: the caller's limit or the sandbox's, whichever is lower. The count
// is the session's own, since it is kept per user namespace, and root inside cannot raise it.
void limit_processes(long pids)
{
    struct rlimit lim {};
    if (getrlimit(RLIMIT_NPROC, &lim) != 0)
        die("process limit");
    rlim_t want = static_cast<rlim_t>(pids);
    if (lim.rlim_max != RLIM_INFINITY && lim.rlim_max < want)
        want = lim.rlim_max;
    lim.rlim_cur = lim.rlim_max = want;
    if (setrlimit(RLIMIT_NPROC, &lim) != 0)
        die("process limit");
}

// The rest of the session's processes, once the command ended: killed and reaped, so that none
// writes to the flash or holds the simulator's lock while the mirrors are taken in.
void end_other_processes()
{
    kill(-1, SIGKILL);
    for (;;) {
        if (waitpid(-1, nullptr, 0) < 0 && errno != EINTR)
            return;
    }
}

// What the command's programs wrote into the flash mirrors (a bare shell `dd` as its last action)
// reaches the simulated chip before the mirrors' tmpfs mounts go with the session, through the
// simulator's own import.
void keep_flash_writes(const std::string &token)
{
    end_other_processes();
    setenv("KORV_SANDBOX", token.c_str(), 1);
    korvsim::ctl::import_mirrors();
}

}  // namespace

[[noreturn]] void run_init(const Options &opt, const std::vector<std::string> &tools, int lastPid)
{
    seal_init(opt);
    lay_out(tools, lastPid);
    sethostname("vaultmere", 9);
    loopback_up();
    std::string token = random_token();
    write_text("/.korvsim/sandbox", token + "\n");

    // syslog: a datagram socket at the tree's /dev/log, every message to /.korvsim/syslog.
    int out = open("/.korvsim/syslog", O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (out < 0)
        die("open /.korvsim/syslog");
    int sock = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (sock < 0)
        die("socket");
    struct sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    strcpy(addr.sun_path, "/dev/log");
    unlink(addr.sun_path);
    if (bind(sock, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0)
        die("bind /dev/log");
    chmod("/dev/log", 0666);

    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGCHLD);
    sigset_t old;
    sigprocmask(SIG_BLOCK, &mask, &old);
    int sigfd = signalfd(-1, &mask, SFD_CLOEXEC | SFD_NONBLOCK);
    if (sigfd < 0)
        die("signalfd");

    limit_processes(opt.pids);
    pid_t child = fork();
    if (child < 0)
        die("fork");
    if (child == 0) {
        sigprocmask(SIG_SETMASK, &old, nullptr);
        close_range(3, ~0U, 0);
        exec_command(opt, token);
    }

    int status = 0;
    for (;;) {
        struct pollfd fds[2] = {{sock, POLLIN, 0}, {sigfd, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR)
            die("poll");
        drain_log(sock, out);
        if (fds[1].revents & POLLIN) {
            struct signalfd_siginfo info;
            while (read(sigfd, &info, sizeof info) == sizeof info) {
            }
            bool done = false;
            for (;;) {
                int st = 0;
                pid_t pid = waitpid(-1, &st, WNOHANG);
                if (pid <= 0)
                    break;
                if (pid == child) {
                    status = st;
                    done = true;
                }
            }
            if (done) {
                drain_log(sock, out);
                break;
            }
        }
    }
    keep_flash_writes(token);
    if (WIFEXITED(status))
        _exit(WEXITSTATUS(status));
    _exit(128 + WTERMSIG(status));
}

}  // namespace sandbox
