// korv-sandbox: runs a command inside a device tree.
//
//   korv-sandbox [--keep] [--bind-ro PATH]... (TREE | --fresh) -- COMMAND [ARG...]
//
// The command runs in new mount, network, pid, UTS and IPC namespaces (and a user namespace
// when not started as root), chrooted into TREE. The host's libraries and a few everyday
// tools are bound read-only; /proc and /sys of the tree are plain fixture folders. syslog
// messages sent to the tree's /dev/log are recorded in /.korvsim/syslog with their priority.
// The sandbox's own processes are visible at /.korvsim/proc (and /proc/self), none of the host's.
// --fresh makes a new tree (a tmpfs over a new folder under $KORV_TREE_ROOT, default /tmp) and
// removes it afterwards; with --keep the tree is an ordinary folder that stays.
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <limits.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/random.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

const char *const kTools[] = {
    "sh",    "bash",  "dd",    "mv",     "cp",    "rm",       "rmdir", "mkdir", "find",  "chmod",
    "chown", "grep",  "ln",    "touch",  "cat",   "kill",     "sleep", "ls",    "echo",  "true",
    "false", "sed",   "head",  "tail",   "wc",    "cmp",      "diff",  "env",   "stat",  "readlink",
    "sync",  "tr",    "cut",   "sort",   "uniq",  "od",       "printf", "test", "expr",  "basename",
    "dirname", "date", "id",   "mount",  "umount", "tar",     "gzip",  "mktemp", "realpath", "truncate",
};

constexpr int kProcPidLinks = 4096;

const char *const kLibDirs[] = {"/usr/lib", "/usr/lib64", "/usr/libexec"};

[[noreturn]] void die(const char *what)
{
    fprintf(stderr, "korv-sandbox: %s: %s\n", what, strerror(errno));
    _exit(125);
}

[[noreturn]] void usage()
{
    fprintf(stderr,
            "usage: korv-sandbox [--keep] [--bind-ro PATH]... (TREE | --fresh) -- COMMAND [ARG...]\n");
    exit(125);
}

void make_dirs(const std::string &path, mode_t mode = 0755)
{
    std::string cur;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        cur = path.substr(0, pos);
        if (cur.empty())
            continue;
        if (mkdir(cur.c_str(), mode) != 0 && errno != EEXIST)
            die(("mkdir " + cur).c_str());
    }
}

void touch_file(const std::string &path)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        die(("create " + path).c_str());
    close(fd);
}

void write_text(const std::string &path, const std::string &text)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        die(("write " + path).c_str());
    close(fd);
}

void bind(const std::string &src, const std::string &dst, bool readOnly)
{
    if (mount(src.c_str(), dst.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
        die(("bind " + src).c_str());
    if (readOnly &&
        mount(nullptr, dst.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY | MS_REC, nullptr) != 0)
        die(("read-only " + dst).c_str());
}

std::string host_tool(const char *name)
{
    for (const char *dir : {"/usr/bin/", "/bin/", "/usr/sbin/", "/sbin/"}) {
        std::string path = std::string(dir) + name;
        char real[PATH_MAX];
        if (realpath(path.c_str(), real) && access(real, X_OK) == 0)
            return real;
    }
    return {};
}

// The folders every device tree has, and the links that make the host's loader work.
void lay_out(const std::string &tree)
{
    for (const char *dir : {"bin", "sbin", "dev", "etc", "etc.defaults", "proc/sys/kernel", "proc/net",
                            "sys/block", "sys/class/net", "tmp", "var/log", "var/run", "volume1",
                            "usr/bin", "usr/lib", "usr/lib64", "usr/libexec", "root", ".korvsim"})
        make_dirs(tree + "/" + dir);
    chmod((tree + "/tmp").c_str(), 01777);
    for (const char *link : {"lib", "lib64"}) {
        std::string path = tree + "/" + link;
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 && symlink((std::string("usr/") + link).c_str(), path.c_str()) != 0)
            die(("symlink " + path).c_str());
    }
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

struct Options {
    std::string tree;
    bool fresh = false;
    bool keep = false;
    std::vector<std::string> bindRo;
    std::vector<char *> command;
};

// pid 1 of the new pid namespace: set up the tree, run the command, record syslog, reap.
[[noreturn]] void run_init(const Options &opt)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        die("private mounts");
    const std::string &tree = opt.tree;
    // A fresh tree lives in a tmpfs of this mount namespace: quick to lay out, and gone with it.
    if (opt.fresh && !opt.keep && mount("tmpfs", tree.c_str(), "tmpfs", MS_NOSUID, "mode=0755") != 0)
        die("mount the tree's tmpfs");
    lay_out(tree);
    for (const char *dir : kLibDirs) {
        struct stat st {};
        if (stat(dir, &st) == 0 && S_ISDIR(st.st_mode))
            bind(dir, tree + dir, true);
    }
    for (const char *tool : kTools) {
        std::string src = host_tool(tool);
        if (src.empty())
            continue;
        std::string dst = tree + "/bin/" + tool;
        touch_file(dst);
        bind(src, dst, true);
    }
    if (std::string env = host_tool("env"); !env.empty()) {
        touch_file(tree + "/usr/bin/env");
        bind(env, tree + "/usr/bin/env", true);
    }
    for (const char *dev : {"null", "zero", "urandom", "random", "full"}) {
        std::string src = std::string("/dev/") + dev;
        if (access(src.c_str(), F_OK) != 0)
            continue;
        std::string dst = tree + "/dev/" + dev;
        touch_file(dst);
        bind(src, dst, false);
    }
    for (const std::string &path : opt.bindRo) {
        make_dirs(tree + path);
        bind(path, tree + path, true);
    }
    // The tree's /proc is a folder of fixtures. Only the sandbox's own processes are offered,
    // through a procfs of the new pid namespace limited to its pid folders; /proc/self,
    // /proc/thread-self and /proc/<pid> link there, as sanitizers and some libc calls expect.
    make_dirs(tree + "/.korvsim/proc");
    if (mount("proc", (tree + "/.korvsim/proc").c_str(), "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC,
              "subset=pid") != 0)
        die("mount the sandbox's procfs");
    // LeakSanitizer reads /proc/<pid>/task by number, so the first pids get links too.
    std::vector<std::string> links = {"self", "thread-self"};
    for (int pid = 1; pid <= kProcPidLinks; ++pid)
        links.push_back(std::to_string(pid));
    for (const std::string &link : links) {
        std::string path = tree + "/proc/" + link;
        if (symlink(("/.korvsim/proc/" + link).c_str(), path.c_str()) != 0 && errno != EEXIST)
            die(("symlink " + path).c_str());
    }
    sethostname("vaultmere", 9);
    loopback_up();

    std::string token = random_token();
    if (chroot(tree.c_str()) != 0 || chdir("/") != 0)
        die("chroot");
    write_text("/.korvsim/sandbox", token + "\n");

    int out = open("/.korvsim/syslog", O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (out < 0)
        die("open /.korvsim/syslog");
    int sock = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (sock < 0)
        die("socket");
    struct sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    strcpy(addr.sun_path, "/dev/log");
    unlink(addr.sun_path);
    if (::bind(sock, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0)
        die("bind /dev/log");
    chmod("/dev/log", 0666);

    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGCHLD);
    sigprocmask(SIG_BLOCK, &mask, nullptr);
    int sigfd = signalfd(-1, &mask, SFD_CLOEXEC | SFD_NONBLOCK);
    if (sigfd < 0)
        die("signalfd");

    pid_t child = fork();
    if (child < 0)
        die("fork");
    if (child == 0) {
        sigprocmask(SIG_UNBLOCK, &mask, nullptr);
        setenv("KORV_SANDBOX", token.c_str(), 1);
        setenv("PATH", "/bin:/sbin:/usr/bin:/usr/sbin", 1);
        setenv("HOME", "/root", 1);
        unsetenv("TMPDIR");
        execvp(opt.command[0], opt.command.data());
        fprintf(stderr, "korv-sandbox: %s: %s\n", opt.command[0], strerror(errno));
        _exit(127);
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
    if (WIFEXITED(status))
        _exit(WEXITSTATUS(status));
    _exit(128 + WTERMSIG(status));
}

int remove_entry(const char *path, const struct stat *, int, struct FTW *)
{
    remove(path);
    return 0;
}

int wait_for(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return 125;
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return 128 + WTERMSIG(status);
}

}  // namespace

int main(int argc, char **argv)
{
    Options opt;
    int i = 1;
    for (; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg == "--fresh")
            opt.fresh = true;
        else if (arg == "--keep")
            opt.keep = true;
        else if (arg == "--bind-ro" && i + 1 < argc)
            opt.bindRo.push_back(argv[++i]);
        else if (!arg.empty() && arg[0] != '-' && opt.tree.empty())
            opt.tree = arg;
        else
            usage();
    }
    if (i >= argc || opt.fresh == !opt.tree.empty())
        usage();
    for (; i < argc; ++i)
        opt.command.push_back(argv[i]);
    opt.command.push_back(nullptr);
    for (std::string &path : opt.bindRo) {
        char real[PATH_MAX];
        if (!realpath(path.c_str(), real))
            die(("bind path " + path).c_str());
        path = real;
    }
    if (getenv("KORV_KEEP_TREE"))
        opt.keep = true;

    if (opt.fresh) {
        const char *root = getenv("KORV_TREE_ROOT");
        std::string templ = std::string(root && *root ? root : "/tmp") + "/korv-tree.XXXXXX";
        std::vector<char> buf(templ.begin(), templ.end());
        buf.push_back('\0');
        if (!mkdtemp(buf.data()))
            die("mkdtemp");
        opt.tree = buf.data();
    } else {
        make_dirs(opt.tree);
    }
    {
        char real[PATH_MAX];
        if (!realpath(opt.tree.c_str(), real))
            die("tree");
        opt.tree = real;
        if (opt.tree == "/")
            usage();
    }

    // The namespaces live in a child, so that this process can remove the tree afterwards
    // without ever seeing the tree's bind mounts.
    pid_t outer = fork();
    if (outer < 0)
        die("fork");
    if (outer == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        int flags = CLONE_NEWNS | CLONE_NEWNET | CLONE_NEWPID | CLONE_NEWUTS | CLONE_NEWIPC;
        uid_t uid = geteuid();
        gid_t gid = getegid();
        if (uid != 0)
            flags |= CLONE_NEWUSER;
        if (unshare(flags) != 0)
            die("unshare (namespaces need root or unprivileged user namespaces)");
        if (uid != 0) {
            write_text("/proc/self/setgroups", "deny");
            write_text("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1\n");
            write_text("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1\n");
        }
        pid_t init = fork();
        if (init < 0)
            die("fork");
        if (init == 0)
            run_init(opt);
        _exit(wait_for(init));
    }
    signal(SIGINT, SIG_IGN);
    int rc = wait_for(outer);
    if (opt.fresh && !opt.keep)
        nftw(opt.tree.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
    else if (opt.fresh)
        fprintf(stderr, "korv-sandbox: tree kept at %s\n", opt.tree.c_str());
    return rc;
}
