// Pid files and signals sent by them, to real processes of the sandbox's pid namespace.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "korv/download.h"
#include "korv/proc.h"
#include "korv/schedule.h"
#include "in_child.h"
#include "korvtest.h"
#include "signal_recorder.h"

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

// Whether d got a HUP after the first `seen` signals: waited for generously when one is
// expected, briefly when not.
bool Hupped(SignalRecorder &d, size_t seen, bool expected)
{
    return d.Got(seen + 1, expected ? 4000 : 200).size() > seen;
}

volatile sig_atomic_t gHups = 0;
void count_hup(int)
{
    gHups = gHups + 1;
}

// The three ways the library signals a daemon by its pid file: the scheduler's and scemd's by
// kill(2), crond's through the command the shell runs, which takes only a file naming one pid.
struct Signaller {
    const char *name;
    const char *pidFile;
    bool onePidOnly;
    std::function<int()> send;
    int unreadable;             // the result when the pid file cannot be read
    const char *unreadableLog;  // and what the message then logged holds
};

const Signaller kSignallers[] = {
    {"scemd", "/var/run/scemd.pid", false, [] { return KORVScemdSignal(SIGHUP); }, 0, nullptr},
    {"scheduler", KORV_SCHEDULER_PID, false, [] { return KORVDownQuarnSchedulerSignal(SIGHUP); }, -1,
     "Failed to open scheduler pid. "},
    {"crond", KORV_CROND_PID, true,
     [] { return KORVCrontabUpdate("/bin/job", "0\t1\t*\t*\t*\troot\t/bin/job"); }, 0,
     "Failed to hup crond"},
};

// What a pid file holds, made from the pids of two running daemons a and b.
struct HostileCase {
    const char *name;
    std::function<std::string(pid_t a, pid_t b)> content;
    bool firstNumberReachesA;  // the signallers that take the file's first number signal a
    bool wholeFileReachesA;    // crond's signaller signals a
};

const long long k32 = 4294967296LL;
const HostileCase kHostile[] = {
    {"Plain", [](pid_t a, pid_t) { return std::to_string(a) + "\n"; }, true, true},
    {"WithoutNewline", [](pid_t a, pid_t) { return std::to_string(a); }, true, true},
    {"BlanksAround", [](pid_t a, pid_t) { return "  " + std::to_string(a) + " \n\n"; }, true, true},
    {"SecondPid", [](pid_t a, pid_t b) { return std::to_string(a) + " " + std::to_string(b) + "\n"; }, true, false},
    {"Signed", [](pid_t a, pid_t) { return "+" + std::to_string(a) + "\n"; }, false, false},
    {"NegativeWrapsToA", [](pid_t a, pid_t) { return std::to_string(a - k32) + "\n"; }, false, false},
    {"BeyondThirtyTwoBitsWrapsToA", [](pid_t a, pid_t) { return std::to_string(a + k32) + "\n"; }, false, false},
    {"EveryProcess", [](pid_t, pid_t) { return std::string("-1\n"); }, false, false},
    {"OwnGroup", [](pid_t, pid_t) { return std::string("0\n"); }, false, false},
    {"GroupOfB", [](pid_t, pid_t b) { return "-" + std::to_string(b) + "\n"; }, false, false},
    {"Glob", [](pid_t, pid_t) { return std::string("*\n"); }, false, false},
    {"CommandText", [](pid_t a, pid_t) { return "$(kill -HUP " + std::to_string(a) + ")\n"; }, false, false},
};

void PrintTo(const HostileCase &c, std::ostream *os)
{
    *os << c.name;
}

class PidFileSignal : public testing::TestWithParam<HostileCase> {};

// Only the pid the file names reaches a process: no other daemon, no group, not this process.
TEST_P(PidFileSignal, OnlyTheNamedDaemon)
{
    const HostileCase &c = GetParam();
    signal(SIGHUP, count_hup);
    gHups = 0;
    SignalRecorder a("/tmp/a.pid", {SIGHUP}, true), b("/tmp/b.pid", {SIGHUP}, true);
    write_file("/etc/crontab", "SHELL=/bin/sh\n");
    for (const Signaller &s : kSignallers) {
        SCOPED_TRACE(s.name);
        const size_t aSeen = a.Got(0).size(), bSeen = b.Got(0).size();
        write_file(s.pidFile, c.content(a.pid(), b.pid()));
        syslog_clear();
        EXPECT_EQ(0, s.send());
        const bool reaches = s.onePidOnly ? c.wholeFileReachesA : c.firstNumberReachesA;
        EXPECT_EQ(reaches, Hupped(a, aSeen, reaches));
        EXPECT_FALSE(Hupped(b, bSeen, false));
        if (s.onePidOnly) {
            EXPECT_EQ(!reaches, syslog_has_pattern("crontab_update_crontab (<L>) Failed to hup crond"))
                << syslog_dump();
        }
        remove_tree(s.pidFile);
    }
    EXPECT_EQ(0, gHups);
    signal(SIGHUP, SIG_DFL);
}

INSTANTIATE_TEST_SUITE_P(Cases, PidFileSignal, testing::ValuesIn(kHostile),
                         [](const auto &info) { return std::string(info.param.name); });

// What may stand at a pid file's path instead of a plain file; target is a plain pid file naming
// a running daemon.
struct NotPlainCase {
    const char *name;
    std::function<bool(const char *path, const std::string &target)> make;
};

const NotPlainCase kNotPlain[] = {
    // Opened as a file, a FIFO waits for a writer that never comes.
    {"Fifo", [](const char *path, const std::string &) { return mkfifo(path, 0644) == 0; }},
    {"Folder", [](const char *path, const std::string &) { return mkdir(path, 0755) == 0; }},
    {"LinkToAPidFile",
     [](const char *path, const std::string &target) { return symlink(target.c_str(), path) == 0; }},
};

void PrintTo(const NotPlainCase &c, std::ostream *os)
{
    *os << c.name;
}

class PidFileNotPlain : public testing::TestWithParam<NotPlainCase> {};

// Every reader of a pid file returns at once, reads nothing and signals nothing. Each call runs
// in a child with a generous alarm, so that one that waits fails instead of hanging the test.
TEST_P(PidFileNotPlain, ReadAsUnreadableAndNeverWaitedOn)
{
    const NotPlainCase &c = GetParam();
    signal(SIGHUP, count_hup);
    gHups = 0;
    SignalRecorder daemon("/tmp/daemon.pid", {SIGHUP}, true);
    write_file("/etc/crontab", "SHELL=/bin/sh\n");
    auto inTime = [](const std::function<int()> &call) {
        return proctest::in_child([&] {
            alarm(10);
            return call() & 0xff;
        });
    };

    ASSERT_TRUE(c.make("/var/run/test.pid", "/tmp/daemon.pid"));
    EXPECT_EQ(-1 & 0xff, inTime([] { return ProcPidFileRead("/var/run/test.pid"); })) << "ProcPidFileRead";
    for (const Signaller &s : kSignallers) {
        SCOPED_TRACE(s.name);
        remove_tree(s.pidFile);
        ASSERT_TRUE(c.make(s.pidFile, "/tmp/daemon.pid"));
        syslog_clear();
        EXPECT_EQ(s.unreadable & 0xff, inTime(s.send));
        if (s.unreadableLog) {
            EXPECT_TRUE(syslog_contains(s.unreadableLog)) << syslog_dump();
        }
        EXPECT_FALSE(Hupped(daemon, 0, false));
        remove_tree(s.pidFile);
    }
    EXPECT_EQ(0, gHups);
    signal(SIGHUP, SIG_DFL);
}

INSTANTIATE_TEST_SUITE_P(Cases, PidFileNotPlain, testing::ValuesIn(kNotPlain),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
