// Writers side by side: the same work in several forked processes, started together.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <vector>

namespace korvtest {

// Runs fn(p) for p = 0 .. procs - 1, each in a process of its own; they wait at one gate and
// start together. fn's result is the child's exit status. The number of children that did not
// exit with 0 (-1 when they could not be started).
template <typename Fn>
int side_by_side(int procs, Fn fn)
{
    int gate[2];
    if (pipe(gate) != 0)
        return -1;
    int failed = 0;
    std::vector<pid_t> children;
    for (int p = 0; p < procs; ++p) {
        pid_t pid = fork();
        if (pid < 0) {
            ++failed;
            continue;
        }
        if (pid == 0) {
            close(gate[1]);
            char c;
            // Closing the gate's write end releases every child at once.
            while (read(gate[0], &c, 1) < 0) {
            }
            close(gate[0]);
            _exit(fn(p));
        }
        children.push_back(pid);
    }
    close(gate[0]);
    close(gate[1]);
    for (pid_t pid : children) {
        int status = 0;
        if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            ++failed;
    }
    return failed;
}

}  // namespace korvtest
