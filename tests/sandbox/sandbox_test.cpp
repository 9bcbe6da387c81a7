// The sandbox keeps the host's files, processes and network out of reach.
#include <ifaddrs.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <syslog.h>
#include <unistd.h>

#include <set>
#include <string>

#include <gtest/gtest.h>

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
    for (auto *it = list; it; it = it->ifa_next)
        names.insert(it->ifa_name);
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
