// The sandbox keeps the host's files, processes and network out of reach.
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <syslog.h>
#include <unistd.h>

#include <functional>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "device_tree.h"
#include "korvtest.h"

TEST(Sandbox, HostFilesAreOutOfReach)
{
    // The host has these; a fresh device tree does not.
    for (const char *path : {"/etc/os-release", "/etc/hostname", "/proc/sys/kernel/hostname",
                             "/sys/kernel", "/usr/include", "/home"})
        EXPECT_FALSE(korvtest::file_exists(path)) << path;
    // Only the sandbox's own processes can be seen: its launcher is pid 1.
    EXPECT_EQ(korvtest::read_file("/.korvsim/proc/1/comm"), "korv-sandbox\n");
    std::string out;
    ASSERT_EQ(korvtest::run_shell("ls /.korvsim/proc | grep -c '^[0-9]'", &out), 0);
    EXPECT_LT(std::stoi(out), 10) << "host processes visible";
    EXPECT_EQ(korvtest::read_file("/proc/self/comm"), "korv_test_sandb\n");
    EXPECT_TRUE(korvtest::file_exists("/.korvsim/sandbox"));
}

TEST(Sandbox, HostLibrariesAndProjectAreReadOnly)
{
    EXPECT_NE(access("/usr/lib", W_OK), 0);
    EXPECT_NE(access(KORV_SOURCE_DIR, W_OK), 0);
    EXPECT_EQ(access(KORV_SOURCE_DIR "/CMakeLists.txt", R_OK), 0);
}

TEST(Sandbox, SmtpPluginIsTheBuildsAndReadOnly)
{
    const std::string plugin = korvtest::read_file("/lib/libkorvsmtp.so");
    EXPECT_FALSE(plugin.empty());
    EXPECT_TRUE(plugin == korvtest::read_file(KORV_BINARY_DIR "/plugin/libkorvsmtp.so"));
    EXPECT_LT(open("/lib/libkorvsmtp.so", O_WRONLY | O_CLOEXEC), 0);
    EXPECT_NE(unlink("/lib/libkorvsmtp.so"), 0);
    EXPECT_NE(rename("/lib/libkorvsmtp.so", "/lib/moved.so"), 0);
}

TEST(Sandbox, TreeIsWritableAndHasTheEverydayTools)
{
    korvtest::write_file("/etc/korvinfo.conf", "a=\"b\"\n");
    EXPECT_EQ(korvtest::read_file("/etc/korvinfo.conf"), "a=\"b\"\n");
    for (const char *tool : {"sh", "dd", "mv", "cp", "rm", "mkdir", "find", "chmod", "grep", "ln", "touch", "cat",
                             "kill"})
        EXPECT_EQ(access((std::string("/bin/") + tool).c_str(), X_OK), 0) << tool;
    std::string out;
    EXPECT_EQ(korvtest::run_shell("echo hi | dd of=/tmp/x 2>/dev/null && cat /tmp/x", &out), 0);
    EXPECT_EQ(out, "hi\n");
}

TEST(Sandbox, ProcessesAreInTheirOwnPidNamespace)
{
    // The launcher is pid 1 here; host pids are not visible, so signals by pid stay inside.
    EXPECT_LT(getpid(), 100);
    EXPECT_EQ(kill(1, 0), 0);
    EXPECT_NE(kill(99999, 0), 0);
}

TEST(Sandbox, OnlyLoopbackAndOwnHostname)
{
    struct ifaddrs *list = nullptr;
    ASSERT_EQ(getifaddrs(&list), 0);
    std::set<std::string> names;
    for (auto *it = list; it; it = it->ifa_next) {
        names.insert(it->ifa_name);
        EXPECT_TRUE(it->ifa_flags & IFF_UP) << it->ifa_name;  // servers of a test listen on it at once
    }
    freeifaddrs(list);
    EXPECT_EQ(names, std::set<std::string>{"lo"});
    struct utsname uts {};
    uname(&uts);
    EXPECT_STREQ(uts.nodename, "vaultmere");
}

TEST(Sandbox, SyslogIsRecordedWithPriority)
{
    korvtest::syslog_clear();
    openlog("sbtest", 0, LOG_USER);
    syslog(LOG_ERR, "%s:%d fail to open [%s]", "file.cpp", 12, "/etc/x");
    syslog(LOG_DEBUG, "second\twith tab");
    closelog();
    // Another process's messages arrive in order too.
    ASSERT_EQ(korvtest::run_shell("exit 0"), 0);
    auto lines = korvtest::syslog_lines();
    ASSERT_EQ(lines.size(), 2u) << korvtest::syslog_dump();
    EXPECT_EQ(lines[0].message, "file.cpp:12 fail to open [/etc/x]");
    EXPECT_EQ(lines[0].severity(), LOG_ERR);
    EXPECT_EQ(lines[0].tag, "sbtest");
    EXPECT_EQ(lines[1].message, "second\twith tab");
    EXPECT_EQ(lines[1].severity(), LOG_DEBUG);
    EXPECT_TRUE(korvtest::syslog_has("file.cpp:12 fail to open [/etc/x]", LOG_ERR));
    EXPECT_FALSE(korvtest::syslog_has("file.cpp:12 fail to open [/etc/x]", LOG_INFO));
}

TEST(Sandbox, SyslogFromChildProcesses)
{
    korvtest::syslog_clear();
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        for (int i = 0; i < 2000; ++i)
            syslog(LOG_ERR, "child line %d", i);
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    auto lines = korvtest::syslog_lines();
    ASSERT_EQ(lines.size(), 2000u);
    EXPECT_EQ(lines.back().message, "child line 1999");
}

TEST(Sandbox, HostFoldersAreUnderTheNeutralFolder)
{
    // The checkout and the build are bound where no device program looks, never at their host
    // paths (a checkout under /tmp would otherwise show up in the device's /tmp).
    EXPECT_EQ(std::string(KORV_SOURCE_DIR).rfind("/.korvsim/host/", 0), 0u) << KORV_SOURCE_DIR;
    EXPECT_EQ(std::string(KORV_BINARY_DIR).rfind("/.korvsim/host/", 0), 0u) << KORV_BINARY_DIR;
    EXPECT_FALSE(korvtest::file_exists(std::string(KORV_SOURCE_DIR).substr(strlen("/.korvsim/host"))));
    const char *icu = getenv("ICU_DATA");
    ASSERT_NE(icu, nullptr);
    EXPECT_EQ(std::string(icu), KORV_BINARY_DIR "/icudata");
    // The command cannot gain privileges through a program's set-id bits.
    EXPECT_NE(korvtest::read_file("/proc/self/status").find("NoNewPrivs:\t1\n"), std::string::npos);
}

// A tree brings its own program in place of a host tool, which stays reachable for it.
TEST(Sandbox, TreeProgramReplacesTool)
{
    EXPECT_EQ(korvtest::read_file("/.korvsim/proc/self/comm"), "korv_test_sandb\n");
    char target[256] = {};
    ASSERT_GT(readlink("/bin/dd", target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "/.korvsim/tools/dd");
    korvtest::install_program("/bin/dd", "#!/bin/sh\n"
                                         "echo \"dd $*\" >>/tmp/dd.calls\n"
                                         "case \" $* \" in *\" of=/dev/mtd3 \"*) exit 1 ;; esac\n"
                                         "exec /.korvsim/tools/dd \"$@\"\n");
    EXPECT_EQ(korvtest::run_shell("dd if=/dev/zero of=/tmp/a bs=4 count=1 2>/dev/null"), 0);
    EXPECT_EQ(korvtest::read_file("/tmp/a"), std::string(4, '\0'));
    EXPECT_EQ(korvtest::run_shell("dd if=/tmp/a of=/dev/mtd3"), 1);
    EXPECT_FALSE(korvtest::file_exists("/dev/mtd3"));
    EXPECT_EQ(korvtest::read_file("/tmp/dd.calls"),
              "dd if=/dev/zero of=/tmp/a bs=4 count=1\ndd if=/tmp/a of=/dev/mtd3\n");
}

// A program of the simulated device that refuses to run has not touched the device first: the
// check comes before the simulator puts the flash mirrors back.
TEST(Sandbox, RefusingProgramTouchesNothing)
{
    korvtest::build_redboot_flash();
    // A mirror written behind the simulator's back: the next device program imports it.
    ASSERT_EQ(korvtest::run_shell("printf '\\000' | dd of=/dev/mtd1 conv=notrunc 2>/dev/null"), 0);
    // What a device program could change, the bytes of the chip and the mirror as digests.
    auto state = [] {
        std::string all = korvtest::read_file("/.korvsim/requests.log") + korvtest::read_file("/.korvsim/flash.conf");
        for (const char *file : {"/.korvsim/chip.bin", "/dev/mtd1"})
            all += std::string(file) + " " + std::to_string(std::hash<std::string>()(korvtest::read_file(file))) + "\n";
        struct stat st {};
        stat("/dev/mtd1", &st);
        return all + std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
    };
    const std::string before = state();
    const std::string flashls = korvtest::shell_quote(KORV_BINARY_DIR "/bin/korv-flashls");
    for (const char *env : {"KORV_SANDBOX=wrong", "KORV_SANDBOX="}) {
        std::string out;
        EXPECT_EQ(korvtest::run_shell(std::string(env) + " " + flashls, &out), 2) << out;
        EXPECT_NE(out.find("refusing to run outside the device sandbox"), std::string::npos) << out;
        EXPECT_EQ(state(), before) << env;
    }
    // The same program inside the sandbox does import the mirror.
    std::string out;
    ASSERT_EQ(korvtest::run_shell(flashls, &out), 0) << out;
    EXPECT_NE(korvtest::read_file("/.korvsim/requests.log").find("/dev/mtd1 IMPORT"), std::string::npos);
}
