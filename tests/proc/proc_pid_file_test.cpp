// Pid files and signals sent by them, to real processes of the sandbox's pid namespace.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "korv/proc.h"
#include "korvtest.h"

using namespace korvtest;

namespace {

const char kScemdPid[] = "/var/run/scemd.pid";

TEST(ProcPidFile, Read)
{
    struct Case {
        std::string content;
        int expected;
    };
    const std::vector<Case> cases = {
        {"1234\n", 1234},
        {"1234", 1234},
        {"  \n 77 trailing words\n", 77},
        {"", 0},
        {"\n", 0},
        {"pid 5\n", 0},
        {"2147483647\n", 2147483647},
        {"2147483648\n", -2147483647 - 1},  // beyond signed 32 bits: negative
        {"4294967295\n", -1},
        {"99999999999\n", -1},  // saturates at 32 bits as on the device
    };
    for (const Case &c : cases) {
        write_file("/var/run/test.pid", c.content);
        EXPECT_EQ(c.expected, ProcPidFileRead("/var/run/test.pid")) << '"' << c.content << '"';
    }
    EXPECT_EQ(-1, ProcPidFileRead("/var/run/missing.pid"));
    EXPECT_EQ(-1, ProcPidFileRead(nullptr));
}

volatile sig_atomic_t gSignals = 0;
void count_signal(int)
{
    gSignals = gSignals + 1;
}

// Contents that name no positive pid send nothing: 0 and negative pids would reach whole
// process groups, this test program's included.
TEST(ScemdSignal, NoPositivePidSendsNothing)
{
    signal(SIGUSR1, count_signal);
    remove_tree(kScemdPid);
    EXPECT_EQ(0, KORVScemdSignal(SIGUSR1));
    for (const char *content : {"", "0\n", "-1\n", "4294967295\n", "junk\n"}) {
        write_file(kScemdPid, content);
        EXPECT_EQ(0, KORVScemdSignal(SIGUSR1)) << content;
    }
    EXPECT_EQ(0, gSignals);
    signal(SIGUSR1, SIG_DFL);
}

TEST(ScemdSignal, KillFailureIsReported)
{
    pid_t pid = fork();
    if (pid == 0)
        _exit(0);
    waitpid(pid, nullptr, 0);  // a pid that no process has now
    write_file(kScemdPid, std::to_string(pid) + "\n");
    EXPECT_EQ(-1, KORVScemdSignal(SIGUSR1));
}

// A daemon started detached through KORLProcExec writes its pid file; the signal reaches it.
TEST(ScemdSignal, DaemonStartedDetachedGetsTheSignal)
{
    remove_tree(kScemdPid);
    write_file("/tmp/daemon.sh",
               "#!/bin/sh\n"
               "trap 'echo got > /tmp/daemon.signal; exit 0' USR1\n"
               "echo $$ > /var/run/scemd.pid.tmp && mv /var/run/scemd.pid.tmp /var/run/scemd.pid\n"
               "while :; do sleep 0.1; done\n",
               0755);
    write_file("/tmp/start.sh", "#!/bin/sh\n/tmp/daemon.sh &\nexit 0\n", 0755);
    ASSERT_EQ(0, KORLProcExec("/tmp/start.sh", nullptr, nullptr, nullptr, nullptr));

    for (int i = 0; i < 100 && !file_exists(kScemdPid); ++i)
        usleep(50000);
    ASSERT_TRUE(file_exists(kScemdPid));
    int pid = ProcPidFileRead(kScemdPid);
    ASSERT_GT(pid, 1);
    EXPECT_NE(getpid(), pid);

    EXPECT_EQ(0, KORVScemdSignal(SIGUSR1));
    for (int i = 0; i < 100 && !file_exists("/tmp/daemon.signal"); ++i)
        usleep(50000);
    EXPECT_EQ("got\n", read_file("/tmp/daemon.signal"));
}

}  // namespace
