// What code under test might do by mistake as root of the sandbox: each attempt must fail and
// leave the host as it was.
#include <errno.h>
#include <fcntl.h>
#include <linux/nsfs.h>
#include <sched.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <sstream>
#include <string>

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

struct Attempt {
    const char *name;
    std::function<int()> run;
};

const Attempt kAttempts[] = {
    {"RemountLibrariesReadWrite", [] { return remount_rw("/usr/lib"); }},
    {"RemountCheckoutReadWrite", [] { return remount_rw(KORV_SOURCE_DIR); }},
    {"RemountBuildReadWrite", [] { return remount_rw(KORV_BINARY_DIR); }},
    {"RemountShellReadWrite", [] { return remount_rw("/.korvsim/tools/sh"); }},
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
};

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
    EXPECT_EQ(mount_options("/.korvsim/tools/sh").substr(0, 3), "ro,");
    EXPECT_EQ(open("/.korvsim/tools/sh", O_WRONLY | O_CLOEXEC), -1);
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

INSTANTIATE_TEST_SUITE_P(FromInside, Attempts, testing::ValuesIn(kAttempts),
                         [](const testing::TestParamInfo<Attempt> &info) { return std::string(info.param.name); });

// A host namespace handed in on stdin (the sandbox.HostNamespacesCannotBeJoined test does so for
// each kind) cannot be joined: root of the sandbox has no rights over the host's namespaces.
TEST(HostNamespaceOnStdin, CannotBeJoined)
{
    int type = ioctl(0, NS_GET_NSTYPE);
    if (type < 0)
        GTEST_SKIP() << "stdin is not a namespace";
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
