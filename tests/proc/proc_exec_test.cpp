// Running programs as detached children: results, arguments, and what the child starts with.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "korv/error.h"
#include "korv/proc.h"
#include "in_child.h"
#include "korvtest.h"

using namespace korvtest;

namespace {

// Records its arguments: count, argument zero, then the rest.
const char kArgsScript[] = "/tmp/args.sh";

void write_args_script()
{
    write_file(kArgsScript, "#!/bin/sh\necho \"$#|$0|$*\" > /tmp/args.out\n", 0755);
}

using proctest::in_child;

TEST(ProcExec, ExitStatusIsTheResult)
{
    struct Case {
        const char *program, *a1, *a2;
        int expected;
    };
    const std::vector<Case> cases = {
        {"/bin/sh", "-c", "exit 0", 0},
        {"/bin/sh", "-c", "exit 3", 3},
        {"/bin/sh", "-c", "exit 255", 255},
        {"/bin/no-such-program", "x", nullptr, 255},
        {"/etc", nullptr, nullptr, 255},
        {"sh", "-c", "exit 0", 255},  // not searched in PATH
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.program) + " " + (c.a2 ? c.a2 : ""));
        KORLErrSet(KORL_ERR_NOT_FOUND);
        EXPECT_EQ(c.expected, KORLProcExec(c.program, c.a1, c.a2, nullptr, nullptr));
        // A child's own failure is not an error of the call: the earlier code stays.
        EXPECT_EQ(KORL_ERR_NOT_FOUND, KORLErrGet());
    }
}

TEST(ProcExec, ArgumentsEndAtTheFirstNull)
{
    write_args_script();
    struct Case {
        const char *a1, *a2, *a3, *a4;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"a", "b c", "d", "e", "4|/tmp/args.sh|a b c d e"},
        {"a", nullptr, "c", "d", "1|/tmp/args.sh|a"},
        {nullptr, "b", "c", "d", "0|/tmp/args.sh|"},
        {"a", "b", "c", nullptr, "3|/tmp/args.sh|a b c"},
        {"", "$HOME;x", nullptr, nullptr, "2|/tmp/args.sh| $HOME;x"},
    };
    for (const Case &c : cases) {
        remove_tree("/tmp/args.out");
        EXPECT_EQ(0, KORLProcExec(kArgsScript, c.a1, c.a2, c.a3, c.a4));
        EXPECT_EQ(c.expected + "\n", read_file("/tmp/args.out"));
    }
}

TEST(ProcExec, FailuresOfTheCall)
{
    struct Case {
        const char *program, *a1, *a2;
        int code;
    };
    for (const Case &c : {Case{"/bin/sh", "-c", "kill -9 $$", KORL_ERR_CHILD},
                          Case{"/bin/sh", "-c", "kill -TERM $$", KORL_ERR_CHILD},
                          Case{nullptr, "-c", "exit 0", KORL_ERR_BAD_PARAM}}) {
        SCOPED_TRACE(c.program ? c.a2 : "null program");
        KORLErrSet(0);
        EXPECT_EQ(-1, KORLProcExec(c.program, c.a1, c.a2, nullptr, nullptr));
        EXPECT_EQ(c.code, KORLErrGet());
        EXPECT_STREQ("proc_exec.cpp", KORLErrFileGet());
    }
}

// The child runs from "/", with nothing of the caller's environment or standard descriptors.
TEST(ProcExec, ChildStartsDetachedAndClean)
{
    write_file("/tmp/child.sh",
               "#!/bin/sh\n"
               "/usr/bin/env > /tmp/env.out\n"
               "echo \"$PWD\" > /tmp/pwd.out\n"
               "/bin/cat /proc/$$/stat > /tmp/stat.out\n"
               "/bin/cat > /tmp/stdin.out\n"
               "echo to-stdout\n"
               "echo to-stderr >&2\n",
               0755);
    make_dirs("/tmp/work");
    int status = in_child([] {
        int out = open("/tmp/caller.out", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int fds[2];
        if (out < 0 || pipe(fds) != 0)
            return 90;
        if (write(fds[1], "caller input\n", 13) != 13)
            return 91;
        close(fds[1]);
        dup2(fds[0], 0);
        dup2(out, 1);
        dup2(out, 2);
        if (chdir("/tmp/work") != 0)
            return 92;
        setenv("KORV_CALLER_MARK", "1", 1);
        return KORLProcExec("/tmp/child.sh", nullptr, nullptr, nullptr, nullptr);
    });
    EXPECT_EQ(0, status);
    // Only what the shell itself exports may be there.
    std::string env = read_file("/tmp/env.out");
    EXPECT_NE(std::string::npos, env.find("PWD=/\n")) << env;
    for (size_t at = 0; at < env.size();) {
        size_t end = env.find('\n', at);
        std::string name = env.substr(at, env.find('=', at) - at);
        EXPECT_TRUE(name == "PWD" || name == "OLDPWD" || name == "SHLVL" || name == "_") << env;
        at = end == std::string::npos ? env.size() : end + 1;
    }
    EXPECT_EQ("/\n", read_file("/tmp/pwd.out"));
    // A session of its own: session id and process group are the child's pid.
    std::string stat = read_file("/tmp/stat.out");
    size_t comm_end = stat.rfind(')');
    ASSERT_NE(std::string::npos, comm_end) << stat;
    int pid = 0, ppid = 0, pgrp = 0, session = 0;
    char state = 0;
    ASSERT_EQ(5, sscanf(stat.c_str(), "%d", &pid) +
                     sscanf(stat.c_str() + comm_end + 1, " %c %d %d %d", &state, &ppid, &pgrp,
                            &session))
        << stat;
    EXPECT_EQ(pid, session) << stat;
    EXPECT_EQ(pid, pgrp) << stat;
    EXPECT_TRUE(file_exists("/tmp/stdin.out"));
    EXPECT_EQ("", read_file("/tmp/stdin.out"));
    std::string caller = read_file("/tmp/caller.out");
    EXPECT_EQ(std::string::npos, caller.find("to-std")) << caller;
}

// A caller without standard descriptors still gives its child "/dev/null" on all three.
TEST(ProcExec, ClosedStandardDescriptorsBecomeDevNull)
{
    int status = in_child([] {
        close(0);
        close(1);
        close(2);
        return KORLProcExec("/bin/sh", "-c", "cat && echo out && echo err >&2", nullptr, nullptr);
    });
    EXPECT_EQ(0, status);
}

// A child whose program cannot run ends without flushing the caller's stdio buffers, which it
// holds copies of: the caller's pending output reaches its file once.
TEST(ProcExec, FailedExecLeavesCallersBuffersAlone)
{
    int status = in_child([] {
        FILE *out = fopen("/tmp/buffered.out", "w");
        if (!out)
            return 90;
        fputs("pending line\n", out);
        int result = KORLProcExec("/bin/no-such-program", nullptr, nullptr, nullptr, nullptr);
        fclose(out);
        return result;
    });
    EXPECT_EQ(255, status);
    EXPECT_EQ("pending line\n", read_file("/tmp/buffered.out"));
}

void on_signal(int) {}

TEST(ProcExec, NoChildWaitFlagIsLiftedAndRestored)
{
    int status = in_child([] {
        struct sigaction sa {};
        sa.sa_handler = on_signal;
        sa.sa_flags = SA_NOCLDWAIT | SA_RESTART;
        sigaction(SIGCHLD, &sa, nullptr);
        int result = KORLProcExec("/bin/sh", "-c", "exit 3", nullptr, nullptr);
        struct sigaction after {};
        sigaction(SIGCHLD, nullptr, &after);
        if (after.sa_handler != on_signal || !(after.sa_flags & SA_NOCLDWAIT) ||
            !(after.sa_flags & SA_RESTART))
            return 50;
        return result;
    });
    EXPECT_EQ(3, status);
}

// With SIGCHLD ignored the system reaps the child itself: the wait finds none and gives 0.
TEST(ProcExec, IgnoredChildSignalGivesZero)
{
    int status = in_child([] {
        signal(SIGCHLD, SIG_IGN);
        int result = KORLProcExec("/bin/sh", "-c", "exit 3", nullptr, nullptr);
        struct sigaction after {};
        sigaction(SIGCHLD, nullptr, &after);
        if (after.sa_handler != SIG_IGN)
            return 50;
        return result == 0 ? 0 : 60 + result;
    });
    EXPECT_EQ(0, status);
}

// A signal caught while waiting does not end the wait early or lose the child's status.
TEST(ProcExec, InterruptedWaitKeepsWaiting)
{
    int status = in_child([] {
        struct sigaction sa {};
        sa.sa_handler = on_signal;  // no SA_RESTART: waitpid sees EINTR
        sigaction(SIGALRM, &sa, nullptr);
        struct itimerval timer {};
        timer.it_value.tv_usec = 200000;
        setitimer(ITIMER_REAL, &timer, nullptr);
        return KORLProcExec("/bin/sh", "-c", "sleep 1; exit 7", nullptr, nullptr);
    });
    EXPECT_EQ(7, status);
}

}  // namespace
