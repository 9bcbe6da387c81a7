// Programs run by their argument list, without a shell, and command lines run through one.
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <mutex>
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

// What system() does to the caller while its command runs: SIGINT and SIGQUIT ignored (once
// for all threads waiting at the same time) and SIGCHLD blocked; undone on scope exit. The
// child gets the mask from before and the default action for each of the two not ignored before.
class SystemSignals {
public:
    SystemSignals()
    {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (users_++ == 0) {
                sigaction(SIGINT, &ignore, &savedInt_);
                sigaction(SIGQUIT, &ignore, &savedQuit_);
            }
            sigemptyset(&childDefaults_);
            if (savedInt_.sa_handler != SIG_IGN)
                sigaddset(&childDefaults_, SIGINT);
            if (savedQuit_.sa_handler != SIG_IGN)
                sigaddset(&childDefaults_, SIGQUIT);
        }
        sigset_t child;
        sigemptyset(&child);
        sigaddset(&child, SIGCHLD);
        pthread_sigmask(SIG_BLOCK, &child, &callerMask_);
    }
    ~SystemSignals()
    {
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (--users_ == 0) {
                sigaction(SIGINT, &savedInt_, nullptr);
                sigaction(SIGQUIT, &savedQuit_, nullptr);
            }
        }
        pthread_sigmask(SIG_SETMASK, &callerMask_, nullptr);
    }
    SystemSignals(const SystemSignals &) = delete;
    SystemSignals &operator=(const SystemSignals &) = delete;

    const sigset_t &callerMask() const { return callerMask_; }
    const sigset_t &childDefaults() const { return childDefaults_; }

private:
    static inline std::mutex lock_;
    static inline int users_ = 0;
    static inline struct sigaction savedInt_ {};
    static inline struct sigaction savedQuit_ {};
    sigset_t callerMask_;
    sigset_t childDefaults_;
};

// The spawn's attributes, destroyed on every way out.
class SpawnAttributes {
public:
    SpawnAttributes() { ok_ = posix_spawnattr_init(&attr_) == 0; }
    ~SpawnAttributes()
    {
        if (ok_)
            posix_spawnattr_destroy(&attr_);
    }
    SpawnAttributes(const SpawnAttributes &) = delete;
    SpawnAttributes &operator=(const SpawnAttributes &) = delete;
    bool ok() const { return ok_; }
    posix_spawnattr_t *get() { return &attr_; }

private:
    posix_spawnattr_t attr_;
    bool ok_;
};

// A plain command's program started and waited for as system() starts the shell: true with
// its wait status (-1 when the wait failed); false when it could not be started.
bool RunPlain(const std::string &program, const std::vector<std::string> &words, int &status)
{
    SystemSignals signals;
    SpawnAttributes attr;
    if (!attr.ok() || posix_spawnattr_setsigmask(attr.get(), &signals.callerMask()) != 0 ||
        posix_spawnattr_setsigdefault(attr.get(), &signals.childDefaults()) != 0 ||
        posix_spawnattr_setflags(attr.get(), POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK) != 0)
        return false;
    pid_t pid;
    if (SpawnWords(&pid, program, words, nullptr, attr.get()) != 0)
        return false;
    status = Wait(pid);
    return true;
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
    std::vector<std::string> words;
    if (PlainWords(command, words)) {
        std::string program = PlainProgram(words[0]);
        int status;
        if (!program.empty() && RunPlain(program, words, status))
            return status;
    }
    // The shell's own messages and statuses for what it cannot start, or whatever else it reads.
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
