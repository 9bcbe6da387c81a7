// Runs a test's body in a forked process, so that descriptor and signal changes stay out of the
// test program.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

namespace proctest {

// fn's result as the child's exit status; -100 when the child did not exit.
template <typename Fn>
int in_child(Fn fn)
{
    pid_t pid = fork();
    if (pid == 0)
        _exit(fn());
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -100;
    return WEXITSTATUS(status);
}

}  // namespace proctest
