// The namespaces of a sandbox session. The tree's own mount and the read-only binds are made in
// a first private mount namespace, never through a link of the tree; a second one, entered
// with new user and pid namespaces, gets them locked read-only, and switches its root to the
// tree; the command then lives in a third user namespace below, which does not own the pid
// namespace.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <spawn.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sandbox.h"

extern char **environ;

namespace sandbox {
namespace {

// Folders every device tree has. None may be a link: the set-up below runs with the host's
// view of the file system, where a link would lead it outside the tree.
const char *const kFixedDirs[] = {
    "bin",     "sbin",     "dev",     "etc",      "etc.defaults", "proc",     "sys",
    "tmp",     "usr",      "usr/bin", "usr/lib",  "usr/lib64",    "usr/libexec", "var",
    "var/log", "var/run",  "volume1", "root",     ".korvsim",     ".korvsim/tools", ".korvsim/host",
    ".korvsim/proc",
};

const char *const kLibDirs[] = {"/usr/lib", "/usr/lib64", "/usr/libexec"};
const char *const kDevices[] = {"null", "zero", "urandom", "random", "full"};

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(Fd &&other) noexcept : fd_(other.release()) {}
    Fd &operator=(Fd &&other) noexcept
    {
        reset(other.release());
        return *this;
    }
    ~Fd() { reset(); }
    int get() const { return fd_; }
    int release()
    {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1)
    {
        if (fd_ >= 0)
            close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

// Opens TREE/rel as a folder, one component at a time and never through a link; creates the
// missing components when asked. An invalid Fd when it is missing and not created.
Fd open_dir(int root, const std::string &tree, const std::string &rel, bool create)
{
    Fd cur(fcntl(root, F_DUPFD_CLOEXEC, 0));
    if (cur.get() < 0)
        die("dup");
    std::string done = tree;
    size_t pos = 0;
    while (pos < rel.size()) {
        size_t slash = rel.find('/', pos);
        if (slash == std::string::npos)
            slash = rel.size();
        std::string name = rel.substr(pos, slash - pos);
        pos = slash + 1;
        if (name.empty())
            continue;
        done += "/" + name;
        if (create && mkdirat(cur.get(), name.c_str(), 0755) != 0 && errno != EEXIST)
            die("mkdir " + done);
        Fd next(openat(cur.get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (next.get() < 0) {
            int err = errno;
            struct stat st {};
            if (fstatat(cur.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
                refuse_link(done);
            if (err == ENOENT && !create)
                return Fd();
            errno = err;
            die("open " + done);
        }
        cur = std::move(next);
    }
    return cur;
}

// A file to mount a bind on: dir/name, created empty when missing; a link is refused.
Fd mount_file(int dir, const std::string &shown, const char *name)
{
    Fd fd(openat(dir, name, O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0 && errno == ENOENT) {
        int created = openat(dir, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (created < 0)
            die("create " + shown);
        close(created);
        fd.reset(openat(dir, name, O_PATH | O_NOFOLLOW | O_CLOEXEC));
    }
    if (fd.get() < 0)
        die("open " + shown);
    struct stat st {};
    if (fstat(fd.get(), &st) != 0)
        die("stat " + shown);
    if (S_ISLNK(st.st_mode))
        refuse_link(shown);
    if (!S_ISREG(st.st_mode) && !S_ISCHR(st.st_mode))
        refuse(shown + " is neither a file nor a device; the sandbox binds a file there");
    return fd;
}

// A detached copy of a host folder or file, with the given mount attributes on all of it.
Fd clone_host(const std::string &src, uint64_t attrs)
{
    Fd fd(open_tree(AT_FDCWD, src.c_str(), OPEN_TREE_CLONE | OPEN_TREE_CLOEXEC | AT_RECURSIVE));
    if (fd.get() < 0)
        die("bind " + src);
    struct mount_attr attr {};
    attr.attr_set = attrs;
    if (mount_setattr(fd.get(), "", AT_EMPTY_PATH | AT_RECURSIVE, &attr, sizeof attr) != 0)
        die("mount attributes of " + src);
    return fd;
}

void attach(const Fd &mnt, const Fd &target, const std::string &shown)
{
    if (move_mount(mnt.get(), "", target.get(), "", MOVE_MOUNT_F_EMPTY_PATH | MOVE_MOUNT_T_EMPTY_PATH) != 0)
        die("mount on " + shown);
}

// The tree's own mount, nosuid and nodev: a new tmpfs for a fresh tree, else the folder bound
// onto itself. Returns the root of that mount.
Fd mount_tree(const Options &opt)
{
    Fd dir(open(opt.tree.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (dir.get() < 0)
        die("open the tree " + opt.tree);
    Fd mnt;
    if (opt.fresh && !opt.keep) {
        Fd fs(fsopen("tmpfs", FSOPEN_CLOEXEC));
        if (fs.get() < 0 || fsconfig(fs.get(), FSCONFIG_SET_STRING, "mode", "0755", 0) != 0 ||
            fsconfig(fs.get(), FSCONFIG_CMD_CREATE, nullptr, nullptr, 0) != 0)
            die("create the tree's tmpfs");
        mnt.reset(fsmount(fs.get(), FSMOUNT_CLOEXEC, MOUNT_ATTR_NOSUID | MOUNT_ATTR_NODEV));
        if (mnt.get() < 0)
            die("mount the tree's tmpfs");
    } else {
        mnt.reset(open_tree(dir.get(), "", OPEN_TREE_CLONE | OPEN_TREE_CLOEXEC | AT_EMPTY_PATH | AT_RECURSIVE));
        if (mnt.get() < 0)
            die("bind the tree " + opt.tree);
        struct mount_attr attr {};
        attr.attr_set = MOUNT_ATTR_NOSUID | MOUNT_ATTR_NODEV;
        if (mount_setattr(mnt.get(), "", AT_EMPTY_PATH, &attr, sizeof attr) != 0)
            die("mount attributes of the tree");
    }
    attach(mnt, dir, opt.tree);
    return mnt;
}

// In the first mount namespace: every bind the sandbox offers, read-only where it is the host's.
void set_up_tree(const Options &opt, const std::vector<std::pair<std::string, std::string>> &tools)
{
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        die("private mounts");
    constexpr uint64_t kReadOnly = MOUNT_ATTR_RDONLY | MOUNT_ATTR_NOSUID | MOUNT_ATTR_NODEV;

    // Copies of the host's folders are taken before the tree is mounted, so that a tree inside
    // a bound folder does not show up in its own copy.
    struct Bind {
        Fd mnt;
        std::string rel;  // in the tree
        bool file;
    };
    std::vector<Bind> binds;
    for (const std::string &path : opt.bindRo)
        binds.push_back({clone_host(path, kReadOnly), std::string(kHostDir + 1) + path, false});
    for (const char *dir : kLibDirs) {
        struct stat st {};
        if (stat(dir, &st) == 0 && S_ISDIR(st.st_mode))
            binds.push_back({clone_host(dir, kReadOnly), dir + 1, false});
    }
    for (const auto &[name, src] : tools)
        binds.push_back({clone_host(src, kReadOnly), std::string(kToolDir + 1) + "/" + name, true});
    for (const char *dev : kDevices) {
        std::string src = std::string("/dev/") + dev;
        if (access(src.c_str(), F_OK) == 0)
            binds.push_back({clone_host(src, MOUNT_ATTR_NOSUID | MOUNT_ATTR_NOEXEC), "dev/" + std::string(dev), true});
    }

    Fd root = mount_tree(opt);
    for (const char *dir : kFixedDirs) {
        struct stat st {};
        if (fstatat(root.get(), dir, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISLNK(st.st_mode))
            refuse_link(opt.tree + "/" + dir);
        if (!S_ISDIR(st.st_mode))
            refuse(opt.tree + "/" + dir + " is not a folder");
    }
    open_dir(root.get(), opt.tree, ".korvsim/proc", true);
    for (const Bind &bind : binds) {
        std::string shown = opt.tree + "/" + bind.rel;
        if (bind.file) {
            size_t slash = bind.rel.rfind('/');
            Fd dir = open_dir(root.get(), opt.tree, bind.rel.substr(0, slash), true);
            attach(bind.mnt, mount_file(dir.get(), shown, bind.rel.c_str() + slash + 1), shown);
        } else {
            attach(bind.mnt, open_dir(root.get(), opt.tree, bind.rel, true), shown);
        }
    }
}

void write_file(const std::string &path, const std::string &text)
{
    Fd fd(open(path.c_str(), O_WRONLY | O_CLOEXEC));
    if (fd.get() < 0 || write(fd.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        die("write " + path);
}

// Ends this process when its parent does, so that no part of a session outlives the launcher.
// `parent` is the parent's pid as this process sees it.
void die_with_parent(pid_t parent)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent)
        _exit(125);
}

int wait_status(pid_t pid)
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

// How many user and group ids a map holds; 0 when none was written.
struct IdCounts {
    uint32_t uids = 0;
    uint32_t gids = 0;
};

// Two pipes between a process that unshares a user namespace and the one that maps its ids.
class Handshake {
public:
    Handshake()
    {
        if (pipe2(ready_, O_CLOEXEC) != 0 || pipe2(mapped_, O_CLOEXEC) != 0)
            die("pipe");
    }
    ~Handshake()
    {
        for (int fd : {ready_[0], ready_[1], mapped_[0], mapped_[1]})
            if (fd >= 0)
                close(fd);
    }
    Handshake(const Handshake &) = delete;
    Handshake &operator=(const Handshake &) = delete;
    // In the process that unshared: tells the mapper, then waits until the maps are written
    // and returns what the mapper answers.
    bool unshared(IdCounts *answer = nullptr)
    {
        char byte = 0;
        IdCounts value;
        if (write(ready_[1], &byte, 1) != 1 || read(mapped_[0], &value, sizeof value) != sizeof value)
            return false;
        if (answer)
            *answer = value;
        return true;
    }
    // In the mapper: waits for the unshare; false when the other side ended first.
    bool wait_unshared()
    {
        close(ready_[1]);
        ready_[1] = -1;
        char byte = 0;
        return read(ready_[0], &byte, 1) == 1;
    }
    void mapped(IdCounts answer = {})
    {
        if (write(mapped_[1], &answer, sizeof answer) != sizeof answer)
            die("start the sandbox");
    }

private:
    int ready_[2];
    int mapped_[2];
};

void write_id_maps(const std::string &procDir, const std::string &uidMap, const std::string &gidMap,
                   bool denySetgroups)
{
    if (denySetgroups)
        write_file(procDir + "/setgroups", "deny");
    write_file(procDir + "/uid_map", uidMap);
    write_file(procDir + "/gid_map", gidMap);
}

// pid 1 of the new pid namespace: its own copy of the tree as the mount to switch to, the
// sandbox's procfs, then the root switch; the host's mounts go with the old root. Then the
// namespaces the command lives in, under a user namespace of their own: the pid namespace
// stays owned by the one above, so the command cannot mount a procfs of its own (the
// sandbox's counts as visible for the kernel's check), nor a cgroup file system.
[[noreturn]] void enter_tree(const Options &opt, const std::vector<std::string> &tools, const std::string &uidMap,
                             const std::string &gidMap)
{
    // Nothing opened on the host side reaches the command, nor pid 1, which the command could
    // borrow descriptors from.
    close_range(3, ~0U, 0);
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        die("private mounts");
    // A mount copied from the first namespace is locked there, and pivot_root refuses it.
    if (mount(opt.tree.c_str(), opt.tree.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
        die("bind the tree");
    std::string proc = opt.tree + "/.korvsim/proc";
    if (mount("proc", proc.c_str(), "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, "subset=pid") != 0)
        die("mount the sandbox's procfs");
    if (chdir(opt.tree.c_str()) != 0 || syscall(SYS_pivot_root, ".", ".") != 0)
        die("switch the root to the tree");
    if (umount2(".", MNT_DETACH) != 0 || chdir("/") != 0)
        die("detach the old root");

    Handshake handshake;
    pid_t mapper = fork();
    if (mapper < 0)
        die("fork");
    if (mapper == 0) {
        die_with_parent(1);
        if (!handshake.wait_unshared())
            _exit(125);
        write_id_maps("/.korvsim/proc/1", uidMap, gidMap, false);
        handshake.mapped();
        _exit(0);
    }
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS | CLONE_NEWNET | CLONE_NEWUTS | CLONE_NEWIPC) != 0)
        die("unshare the command's namespaces");
    if (!handshake.unshared() || wait_status(mapper) != 0)
        refuse("could not map the command's user ids");
    run_init(opt, tools);
}

}  // namespace

[[noreturn]] void refuse_link(const std::string &shown)
{
    refuse(shown + " is a link; the sandbox follows no links in a tree (remove it, or use another tree)");
}

namespace {

// The first range of subordinate ids that /etc/subuid or /etc/subgid grants the user.
bool subordinate_range(const char *file, const std::string &user, uid_t uid, unsigned long &start,
                       unsigned long &count)
{
    FILE *f = fopen(file, "re");
    if (!f)
        return false;
    char line[512];
    bool found = false;
    while (!found && fgets(line, sizeof line, f)) {
        char name[256];
        if (sscanf(line, "%255[^:]:%lu:%lu", name, &start, &count) == 3 && count > 0 &&
            (name == user || name == std::to_string(uid)))
            found = true;
    }
    fclose(f);
    return found;
}

// Runs newuidmap or newgidmap quietly; true when it mapped the ids.
bool run_quietly(const std::vector<std::string> &args)
{
    std::vector<char *> argv;
    for (const std::string &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 && wait_status(pid) == 0;
}

// Started by an ordinary user, the first namespace maps 0 to the caller and, when the system
// grants the user subordinate ids, 1 up to 65535 to them, so that file owners other than root
// behave as on the device too. Returns the number of ids mapped, none when the child is to map
// only the caller itself.
IdCounts map_subordinate_ids(pid_t child)
{
    struct passwd *pw = getpwuid(geteuid());
    std::string user = pw ? pw->pw_name : "";
    unsigned long uidStart = 0, uidCount = 0, gidStart = 0, gidCount = 0;
    if (!subordinate_range("/etc/subuid", user, geteuid(), uidStart, uidCount) ||
        !subordinate_range("/etc/subgid", user, geteuid(), gidStart, gidCount))
        return {};
    uidCount = std::min(uidCount, 65535ul);
    gidCount = std::min(gidCount, 65535ul);
    std::string pid = std::to_string(child);
    if (!run_quietly({"newuidmap", pid, "0", std::to_string(geteuid()), "1", "1", std::to_string(uidStart),
                      std::to_string(uidCount)}) ||
        !run_quietly({"newgidmap", pid, "0", std::to_string(getegid()), "1", "1", std::to_string(gidStart),
                      std::to_string(gidCount)}))
        return {};
    return {static_cast<uint32_t>(uidCount + 1), static_cast<uint32_t>(gidCount + 1)};
}

[[noreturn]] void run_sandbox(const Options &opt, Handshake &first)
{
    uid_t uid = geteuid();
    gid_t gid = getegid();
    bool root = uid == 0;
    // As root the first namespace needs no user namespace of its own; otherwise the caller
    // becomes root of one, which the next ones map.
    if (unshare(CLONE_NEWNS | (root ? 0 : CLONE_NEWUSER)) != 0)
        die("unshare (the sandbox needs root or unprivileged user namespaces)");
    // As root, ids 0 to 65535 stay what they are, so the tree's file owners read as on the device.
    uint32_t uids = 65536, gids = 65536;
    bool setgroups = true;
    if (!root) {
        IdCounts mapped;
        if (!first.unshared(&mapped))
            _exit(125);
        uids = mapped.uids;
        gids = mapped.gids;
        if (uids == 0 || gids == 0) {
            write_id_maps("/proc/self", "0 " + std::to_string(uid) + " 1\n", "0 " + std::to_string(gid) + " 1\n",
                          true);
            uids = gids = 1;
            setgroups = false;
        }
    }
    auto tools = host_tools();
    set_up_tree(opt, tools);
    std::vector<std::string> toolNames;
    for (const auto &tool : tools)
        toolNames.push_back(tool.first);
    // The inner namespaces map ids one to one; root on a line of its own, since each line must
    // fall within one line of the outer map (root and the subordinate ids are two there).
    auto one_to_one = [](uint32_t count) {
        return count == 1 ? std::string("0 0 1\n") : "0 0 1\n1 1 " + std::to_string(count - 1) + "\n";
    };
    std::string uidMap = one_to_one(uids);
    std::string gidMap = one_to_one(gids);

    Handshake handshake;
    pid_t self = getpid();
    pid_t child = fork();
    if (child < 0)
        die("fork");
    if (child == 0) {
        die_with_parent(self);
        // The mount namespace copied here has the binds above locked read-only.
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS | CLONE_NEWPID | CLONE_NEWCGROUP) != 0)
            die("unshare the sandbox's namespaces");
        if (!handshake.unshared())
            _exit(125);
        if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
            die("no-new-privileges");
        pid_t init = fork();
        if (init < 0)
            die("fork");
        if (init == 0) {
            die_with_parent(0);  // its parent is outside its pid namespace
            enter_tree(opt, toolNames, uidMap, gidMap);
        }
        _exit(wait_status(init));
    }
    if (!handshake.wait_unshared())
        _exit(wait_status(child));
    write_id_maps("/proc/" + std::to_string(child), uidMap, gidMap, !setgroups);
    handshake.mapped();
    _exit(wait_status(child));
}

}  // namespace

pid_t start_sandbox(const Options &opt, const sigset_t &childMask)
{
    Handshake first;
    pid_t launcher = getpid();
    pid_t child = fork();
    if (child < 0)
        die("fork");
    if (child == 0) {
        sigprocmask(SIG_SETMASK, &childMask, nullptr);
        die_with_parent(launcher);
        run_sandbox(opt, first);
    }
    if (geteuid() != 0 && first.wait_unshared())
        first.mapped(map_subordinate_ids(child));
    return child;
}

}  // namespace sandbox
