// The first line that a command prints, for the readers of a program's one-line answer.
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include "korv_command.h"
#include "korv_unique.h"

namespace korv::proc {

namespace {

// The line from fp, as fgets leaves it: 1, or 0 when nothing came.
int ReadLine(FILE *fp, char *line, size_t size)
{
    return fgets(line, static_cast<int>(size), fp) ? 1 : 0;
}

// A plain command's program started with its standard output on a pipe of its own, the first
// line read and the program waited for, as popen and pclose do: true with the result; false
// when it could not be started.
bool FirstLinePlain(const std::string &program, const std::vector<std::string> &words, char *line,
                    size_t size, int &got)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return false;
    UniqueFd readEnd(ends[0]);
    UniqueFd writeEnd(ends[1]);
    // An end among 0, 1 and 2 (one of them was closed) is left to popen's own handling.
    if (readEnd.get() <= STDERR_FILENO || writeEnd.get() <= STDERR_FILENO)
        return false;
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return false;
    pid_t pid;
    int err = posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
    if (err == 0)
        err = SpawnWords(&pid, program, words, &actions, nullptr);
    posix_spawn_file_actions_destroy(&actions);
    if (err != 0)
        return false;
    writeEnd.reset();

    UniqueFile in(fdopen(readEnd.get(), "r"));
    if (in) {
        readEnd.release();
        got = ReadLine(in.get(), line, size);
    } else {
        got = -1;
    }
    // The rest of the output is left unread: closing the pipe first, the program is not kept
    // waiting on a full one.
    in.reset();
    readEnd.reset();
    int status;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return true;
}

}  // namespace

int FirstLine(const char *command, char *line, size_t size)
{
    if (!command || !line || size == 0 || size > static_cast<size_t>(INT32_MAX)) {
        errno = EINVAL;
        return -1;
    }
    memset(line, 0, size);
    std::vector<std::string> words;
    if (PlainWords(command, words)) {
        std::string program = PlainProgram(words[0]);
        int got;
        if (!program.empty() && FirstLinePlain(program, words, line, size, got))
            return got;
    }
    UniquePipe pipe(popen(command, "re"));
    if (!pipe)
        return -1;
    // The rest of the output is left unread; closing the pipe waits for the command.
    return ReadLine(pipe.get(), line, size);
}

}  // namespace korv::proc
