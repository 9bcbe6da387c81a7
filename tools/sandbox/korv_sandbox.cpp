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

namespace {

using sandbox::die;
using korv::UniqueFd;
using sandbox::Options;
using sandbox::refuse;

const char kTreePrefix[] = "korv-tree.";

[[noreturn]] void usage()
{
    fprintf(stderr, "usage: korv-sandbox [--keep] [--bind-ro PATH]... [--env NAME[=VALUE]]... [--pids N] "
                    "[--tree-size SIZE] (TREE | --fresh) -- COMMAND [ARG...]\n"
                    "       korv-sandbox --host-owner UID:GID\n");
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

// A kept tree is laid out only in a folder that is empty or already a device tree. Returns
// whether it is empty.
bool check_kept_tree(const Options &opt)
{
    struct stat st {};
    if (fstatat(opt.treeFd, ".korvsim", &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(st.st_mode))
            sandbox::refuse_link(opt.tree + "/.korvsim");
        if (S_ISDIR(st.st_mode))
            return false;
    }
    DIR *dir = fdopendir(openat(opt.treeFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir)
        die("open the tree " + opt.tree);
    bool empty = true;
    while (struct dirent *entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
            empty = false;
    }
    closedir(dir);
    if (!empty)
        refuse(opt.tree + " is neither empty nor a device tree (it has no .korvsim folder); refusing to lay a tree "
                          "out over it");
    return true;
}

// The kept tree's folder, looked up once, one component at a time and never through a link;
// missing components are made. Every later step uses the descriptor returned.
UniqueFd resolve_tree(const std::string &shown)
{
    UniqueFd cur(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    std::string done;
    size_t pos = 1;
    while (cur.get() >= 0 && pos <= shown.size()) {
        size_t slash = std::min(shown.find('/', pos), shown.size());
        std::string name = shown.substr(pos, slash - pos);
        pos = slash + 1;
        if (name.empty() || name == ".")
            continue;
        done += "/" + name;
        if (mkdirat(cur.get(), name.c_str(), 0755) != 0 && errno != EEXIST)
            die("mkdir " + done);
        UniqueFd next(openat(cur.get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (next.get() < 0) {
            if (errno == ENOTDIR || errno == ELOOP)
                refuse(done + " is a link or not a folder; give the tree by a path of folders, without links");
            die("open " + done);
        }
        cur = std::move(next);
    }
    UniqueFd tree(openat(cur.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (tree.get() < 0)
        die("open the tree " + shown);
    return tree;
}

// One session at a time on a kept tree: a second waits for the first, for a bounded time.
void lock_kept_tree(const Options &opt)
{
    if (flock(opt.treeFd, LOCK_EX | LOCK_NB) == 0)
        return;
    if (errno != EWOULDBLOCK)
        die("lock the tree " + opt.tree);
    const char *env = getenv("KORV_TREE_WAIT");
    int wait = env && *env ? atoi(env) : sandbox::kDefaultTreeWait;
    fprintf(stderr, "korv-sandbox: %s is in use by another session; waiting up to %d s\n", opt.tree.c_str(), wait);
    for (int tenth = 0; tenth < wait * 10; ++tenth) {
        usleep(100000);
        if (flock(opt.treeFd, LOCK_EX | LOCK_NB) == 0)
            return;
    }
    refuse(opt.tree + " is in use by another session (waited " + std::to_string(wait) +
           " s); one session at a time uses a kept tree");
}

// Started by root, a tree belongs to root inside, which is no host id below kRootIdBase.
void own_tree(const Options &opt, bool empty)
{
    if (geteuid() != 0)
        return;
    struct stat st {};
    if (fstat(opt.treeFd, &st) != 0)
        die("stat the tree " + opt.tree);
    if (st.st_uid == sandbox::kRootIdBase)
        return;
    if (!empty)
        refuse(opt.tree + " was laid out with the host's own ids (its owner is " + std::to_string(st.st_uid) +
               ", not " + std::to_string(sandbox::kRootIdBase) + "); remove it and let a new session lay it out");
    if (fchown(opt.treeFd, sandbox::kRootIdBase, sandbox::kRootIdBase) != 0)
        die("give the tree " + opt.tree + " to the sandbox's root");
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

// A new folder for a fresh tree, locked for the session; returns its descriptor.
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

// Where the caller's environment lies in this process's memory (/proc/self/stat's env_start and
// env_end), so that pid 1, a copy of this process, can wipe it.
void find_environment(Options &opt)
{
    FILE *f = fopen("/proc/self/stat", "re");
    if (!f)
        return;
    char buf[4096];
    size_t n = fread(buf, 1, sizeof buf - 1, f);
    fclose(f);
    buf[n] = '\0';
    char *p = strrchr(buf, ')');
    if (!p)
        return;
    // Field 3 follows the command's name; env_start and env_end are fields 50 and 51.
    int field = 2;
    unsigned long values[52] = {};
    for (char *tok = strtok(p + 1, " "); tok && field < 51; tok = strtok(nullptr, " "))
        values[++field] = strtoul(tok, nullptr, 10);
    if (field == 51 && values[51] > values[50]) {
        opt.envStart = values[50];
        opt.envEnd = values[51];
    }
}

// --host-owner UID:GID: the host's owner of a file that has this owner inside, for this caller.
int print_host_owner(const std::string &arg)
{
    unsigned long uid = 0, gid = 0;
    char extra = 0;
    if (sscanf(arg.c_str(), "%lu:%lu%c", &uid, &gid, &extra) != 2)
        usage();
    sandbox::IdMaps maps = sandbox::caller_id_maps();
    long long hostUid = sandbox::host_id(maps.uids, static_cast<uint32_t>(uid));
    long long hostGid = sandbox::host_id(maps.gids, static_cast<uint32_t>(gid));
    if (hostUid < 0 || hostGid < 0)
        refuse(arg + " is not mapped for this caller");
    printf("%lld:%lld\n", hostUid, hostGid);
    return 0;
}

long parse_count(const char *text)
{
    char *end = nullptr;
    long value = strtol(text, &end, 10);
    if (!*text || *end || value < 1)
        usage();
    return value;
}

}  // namespace

int main(int argc, char **argv)
{
    Options opt;
    find_environment(opt);
    std::vector<std::string> named;
    int i = 1;
    if (argc == 3 && std::string(argv[1]) == "--host-owner")
        return print_host_owner(argv[2]);
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
        else if (arg == "--pids" && i + 1 < argc)
            opt.pids = parse_count(argv[++i]);
        else if (arg == "--tree-size" && i + 1 < argc && argv[i + 1][0] != '\0' && argv[i + 1][0] != '-')
            opt.treeSize = argv[++i];
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

    UniqueFd tree;
    if (opt.fresh) {
        tree.reset(make_fresh_tree(opt));
        opt.treeFd = tree.get();
        if (opt.keep)
            own_tree(opt, true);
    } else {
        if (opt.tree[0] != '/') {
            char cwd[PATH_MAX];
            if (!getcwd(cwd, sizeof cwd))
                die("getcwd");
            opt.tree = std::string(cwd) + "/" + opt.tree;
        }
        tree = resolve_tree(opt.tree);
        opt.treeFd = tree.get();
        struct stat st {}, hostRoot {};
        if (fstat(opt.treeFd, &st) != 0 || stat("/", &hostRoot) != 0)
            die("stat the tree " + opt.tree);
        if (st.st_dev == hostRoot.st_dev && st.st_ino == hostRoot.st_ino)
            refuse("refusing to use the host's root as a tree");
        lock_kept_tree(opt);
        own_tree(opt, check_kept_tree(opt));
    }

    // SIGTERM and SIGHUP end the session and remove its fresh tree. SIGINT from the caller's
    // terminal reaches the command through its pseudo-terminal, and the launcher waits for it
    // to end; without a terminal it ends the session too.
    sandbox::Relay relay;
    relay.prepare(opt);
    sigset_t mask, old;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGHUP);
    sigaddset(&mask, SIGCHLD);
    sigaddset(&mask, SIGINT);
    if (opt.terminal)
        sigaddset(&mask, SIGWINCH);
    sigprocmask(SIG_BLOCK, &mask, &old);
    pid_t child = sandbox::start_sandbox(opt, old);
    relay.started(opt);
    signal(SIGPIPE, SIG_IGN);

    int rc = 125;
    for (;;) {
        siginfo_t info = relay.run(mask);
        if (info.si_signo == SIGCHLD) {
            int status = 0;
            pid_t done = waitpid(child, &status, WNOHANG);
            if (done != child)
                continue;
            rc = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (info.si_signo == SIGINT && opt.terminal) {
            relay.interrupt();
            continue;
        }
        // The rest of the session ends with its first process.
        kill(child, SIGKILL);
        while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
        rc = 128 + info.si_signo;
        break;
    }
    relay.restore();
    if (opt.fresh && !opt.keep)
        rmdir(opt.tree.c_str());  // the tree lived on a tmpfs of the session: the folder is empty
    else if (opt.fresh)
        fprintf(stderr, "korv-sandbox: tree kept at %s\n", opt.tree.c_str());
    return rc;
}
