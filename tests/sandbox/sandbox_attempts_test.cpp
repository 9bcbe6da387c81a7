// What code under test might do by mistake as root of the sandbox: each attempt must fail and
// leave the host as it was.
#include <errno.h>
#include <fcntl.h>
#include <linux/keyctl.h>
#include <linux/nsfs.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "korvtest.h"

namespace {

// The host path of a folder bound under the sandbox's host folder.
std::string host_path(const std::string &inside)
{
    const std::string prefix = "/.korvsim/host";
    return inside.rfind(prefix + "/", 0) == 0 ? inside.substr(prefix.size()) : std::string();
}

// 0 when the call succeeded, else its errno.
int result(int rc)
{
    return rc == 0 ? 0 : errno;
}

int remount_rw(const char *path)
{
    return result(mount(nullptr, path, nullptr, MS_REMOUNT | MS_BIND, nullptr));
}

int mount_fs(const char *type, const char *options = nullptr)
{
    korvtest::make_dirs("/tmp/target");
    return result(mount(type, "/tmp/target", type, 0, options));
}

int create_in(const std::string &dir)
{
    int fd = open((dir + "/korv-probe").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return errno;
    close(fd);
    return 0;
}

// The classic way out of a chroot: a root below the working folder, then ".." past it. The
// attempt counts as a success when "/" is then anything but the tree's root.
int chroot_escape()
{
    struct stat tree {};
    if (stat("/", &tree) != 0 || mkdir("/tmp/jail", 0755) != 0 || chroot("/tmp/jail") != 0)
        return errno;
    for (int i = 0; i < 256; ++i) {
        if (chdir("..") != 0)
            return errno;
    }
    if (chroot(".") != 0)
        return errno;
    struct stat now {};
    if (stat("/", &now) != 0)
        return errno;
    bool out = now.st_dev != tree.st_dev || now.st_ino != tree.st_ino ||
               access(host_path(KORV_SOURCE_DIR "/CMakeLists.txt").c_str(), F_OK) == 0 ||
               access("/etc/os-release", F_OK) == 0;
    return out ? 0 : EPERM;
}

int rebind_rw()
{
    korvtest::make_dirs("/tmp/again");
    if (mount("/usr/lib", "/tmp/again", nullptr, MS_BIND, nullptr) != 0)
        return errno;
    return remount_rw("/tmp/again");
}

// A nested user and pid namespace of the command's own mounts a full procfs and writes a
// harmless host setting; the attempt succeeds when the setting changed (it is then put back).
int nested_sysctl()
{
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS | CLONE_NEWPID) != 0)
        return errno;
    korvtest::write_file("/proc/self/setgroups", "deny");
    korvtest::write_file("/proc/self/uid_map", "0 0 1\n");
    korvtest::write_file("/proc/self/gid_map", "0 0 1\n");
    pid_t pid = fork();
    if (pid < 0)
        return errno;
    if (pid == 0) {
        korvtest::make_dirs("/tmp/nested");
        if (mount("proc", "/tmp/nested", "proc", 0, nullptr) != 0)
            _exit(errno);
        const char *path = "/tmp/nested/sys/kernel/printk_ratelimit";
        std::string before = korvtest::read_file(path);
        int fd = open(path, O_WRONLY | O_CLOEXEC);
        if (fd < 0)
            _exit(errno);
        std::string changed = std::to_string(std::atoi(before.c_str()) + 1) + "\n";
        ssize_t n = write(fd, changed.data(), changed.size());
        int err = errno;
        close(fd);
        if (korvtest::read_file(path) == before)
            _exit(n < 0 ? err : EPERM);
        korvtest::write_file(path, before);
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : EINTR;
}

// A terminal of the command's own (a new devpts instance) as its controlling terminal: pushing
// input into it is what would type into the caller's, and is refused.
int type_into_terminal()
{
    korvtest::make_dirs("/tmp/pts");
    if (mount("devpts", "/tmp/pts", "devpts", 0, "newinstance,ptmxmode=0666") != 0)
        return errno;
    int master = open("/tmp/pts/ptmx", O_RDWR | O_NOCTTY | O_CLOEXEC);
    int number = -1;
    if (master < 0 || unlockpt(master) != 0 || ioctl(master, TIOCGPTN, &number) != 0)
        return errno;
    if (setsid() < 0)
        return errno;
    int slave = open(("/tmp/pts/" + std::to_string(number)).c_str(), O_RDWR | O_CLOEXEC);
    if (slave < 0 || ioctl(slave, TIOCSCTTY, 0) != 0)
        return errno;
    char c = 'x';
    if (ioctl(slave, TIOCSTI, &c) != 0)
        return errno;
    return 0;
}

// pid 1 of the sandbox is a copy of the launcher: its environment, memory and tracing.
int read_init_environment()
{
    std::string env = korvtest::read_file("/proc/1/environ");
    if (env.empty() && errno != 0)
        return errno;
    return env.find_first_not_of('\0') == std::string::npos ? EPERM : 0;
}

int open_init(const char *file, int flags)
{
    int fd = open((std::string("/proc/1/") + file).c_str(), flags | O_CLOEXEC);
    return fd < 0 ? errno : (close(fd), 0);
}

int trace_init()
{
    if (ptrace(PTRACE_SEIZE, 1, nullptr, nullptr) != 0)
        return errno;
    ptrace(PTRACE_DETACH, 1, nullptr, nullptr);
    return 0;
}

// The session keyring: any key in it came from outside, since the sandbox's is new.
int session_keyring_keys()
{
    long size = syscall(SYS_keyctl, KEYCTL_READ, KEY_SPEC_SESSION_KEYRING, nullptr, 0);
    if (size < 0)
        return errno;
    char name[256] = {};
    long n = syscall(SYS_keyctl, KEYCTL_DESCRIBE, KEY_SPEC_SESSION_KEYRING, name, sizeof name - 1);
    // "keyring;UID;GID;PERM;_ses": a joined, anonymous session keyring.
    std::string text = n > 0 ? std::string(name) : std::string();
    bool own = text.size() > 5 && text.compare(text.size() - 5, 5, ";_ses") == 0;
    return size == 0 && own ? ENOKEY : 0;
}

// Processes beyond the session's limit cannot be made, whatever root inside asks for.
int exceed_process_limit()
{
    struct rlimit lim = {RLIM_INFINITY, RLIM_INFINITY};
    if (setrlimit(RLIMIT_NPROC, &lim) == 0)
        return 0;
    std::vector<pid_t> children;
    int err = 0;
    for (int i = 0; i < 5000; ++i) {
        pid_t pid = fork();
        if (pid < 0) {
            err = errno;
            break;
        }
        if (pid == 0) {
            pause();
            _exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children)
        kill(pid, SIGKILL);
    for (pid_t pid : children)
        waitpid(pid, nullptr, 0);
    return err;
}

// A fresh tree's tmpfs has a size of its own, far below the host's memory.
int tree_unbounded()
{
    struct statfs fs {};
    if (statfs("/", &fs) != 0)
        return errno;
    unsigned long long bytes = static_cast<unsigned long long>(fs.f_blocks) * fs.f_bsize;
    return bytes <= (1ull << 30) ? ENOSPC : 0;
}

const char *const kDevices[] = {"/dev/null", "/dev/full", "/dev/zero", "/dev/random", "/dev/urandom"};

struct Attempt {
    std::string name;
    std::function<int()> run;
};

std::vector<Attempt> attempts()
{
    std::vector<Attempt> list = {
    {"RemountLibrariesReadWrite", [] { return remount_rw("/usr/lib"); }},
    {"RemountCheckoutReadWrite", [] { return remount_rw(KORV_SOURCE_DIR); }},
    {"RemountBuildReadWrite", [] { return remount_rw(KORV_BINARY_DIR); }},
    {"RemountToolsReadWrite", [] { return remount_rw("/.korvsim/tools"); }},
    {"RemountSuperblockReadWrite",
     [] { return result(mount(nullptr, KORV_SOURCE_DIR, nullptr, MS_REMOUNT, nullptr)); }},
    {"BindAgainAndRemountReadWrite", rebind_rw},
    {"ChrootEscape", chroot_escape},
    {"MountDevtmpfs", [] { return mount_fs("devtmpfs"); }},
    {"MountProc", [] { return mount_fs("proc"); }},
    {"MountSysfs", [] { return mount_fs("sysfs"); }},
    {"MountCgroup2", [] { return mount_fs("cgroup2"); }},
    {"MountCgroupV1", [] { return mount_fs("cgroup", "pids"); }},
    {"MknodBlockDevice", [] { return result(mknod("/tmp/sda", S_IFBLK | 0600, makedev(8, 0))); }},
    {"MknodMemory", [] { return result(mknod("/dev/mem", S_IFCHR | 0600, makedev(1, 1))); }},
    {"WriteIntoCheckout", [] { return create_in(KORV_SOURCE_DIR); }},
    {"WriteIntoBuild", [] { return create_in(KORV_BINARY_DIR); }},
    {"WriteIntoLibraries", [] { return create_in("/usr/lib"); }},
    {"WriteShellProgram", [] {
         int fd = open("/.korvsim/tools/sh", O_WRONLY | O_CLOEXEC);
         return fd < 0 ? errno : (close(fd), 0);
     }},
    {"NestedNamespaceWritesSysctl", nested_sysctl},
    {"TypeIntoTerminal", type_into_terminal},
    {"ReadInitEnvironment", read_init_environment},
    {"ReadInitMemory", [] { return open_init("mem", O_RDONLY); }},
    {"TraceInit", trace_init},
    {"ReachSessionKeyring", session_keyring_keys},
    {"ExceedProcessLimit", exceed_process_limit},
    {"FillHostMemory", tree_unbounded},
    };
    for (const char *dev : kDevices) {
        std::string name = std::string(dev + 5);
        name[0] = static_cast<char>(toupper(name[0]));
        list.push_back({"Chmod" + name, [dev] { return result(chmod(dev, 0600)); }});
        list.push_back({"Chown" + name, [dev] { return result(chown(dev, 0, 0)); }});
    }
    return list;
}

// A path of /proc/self/mountinfo, where blanks and backslashes are octal escapes ("\040").
std::string unescape_octal(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size()) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 3), nullptr, 8));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The options of the mount last made at a mount point, from /proc/self/mountinfo.
std::string mount_options(const std::string &mountPoint)
{
    std::string options;
    std::istringstream in(korvtest::read_file("/proc/self/mountinfo"));
    std::string id, parent, device, root, point, opts;
    std::string rest;
    while (in >> id >> parent >> device >> root >> point >> opts) {
        std::getline(in, rest);
        if (unescape_octal(point) == mountPoint)
            options = opts;
    }
    return options;
}

// The host folders the sandbox offers still refuse writes, and no probe is left in them.
void expect_host_unchanged()
{
    for (const std::string dir : {"/usr/lib", KORV_SOURCE_DIR, KORV_BINARY_DIR}) {
        EXPECT_EQ(create_in(dir), EROFS) << dir;
        EXPECT_FALSE(korvtest::file_exists(dir + "/korv-probe")) << dir;
        EXPECT_EQ(mount_options(dir).substr(0, 3), "ro,") << dir;
    }
    EXPECT_EQ(mount_options("/.korvsim/tools").substr(0, 3), "ro,");
    EXPECT_EQ(open("/.korvsim/tools/sh", O_WRONLY | O_CLOEXEC), -1);
    for (const char *dev : kDevices) {
        struct stat st {};
        ASSERT_EQ(stat(dev, &st), 0) << dev;
        EXPECT_TRUE(S_ISCHR(st.st_mode)) << dev;
        EXPECT_EQ(st.st_mode & 07777, 0666u) << dev;
        EXPECT_EQ(mount_options(dev).substr(0, 3), "ro,") << dev;
    }
}

void PrintTo(const Attempt &attempt, std::ostream *os)
{
    *os << attempt.name;
}

class Attempts : public testing::TestWithParam<Attempt> {};

TEST_P(Attempts, FailAndLeaveTheHostAlone)
{
    // In a child of its own, since some attempts change the process's root.
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0)
        _exit(std::min(GetParam().run(), 255));
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 0) << GetParam().name << " succeeded";
    expect_host_unchanged();
}

INSTANTIATE_TEST_SUITE_P(FromInside, Attempts, testing::ValuesIn(attempts()),
                         [](const testing::TestParamInfo<Attempt> &info) { return info.param.name; });

// Run under a terminal (the sandbox.Launcher.TerminalCannotBeTypedInto case): the command's
// terminal refuses TIOCSTI, and it is the controlling terminal of the command's own session.
TEST(Terminal, CannotBeTypedInto)
{
    if (!isatty(0))
        GTEST_SKIP() << "stdin is not a terminal";
    EXPECT_EQ(getsid(0), tcgetsid(0)) << "the terminal is not the command's own session's";
    for (char c : std::string("echo typed\n")) {
        EXPECT_EQ(ioctl(0, TIOCSTI, &c), -1);
        EXPECT_EQ(errno, EPERM);
    }
}

// A host namespace handed in on stdin (the sandbox.HostNamespacesCannotBeJoined test does so for
// each kind) reaches the command as a pipe, and neither it nor any namespace can be joined
// through it: root of the sandbox has no rights over the host's namespaces either.
TEST(HostNamespaceOnStdin, CannotBeJoined)
{
    int type = ioctl(0, NS_GET_NSTYPE);
    if (type < 0) {
        struct stat st {};
        ASSERT_EQ(fstat(0, &st), 0);
        EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "stdin is neither a namespace nor the launcher's pipe";
        EXPECT_EQ(setns(0, 0), -1);
        return;
    }
    struct stat before {}, handed {};
    ASSERT_EQ(fstat(0, &handed), 0);
    const char *name = type == CLONE_NEWNET    ? "net"
                       : type == CLONE_NEWNS   ? "mnt"
                       : type == CLONE_NEWPID  ? "pid"
                       : type == CLONE_NEWUSER ? "user"
                       : type == CLONE_NEWUTS  ? "uts"
                       : type == CLONE_NEWIPC  ? "ipc"
                       : type == CLONE_NEWCGROUP ? "cgroup"
                                                 : "time";
    std::string own = std::string("/proc/self/ns/") + name;
    ASSERT_EQ(stat(own.c_str(), &before), 0) << own;
    EXPECT_NE(before.st_ino, handed.st_ino) << "the sandbox shares the host's " << name << " namespace";
    EXPECT_EQ(setns(0, 0), -1) << name;
    EXPECT_EQ(errno, EPERM) << name;
    struct stat after {};
    ASSERT_EQ(stat(own.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << name;
}

}  // namespace
