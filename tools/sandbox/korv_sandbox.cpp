// korv-sandbox: runs a command inside a device tree.
//
//   korv-sandbox [--keep] [--bind-ro PATH]... [--env NAME[=VALUE]]... (TREE | --fresh) -- COMMAND [ARG...]
//
// The command runs as root of a new user namespace, in new mount, pid, network, UTS, IPC and
// cgroup namespaces, with TREE as its root (pivot_root; nothing of the host's mount tree is
// left). The host's libraries and everyday tools are bound read-only, each --bind-ro folder at
// /.korvsim/host/PATH; /proc and /sys of the tree are plain fixture folders. syslog messages
// sent to the tree's /dev/log are recorded in /.korvsim/syslog. --fresh makes a new tree (a
// tmpfs over a new folder under $KORV_TREE_ROOT, default /tmp) and removes its folder
// afterwards, also on SIGTERM and SIGHUP; with --keep the tree is an ordinary folder that stays.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sandbox.h"

namespace sandbox {

[[noreturn]] void die(const std::string &what)
{
    fprintf(stderr, "korv-sandbox: %s: %s\n", what.c_str(), strerror(errno));
    _exit(125);
}

[[noreturn]] void refuse(const std::string &message)
{
    fprintf(stderr, "korv-sandbox: %s\n", message.c_str());
    _exit(125);
}

std::vector<std::pair<std::string, std::string>> host_tools()
{
    static const char *const kTools[] = {
        "sh",      "bash",  "dd",    "mv",     "cp",     "rm",       "rmdir",  "mkdir",  "find",     "chmod",
        "chown",   "grep",  "ln",    "touch",  "cat",    "kill",     "sleep",  "ls",     "echo",     "true",
        "false",   "sed",   "head",  "tail",   "wc",     "cmp",      "diff",   "env",    "stat",     "readlink",
        "sync",    "tr",    "cut",   "sort",   "uniq",   "od",       "printf", "test",   "expr",     "basename",
        "dirname", "date",  "id",    "mount",  "umount", "tar",      "gzip",   "mktemp", "realpath", "truncate",
        "pwck",    "grpck", "testparm",
    };
    std::vector<std::pair<std::string, std::string>> found;
    for (const char *name : kTools) {
        for (const char *dir : {"/usr/bin/", "/bin/", "/usr/sbin/", "/sbin/"}) {
            char real[PATH_MAX];
            if (realpath((std::string(dir) + name).c_str(), real) && access(real, X_OK) == 0) {
                found.emplace_back(name, real);
                break;
            }
        }
    }
    return found;
}

std::string inside_path(const Options &opt, const std::string &hostPath)
{
    for (const std::string &bound : opt.bindRo) {
        if (hostPath == bound || hostPath.rfind(bound + "/", 0) == 0)
            return kHostDir + hostPath;
    }
    return {};
}

}  // namespace sandbox

namespace {

using sandbox::die;
using sandbox::Options;
using sandbox::refuse;

const char kTreePrefix[] = "korv-tree.";

[[noreturn]] void usage()
{
    fprintf(stderr, "usage: korv-sandbox [--keep] [--bind-ro PATH]... [--env NAME[=VALUE]]... (TREE | --fresh) "
                    "-- COMMAND [ARG...]\n");
    exit(125);
}

std::string resolved(const std::string &path)
{
    char real[PATH_MAX];
    if (!realpath(path.c_str(), real))
        return {};
    return real;
}

// A host path as the command sees it: inside the bound folders when it lies in one.
std::string translate(const Options &opt, const std::string &path)
{
    std::string real = resolved(path);
    std::string inside = real.empty() ? std::string() : sandbox::inside_path(opt, real);
    return inside.empty() ? path : inside;
}

// The command gets a listed environment only: the device's PATH and HOME, the terminal, ICU's
// data folder (as seen inside), the sanitizers' settings and what the caller names.
void build_env(Options &opt, const std::vector<std::string> &named)
{
    auto add = [&](const std::string &name, const std::string &value) {
        auto it = std::find_if(opt.env.begin(), opt.env.end(), [&](const auto &e) { return e.first == name; });
        if (it != opt.env.end())
            it->second = value;
        else
            opt.env.emplace_back(name, value);
    };
    add("PATH", "/bin:/sbin:/usr/bin:/usr/sbin");
    add("HOME", "/root");
    for (const char *name : {"TERM", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
        if (const char *value = getenv(name))
            add(name, value);
    }
    if (const char *value = getenv("ICU_DATA")) {
        std::string list = value, out;
        size_t pos = 0;
        for (;;) {
            size_t colon = std::min(list.find(':', pos), list.size());
            std::string dir = list.substr(pos, colon - pos);
            out += (pos == 0 ? "" : ":") + (dir.empty() ? dir : translate(opt, dir));
            if (colon == list.size())
                break;
            pos = colon + 1;
        }
        add("ICU_DATA", out);
    }
    std::vector<std::string> names = named;
    if (const char *list = getenv("KORV_SANDBOX_ENV")) {
        std::string text = list;
        size_t pos = 0;
        while ((pos = text.find_first_not_of(" \t,", pos)) != std::string::npos) {
            size_t end = text.find_first_of(" \t,", pos);
            names.push_back(text.substr(pos, end - pos));
            pos = end;
        }
    }
    for (const std::string &entry : names) {
        size_t eq = entry.find('=');
        if (eq != std::string::npos)
            add(entry.substr(0, eq), entry.substr(eq + 1));
        else if (const char *value = getenv(entry.c_str()))
            add(entry, value);
    }
}

// A kept tree is laid out only in a folder that is empty or already a device tree.
void check_kept_tree(const std::string &tree)
{
    struct stat st {};
    if (lstat((tree + "/.korvsim").c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode))
            sandbox::refuse_link(tree + "/.korvsim");
        if (S_ISDIR(st.st_mode))
            return;
    }
    DIR *dir = opendir(tree.c_str());
    if (!dir)
        die("open the tree " + tree);
    bool empty = true;
    while (struct dirent *entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
            empty = false;
    }
    closedir(dir);
    if (!empty)
        refuse(tree + " is neither empty nor a device tree (it has no .korvsim folder); refusing to lay a tree "
                      "out over it");
}

// Each fresh tree's folder is locked while its session lives. Folders of sessions that ended
// without removing theirs (killed launchers) are empty and unlocked: they go.
void sweep(const std::string &root)
{
    int rootFd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootFd < 0)
        return;
    DIR *dir = fdopendir(dup(rootFd));
    if (!dir) {
        close(rootFd);
        return;
    }
    while (struct dirent *entry = readdir(dir)) {
        if (strncmp(entry->d_name, kTreePrefix, sizeof kTreePrefix - 1) != 0 ||
            strlen(entry->d_name) != sizeof kTreePrefix - 1 + 6)
            continue;
        struct stat st {};
        if (fstatat(rootFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode) ||
            st.st_uid != geteuid())
            continue;
        int fd = openat(rootFd, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            continue;
        if (flock(fd, LOCK_EX | LOCK_NB) == 0)
            unlinkat(rootFd, entry->d_name, AT_REMOVEDIR);  // only an empty one goes
        close(fd);
    }
    closedir(dir);
    close(rootFd);
}

// A new folder for a fresh tree, locked for the session; returns the lock's descriptor.
int make_fresh_tree(Options &opt)
{
    const char *env = getenv("KORV_TREE_ROOT");
    std::string root = resolved(env && *env ? env : "/tmp");
    if (root.empty())
        die(std::string("tree root ") + (env && *env ? env : "/tmp"));
    sweep(root);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string templ = root + "/" + kTreePrefix + "XXXXXX";
        std::vector<char> buf(templ.begin(), templ.end());
        buf.push_back('\0');
        if (!mkdtemp(buf.data()))
            die("mkdtemp " + templ);
        int fd = open(buf.data(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            continue;  // swept before it was locked
        struct stat held {}, now {};
        if (flock(fd, LOCK_EX) == 0 && fstat(fd, &held) == 0 && lstat(buf.data(), &now) == 0 &&
            held.st_dev == now.st_dev && held.st_ino == now.st_ino) {
            opt.tree = buf.data();
            return fd;
        }
        close(fd);
    }
    refuse("could not make a fresh tree under " + root);
}

}  // namespace

int main(int argc, char **argv)
{
    Options opt;
    std::vector<std::string> named;
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
        else if (arg == "--env" && i + 1 < argc && argv[i + 1][0] != '=' && argv[i + 1][0] != '\0')
            named.push_back(argv[++i]);
        else if (!arg.empty() && arg[0] != '-' && opt.tree.empty())
            opt.tree = arg;
        else
            usage();
    }
    if (i >= argc || opt.fresh == !opt.tree.empty())
        usage();
    for (std::string &path : opt.bindRo) {
        std::string real = resolved(path);
        struct stat st {};
        if (real.empty() || stat(real.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            die("bind folder " + path);
        if (real == "/")
            refuse("refusing to bind the host's root");
        path = real;
    }
    // Parents first, so that a folder inside another is bound on top of it.
    std::sort(opt.bindRo.begin(), opt.bindRo.end());
    opt.bindRo.erase(std::unique(opt.bindRo.begin(), opt.bindRo.end()), opt.bindRo.end());
    build_env(opt, named);
    for (; i < argc; ++i)
        opt.command.push_back(argv[i]);
    if (opt.command[0].find('/') != std::string::npos)
        opt.command[0] = translate(opt, opt.command[0]);
    if (getenv("KORV_KEEP_TREE"))
        opt.keep = true;

    int lock = -1;
    if (opt.fresh) {
        lock = make_fresh_tree(opt);
    } else {
        std::string tree = opt.tree;
        for (size_t pos = tree.find('/', 1);; pos = tree.find('/', pos + 1)) {
            std::string part = tree.substr(0, pos);
            if (!part.empty() && mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
                die("mkdir " + part);
            if (pos == std::string::npos)
                break;
        }
        opt.tree = resolved(tree);
        if (opt.tree.empty())
            die("tree " + tree);
        if (opt.tree == "/")
            refuse("refusing to use the host's root as a tree");
        check_kept_tree(opt.tree);
    }

    // SIGTERM and SIGHUP end the session and remove its fresh tree; SIGINT reaches the command
    // from the terminal, and the launcher waits for it to end.
    sigset_t mask, old;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGHUP);
    sigaddset(&mask, SIGCHLD);
    sigprocmask(SIG_BLOCK, &mask, &old);
    pid_t child = sandbox::start_sandbox(opt, old);
    signal(SIGINT, SIG_IGN);

    int rc = 125;
    for (;;) {
        siginfo_t info {};
        if (sigwaitinfo(&mask, &info) < 0)
            continue;
        if (info.si_signo == SIGCHLD) {
            int status = 0;
            pid_t done = waitpid(child, &status, WNOHANG);
            if (done != child)
                continue;
            rc = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        // The rest of the session ends with its first process.
        kill(child, SIGKILL);
        while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
        rc = 128 + info.si_signo;
        break;
    }
    if (opt.fresh && !opt.keep)
        rmdir(opt.tree.c_str());  // the tree lived on a tmpfs of the session: the folder is empty
    else if (opt.fresh)
        fprintf(stderr, "korv-sandbox: tree kept at %s\n", opt.tree.c_str());
    if (lock >= 0)
        close(lock);
    return rc;
}
