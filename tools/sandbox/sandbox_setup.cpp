// The namespaces of a sandbox session. The tree's own mount and the read-only binds are made in
// a first private mount namespace, on the tree's folder as the launcher resolved it, never
// through a link of the tree; a second one, entered
// with new user and pid namespaces, gets them locked read-only, and switches its root to the
// tree; the command then lives in a third user namespace below, which does not own the pid
// namespace.
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <linux/openat2.h>
#include <spawn.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/fsuid.h>
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

// Opens TREE/rel as a folder, one component at a time and never through a link; creates the
// missing components when asked. An empty holder when it is missing and not created.
UniqueFd open_dir(int root, const std::string &tree, const std::string &rel, bool create)
{
    UniqueFd cur(fcntl(root, F_DUPFD_CLOEXEC, 0));
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
        UniqueFd next(openat(cur.get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (next.get() < 0) {
            int err = errno;
            struct stat st {};
            if (fstatat(cur.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
                refuse_link(done);
            if (err == ENOENT && !create)
                return UniqueFd();
            errno = err;
            die("open " + done);
        }
        cur = std::move(next);
    }
    return cur;
}

// A file to mount a bind on: dir/name, created empty when missing; a link is refused.
UniqueFd mount_file(int dir, const std::string &shown, const char *name)
{
    UniqueFd fd(openat(dir, name, O_PATH | O_NOFOLLOW | O_CLOEXEC));
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

// A detached copy of a host folder or file, with the given mount attributes on all of it; with
// a user namespace, its owners are shown through that namespace's ids (an idmapped mount), where
// the file system can.
UniqueFd clone_host(const std::string &src, uint64_t attrs, int userns = -1)
{
    UniqueFd fd(open_tree(AT_FDCWD, src.c_str(), OPEN_TREE_CLONE | OPEN_TREE_CLOEXEC | AT_RECURSIVE));
    if (fd.get() < 0)
        die("bind " + src);
    struct mount_attr attr {};
    attr.attr_set = attrs;
    if (userns >= 0) {
        struct mount_attr mapped = attr;
        mapped.attr_set |= MOUNT_ATTR_IDMAP;
        mapped.userns_fd = static_cast<uint64_t>(userns);
        if (mount_setattr(fd.get(), "", AT_EMPTY_PATH | AT_RECURSIVE, &mapped, sizeof mapped) == 0)
            return fd;
    }
    if (mount_setattr(fd.get(), "", AT_EMPTY_PATH | AT_RECURSIVE, &attr, sizeof attr) != 0)
        die("mount attributes of " + src);
    return fd;
}

void attach(const UniqueFd &mnt, const UniqueFd &target, const std::string &shown)
{
    if (move_mount(mnt.get(), "", target.get(), "", MOVE_MOUNT_F_EMPTY_PATH | MOVE_MOUNT_T_EMPTY_PATH) != 0)
        die("mount on " + shown);
}

// The tree's own mount, nosuid and nodev, over the tree's folder `dir`: a new tmpfs of the size
// asked for a fresh tree, else the folder bound onto itself. Returns the root of that mount.
UniqueFd mount_tree(const Options &opt, const UniqueFd &dir)
{
    UniqueFd mnt;
    if (opt.fresh && !opt.keep) {
        UniqueFd fs(fsopen("tmpfs", FSOPEN_CLOEXEC));
        if (fs.get() < 0 || fsconfig(fs.get(), FSCONFIG_SET_STRING, "mode", "0755", 0) != 0)
            die("create the tree's tmpfs");
        if (fsconfig(fs.get(), FSCONFIG_SET_STRING, "size", opt.treeSize.c_str(), 0) != 0)
            die("size " + opt.treeSize + " of the tree's tmpfs");
        if (fsconfig(fs.get(), FSCONFIG_CMD_CREATE, nullptr, nullptr, 0) != 0)
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

// The build's SMTP plug-in beside the launcher (KORV_SANDBOX_PLUGIN is its path from the
// launcher's folder): its folder's host path, "" when the build has none.
std::string plugin_folder()
{
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return "";
    std::string path(self, static_cast<size_t>(n));
    path = path.substr(0, path.rfind('/') + 1) + KORV_SANDBOX_PLUGIN;
    char real[PATH_MAX];
    struct stat st {};
    if (!realpath(path.c_str(), real) || stat(real, &st) != 0 || !S_ISREG(st.st_mode))
        return "";
    std::string folder(real);
    return folder.substr(0, folder.rfind('/'));
}

// The host's /usr/lib joined with the plug-in's folder, read-only: "/lib/libkorvsmtp.so" is
// there as on the device. Both layers are the detached copies given; /usr/lib is the upper one,
// so the folder keeps its own mode and owner.
UniqueFd overlay_lib(const UniqueFd &lib, const UniqueFd &plugin)
{
    std::string layers = "/proc/self/fd/" + std::to_string(lib.get()) + ":/proc/self/fd/" + std::to_string(plugin.get());
    UniqueFd fs(fsopen("overlay", FSOPEN_CLOEXEC));
    if (fs.get() < 0 || fsconfig(fs.get(), FSCONFIG_SET_STRING, "lowerdir", layers.c_str(), 0) != 0 ||
        fsconfig(fs.get(), FSCONFIG_CMD_CREATE, nullptr, nullptr, 0) != 0)
        die("lay the SMTP plug-in over /usr/lib");
    UniqueFd mnt(fsmount(fs.get(), FSMOUNT_CLOEXEC, MOUNT_ATTR_RDONLY | MOUNT_ATTR_NOSUID | MOUNT_ATTR_NODEV));
    if (mnt.get() < 0)
        die("mount the SMTP plug-in over /usr/lib");
    return mnt;
}

const char kToolFolder[] = "/usr/bin";

// The tools that FOLDER/NAME is not, as a program or a link that stays in the folder.
std::vector<std::pair<std::string, std::string>> tools_outside_folder(
    const std::vector<std::pair<std::string, std::string>> &tools, const char *folder)
{
    std::vector<std::pair<std::string, std::string>> outside;
    for (const auto &tool : tools) {
        std::string path = std::string(folder) + "/" + tool.first;
        struct stat st {};
        bool in = lstat(path.c_str(), &st) == 0;
        if (in && S_ISLNK(st.st_mode)) {
            char target[PATH_MAX];
            ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
            in = n > 0 && !memchr(target, '/', static_cast<size_t>(n)) && !(n == 2 && target[0] == '.' && target[1] == '.');
        } else if (in) {
            in = S_ISREG(st.st_mode);
        }
        if (!in)
            outside.push_back(tool);
    }
    return outside;
}

// In the first mount namespace: every bind the sandbox offers, read-only where it is the host's,
// on the tree's folder (the process's working folder, resolved once by the launcher). Returns
// the root of the tree's own mount.
UniqueFd set_up_tree(const Options &opt, const std::vector<std::pair<std::string, std::string>> &tools, int userns)
{
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        die("private mounts");
    UniqueFd dir(open(".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0)
        die("open the tree " + opt.tree);
    constexpr uint64_t kReadOnly = MOUNT_ATTR_RDONLY | MOUNT_ATTR_NOSUID | MOUNT_ATTR_NODEV;

    // Copies of the host's folders are taken before the tree is mounted, so that a tree inside
    // a bound folder does not show up in its own copy.
    struct Bind {
        UniqueFd mnt;
        std::string rel;  // in the tree
        bool file;
    };
    std::vector<Bind> binds;
    for (const std::string &path : opt.bindRo)
        binds.push_back({clone_host(path, kReadOnly, userns), std::string(kHostDir + 1) + path, false});
    std::string plugin = plugin_folder();
    for (const char *lib : kLibDirs) {
        struct stat st {};
        if (stat(lib, &st) != 0 || !S_ISDIR(st.st_mode))
            continue;
        UniqueFd mnt = clone_host(lib, kReadOnly, userns);
        if (!plugin.empty() && strcmp(lib, "/usr/lib") == 0)
            mnt = overlay_lib(mnt, clone_host(plugin, kReadOnly, userns));
        binds.push_back({std::move(mnt), lib + 1, false});
    }
    // One bind of the host's folder of programs when it holds every tool (its links relative),
    // else one bind per tool: every mount is copied into each namespace of every session.
    auto outside = tools_outside_folder(tools, kToolFolder);
    if (outside.size() < tools.size()) {
        binds.push_back({clone_host(kToolFolder, kReadOnly, userns), kToolDir + 1, false});
        for (const auto &[name, src] : outside)
            binds.push_back({clone_host(src, kReadOnly, userns), std::string(kExtraToolDir + 1) + "/" + name, true});
    } else {
        for (const auto &[name, src] : tools)
            binds.push_back({clone_host(src, kReadOnly, userns), std::string(kToolDir + 1) + "/" + name, true});
    }
    // Device nodes work on a read-only bind, and their mode and owner cannot change through it.
    for (const char *dev : kDevices) {
        std::string src = std::string("/dev/") + dev;
        if (access(src.c_str(), F_OK) == 0)
            binds.push_back({clone_host(src, MOUNT_ATTR_RDONLY | MOUNT_ATTR_NOSUID | MOUNT_ATTR_NOEXEC),
                             "dev/" + std::string(dev), true});
    }

    // Started by root, what is made in the tree belongs to the tree's root, never to the host's,
    // and no host permission check is passed by privilege from here on.
    if (opt.hostRoot) {
        setfsgid(kRootIdBase);
        setfsuid(kRootIdBase);
        if (static_cast<uint32_t>(setfsuid(-1)) != kRootIdBase)
            refuse("could not drop the host's file privileges");
    }
    UniqueFd root = mount_tree(opt, dir);
    for (const char *fixed : kFixedDirs) {
        struct stat st {};
        if (fstatat(root.get(), fixed, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISLNK(st.st_mode))
            refuse_link(opt.tree + "/" + fixed);
        if (!S_ISDIR(st.st_mode))
            refuse(opt.tree + "/" + fixed + " is not a folder");
    }
    open_dir(root.get(), opt.tree, ".korvsim/proc", true);
    for (const Bind &bind : binds) {
        std::string shown = opt.tree + "/" + bind.rel;
        if (bind.file) {
            size_t slash = bind.rel.rfind('/');
            UniqueFd sub = open_dir(root.get(), opt.tree, bind.rel.substr(0, slash), true);
            attach(bind.mnt, mount_file(sub.get(), shown, bind.rel.c_str() + slash + 1), shown);
        } else {
            attach(bind.mnt, open_dir(root.get(), opt.tree, bind.rel, true), shown);
        }
    }
    return root;
}

void write_file(const std::string &path, const std::string &text)
{
    UniqueFd fd(open(path.c_str(), O_WRONLY | O_CLOEXEC));
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
    // In the process that unshared: tells the mapper, then waits until the maps are written;
    // false when the mapper could not map them.
    bool unshared()
    {
        char byte = 0;
        if (write(ready_[1], &byte, 1) != 1 || read(mapped_[0], &byte, 1) != 1)
            return false;
        return byte == 1;
    }
    // In the mapper: waits for the unshare; false when the other side ended first.
    bool wait_unshared()
    {
        close(ready_[1]);
        ready_[1] = -1;
        char byte = 0;
        return read(ready_[0], &byte, 1) == 1;
    }
    void mapped(bool done)
    {
        char byte = done ? 1 : 0;
        if (write(mapped_[1], &byte, 1) != 1)
            die("start the sandbox");
    }

private:
    int ready_[2];
    int mapped_[2];
};

std::string map_text(const std::vector<IdRange> &map)
{
    std::string text;
    for (const IdRange &range : map)
        text += std::to_string(range.inside) + " " + std::to_string(range.host) + " " + std::to_string(range.count) + "\n";
    return text;
}

void write_id_maps(const std::string &procDir, const std::string &uidMap, const std::string &gidMap,
                   bool denySetgroups)
{
    if (denySetgroups)
        write_file(procDir + "/setgroups", "deny");
    write_file(procDir + "/uid_map", uidMap);
    write_file(procDir + "/gid_map", gidMap);
}

// The pid namespace's pids end just above the session's process limit, so that every pid has
// its /proc link and a pid is reused rather than grown. The host's procfs is still the root's
// here; the setting is the namespace's own (a kernel without it refuses, and the host's
// stays as it is). Returns the last pid.
int limit_pids(long pids)
{
    long last = std::max(pids, 400L);
    std::string text = std::to_string(last + 1);
    UniqueFd fd(open("/proc/sys/kernel/pid_max", O_WRONLY | O_CLOEXEC));
    if (fd.get() < 0 || write(fd.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        return 1 << 22;
    return static_cast<int>(last);
}

// pid 1 of the new pid namespace: its own copy of the tree (its working folder) as the mount to
// switch to, the sandbox's procfs, then the root switch; the host's mounts go with the old
// root. Then the namespaces the command lives in, under a user namespace of their own: the pid
// namespace stays owned by the one above, so the command cannot mount a procfs of its own (the
// sandbox's counts as visible for the kernel's check), nor a cgroup file system.
[[noreturn]] void enter_tree(const Options &opt, const std::vector<std::string> &tools, const std::string &uidMap,
                             const std::string &gidMap)
{
    // Nothing opened on the host side reaches the command, nor pid 1, which the command could
    // borrow descriptors from.
    close_range(3, ~0U, 0);
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        die("private mounts");
    int lastPid = limit_pids(opt.pids);
    // A mount copied from the first namespace is locked there, and pivot_root refuses it: a
    // copy of the tree is mounted on it, found through the working folder, never by its path.
    UniqueFd copy(open_tree(AT_FDCWD, ".", OPEN_TREE_CLONE | OPEN_TREE_CLOEXEC | AT_RECURSIVE));
    if (copy.get() < 0 ||
        move_mount(copy.get(), "", AT_FDCWD, ".", MOVE_MOUNT_F_EMPTY_PATH) != 0 || fchdir(copy.get()) != 0)
        die("bind the tree");
    struct open_how how {};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_BENEATH | RESOLVE_NO_XDEV;
    UniqueFd procDir(static_cast<int>(syscall(SYS_openat2, AT_FDCWD, ".korvsim/proc", &how, sizeof how)));
    if (procDir.get() < 0)
        die("open the tree's .korvsim/proc");
    UniqueFd fs(fsopen("proc", FSOPEN_CLOEXEC));
    if (fs.get() < 0 || fsconfig(fs.get(), FSCONFIG_SET_STRING, "subset", "pid", 0) != 0 ||
        fsconfig(fs.get(), FSCONFIG_CMD_CREATE, nullptr, nullptr, 0) != 0)
        die("create the sandbox's procfs");
    UniqueFd proc(fsmount(fs.get(), FSMOUNT_CLOEXEC, MOUNT_ATTR_NOSUID | MOUNT_ATTR_NODEV | MOUNT_ATTR_NOEXEC));
    if (proc.get() < 0 || move_mount(proc.get(), "", procDir.get(), "", MOVE_MOUNT_F_EMPTY_PATH | MOVE_MOUNT_T_EMPTY_PATH) != 0)
        die("mount the sandbox's procfs");
    if (syscall(SYS_pivot_root, ".", ".") != 0)
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
        handshake.mapped(true);
        _exit(0);
    }
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS | CLONE_NEWNET | CLONE_NEWUTS | CLONE_NEWIPC) != 0)
        die("unshare the command's namespaces");
    if (!handshake.unshared() || wait_status(mapper) != 0)
        refuse("could not map the command's user ids");
    run_init(opt, tools, lastPid);
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
    char *env[] = {nullptr};
    int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), env);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 && wait_status(pid) == 0;
}

// Started by an ordinary user, the first namespace maps 0 to the caller and, when the system
// grants the user subordinate ids, 1 up to 65535 to them, so that file owners other than root
// behave as on the device too.
bool map_subordinate_ids(pid_t child, const IdMaps &maps)
{
    auto args = [&](const char *program, const std::vector<IdRange> &map) {
        std::vector<std::string> list = {program, std::to_string(child)};
        for (const IdRange &range : map) {
            list.push_back(std::to_string(range.inside));
            list.push_back(std::to_string(range.host));
            list.push_back(std::to_string(range.count));
        }
        return list;
    };
    return run_quietly(args("/usr/bin/newuidmap", maps.uids)) && run_quietly(args("/usr/bin/newgidmap", maps.gids));
}

// A user namespace with the sandbox's id maps, held by its descriptor only.
UniqueFd mapped_userns(const IdMaps &maps)
{
    Handshake handshake;
    pid_t child = fork();
    if (child < 0)
        die("fork");
    if (child == 0) {
        if (unshare(CLONE_NEWUSER) != 0)
            _exit(125);
        handshake.unshared();
        _exit(0);
    }
    UniqueFd ns;
    if (handshake.wait_unshared()) {
        std::string proc = "/proc/" + std::to_string(child);
        write_id_maps(proc, map_text(maps.uids), map_text(maps.gids), false);
        ns.reset(open((proc + "/ns/user").c_str(), O_RDONLY | O_CLOEXEC));
        handshake.mapped(true);
    }
    wait_status(child);
    return ns;
}

[[noreturn]] void run_sandbox(const Options &opt, Handshake &first, IdMaps maps)
{
    bool root = opt.hostRoot;
    pid_t launcher = getppid();
    // The tree's folder becomes the working folder, which the unshare below carries over to the
    // new mount namespace's copy of its mount: the tree is never looked up by its path again.
    if (fchdir(opt.treeFd) != 0)
        die("enter the tree " + opt.tree);
    // As root the first namespace needs no user namespace of its own (it binds what only root
    // may read); otherwise the caller becomes root of one, which the next ones map.
    if (unshare(CLONE_NEWNS | (root ? 0 : CLONE_NEWUSER)) != 0)
        die("unshare (the sandbox needs root or unprivileged user namespaces)");
    // Ids as the second namespace maps them, relative to this one.
    std::vector<IdRange> uids = maps.uids, gids = maps.gids;
    bool groupsAllowed = true;
    if (!root) {
        if (!first.unshared()) {
            maps.uids.resize(1);
            maps.gids.resize(1);
            write_id_maps("/proc/self", map_text(maps.uids), map_text(maps.gids), true);
            groupsAllowed = false;
        }
        // This namespace's ids are the inside ids already: the next one maps them one to one.
        uids.clear();
        gids.clear();
        for (const IdRange &range : maps.uids)
            uids.push_back({range.inside, range.inside, range.count});
        for (const IdRange &range : maps.gids)
            gids.push_back({range.inside, range.inside, range.count});
    }
    auto tools = host_tools();
    // Started by root, the host's folders are shown with their owners as the sandbox maps them
    // (the host's root is root inside): a folder only root may read stays readable inside.
    UniqueFd userns;
    if (root)
        userns = mapped_userns(maps);
    UniqueFd tree = set_up_tree(opt, tools, userns.get());
    userns.reset();
    // A change of file ids clears the parent-death signal: it is set again after each.
    die_with_parent(launcher);
    if (fchdir(tree.get()) != 0)
        die("enter the tree " + opt.tree);
    std::vector<std::string> toolNames;
    for (const auto &tool : tools)
        toolNames.push_back(tool.first);
    // The command's namespace maps the inside ids one to one; root on a line of its own, since
    // each line must fall within one line of the map above (an ordinary user's root and
    // subordinate ids are two lines there).
    auto one_to_one = [](const std::vector<IdRange> &map) {
        uint32_t count = 0;
        for (const IdRange &range : map)
            count += range.count;
        return count == 1 ? std::string("0 0 1\n") : "0 0 1\n1 1 " + std::to_string(count - 1) + "\n";
    };
    std::string innerUids = one_to_one(uids);
    std::string innerGids = one_to_one(gids);

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
        // Root of the new namespace in every id: started by root, the process still has the
        // host's root as its own ids, which this namespace does not map.
        if (setgroups(0, nullptr) != 0 && errno != EPERM)
            die("drop the caller's groups");
        if (setresgid(0, 0, 0) != 0 || setresuid(0, 0, 0) != 0)
            die("become the sandbox's root");
        // The change of ids made the process undumpable, and with it /proc/1/uid_map, which
        // pid 1's mapper writes, the host's; pid 1 seals itself once its namespaces stand.
        prctl(PR_SET_DUMPABLE, 1, 0, 0, 0);
        die_with_parent(self);
        if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
            die("no-new-privileges");
        pid_t init = fork();
        if (init < 0)
            die("fork");
        if (init == 0) {
            die_with_parent(0);  // its parent is outside its pid namespace
            enter_tree(opt, toolNames, innerUids, innerGids);
        }
        _exit(wait_status(init));
    }
    if (!handshake.wait_unshared())
        _exit(wait_status(child));
    if (root) {
        setfsuid(0);  // /proc/CHILD/uid_map belongs to the host's root
        die_with_parent(launcher);
    }
    write_id_maps("/proc/" + std::to_string(child), map_text(uids), map_text(gids), !groupsAllowed);
    handshake.mapped(true);
    _exit(wait_status(child));
}

}  // namespace

pid_t start_sandbox(const Options &opt, const sigset_t &childMask)
{
    IdMaps maps = caller_id_maps();
    Handshake first;
    pid_t launcher = getpid();
    pid_t child = fork();
    if (child < 0)
        die("fork");
    if (child == 0) {
        sigprocmask(SIG_SETMASK, &childMask, nullptr);
        die_with_parent(launcher);
        for (int fd = 0; fd < 3; ++fd) {
            if (opt.stdio[fd] != fd && dup2(opt.stdio[fd], fd) != fd)
                die("standard descriptors");
        }
        // The command's input ends when the launcher closes its end: no copy may stay open here.
        for (int fd : opt.launcherFds)
            close(fd);
        for (int fd : opt.stdio) {
            if (fd > 2)
                close(fd);
        }
        run_sandbox(opt, first, maps);
    }
    if (geteuid() != 0 && first.wait_unshared())
        first.mapped(maps.subordinate && map_subordinate_ids(child, maps));
    return child;
}

}  // namespace sandbox
