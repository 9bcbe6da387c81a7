#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include "korv/file_lock.h"
#include "korv/proc.h"
#include "korv_internal.h"

namespace {

// Runs in the forked child; never returns.
[[noreturn]] void exec_child(const char *program, const char *firstArg, const char *secondArg,
                             const char *thirdArg, const char *fourthArg)
{
    int devNull = open("/dev/null", O_RDWR);
    if (devNull >= 0) {
        dup2(devNull, STDIN_FILENO);
        dup2(devNull, STDOUT_FILENO);
        dup2(devNull, STDERR_FILENO);
        // When 0, 1 or 2 was closed, open returned one of them: it is now in use.
        if (devNull > STDERR_FILENO)
            close(devNull);
    }
    KORLFileLockCloseAll();
    setsid();
    if (chdir("/") != 0) {
        // Nothing to report to: the program still runs, from wherever it was.
    }
    clearenv();
    // The list ends at the first null argument; execl ignores whatever follows it.
    execl(program, program, firstArg, secondArg, thirdArg, fourthArg, static_cast<char *>(nullptr));
    // _exit: the parent's stdio buffers and exit handlers are not the child's to run.
    _exit(255);
}

}  // namespace

extern "C" int KORLProcExec(const char *program, const char *firstArg, const char *secondArg,
                            const char *thirdArg, const char *fourthArg)
{
    if (!program) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }

    int status = 0;
    // The child must stay waitable even when the caller asked the system to reap children.
    struct sigaction action {};
    sigaction(SIGCHLD, nullptr, &action);
    const bool noChildWait = (action.sa_flags & SA_NOCLDWAIT) != 0;
    if (noChildWait) {
        action.sa_flags &= ~SA_NOCLDWAIT;
        sigaction(SIGCHLD, &action, nullptr);
    }

    int result = -1;
    const pid_t pid = fork();
    if (pid == 0)
        exec_child(program, firstArg, secondArg, thirdArg, fourthArg);
    if (pid > 0) {
        pid_t waited;
        // A signal arriving meanwhile does not end the child: keep waiting for it.
        do
            waited = waitpid(pid, &status, 0);
        while (waited < 0 && errno == EINTR);
        if (waited == pid)
            result = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        else if (errno == ECHILD)
            result = 0;  // the system reaped it already
    }

    if (noChildWait) {
        sigaction(SIGCHLD, nullptr, &action);
        action.sa_flags |= SA_NOCLDWAIT;
        sigaction(SIGCHLD, &action, nullptr);
    }

    if (result == -1)
        KORV_ERR(KORL_ERR_CHILD);
    return result;
}
