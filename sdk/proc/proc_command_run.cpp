// Programs run by their argument list, without a shell, and command lines run through one.
#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

#include "korv_command.h"

extern char **environ;

namespace korv::proc {

namespace {

// The spawn's file actions, destroyed on every way out.
class FileActions {
public:
    FileActions() { ok_ = posix_spawn_file_actions_init(&actions_) == 0; }
    ~FileActions()
    {
        if (ok_)
            posix_spawn_file_actions_destroy(&actions_);
    }
    FileActions(const FileActions &) = delete;
    FileActions &operator=(const FileActions &) = delete;
    bool ok() const { return ok_; }
    posix_spawn_file_actions_t *get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
    bool ok_;
};

int Wait(pid_t pid)
{
    int status = 0;
    for (;;) {
        if (waitpid(pid, &status, 0) == pid)
            return status;
        if (errno != EINTR)
            return -1;
    }
}

}  // namespace

int Run(std::span<const char *const> argv, RunOptions options)
{
    if (argv.empty()) {
        errno = EINVAL;
        return -1;
    }
    std::vector<char *> args;
    args.reserve(argv.size() + 1);
    for (const char *a : argv) {
        if (!a) {
            errno = EINVAL;
            return -1;
        }
        args.push_back(const_cast<char *>(a));
    }
    args.push_back(nullptr);

    FileActions actions;
    if (!actions.ok()) {
        errno = ENOMEM;
        return -1;
    }
    if (options.quiet &&
        (posix_spawn_file_actions_addopen(actions.get(), STDOUT_FILENO, "/dev/null", O_WRONLY, 0) != 0 ||
         posix_spawn_file_actions_adddup2(actions.get(), STDOUT_FILENO, STDERR_FILENO) != 0)) {
        errno = ENOMEM;
        return -1;
    }
    pid_t pid;
    int err = posix_spawn(&pid, args[0], actions.get(), nullptr, args.data(), environ);
    if (err != 0) {
        errno = err;
        return -1;
    }
    return Wait(pid);
}

int RunShell(const char *command)
{
    if (!command) {
        errno = EINVAL;
        return -1;
    }
    return system(command);
}

int RunEventLogSet(const char *eventClass, const char *level, const char *code)
{
    return Run({"/usr/korv/bin/korvlogset1", eventClass, level, code});
}

int ExitCode(int status)
{
    if (status == -1)
        return -1;
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : status;
}

bool Succeeded(int status)
{
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace korv::proc
