// Running other programs from the library: one builder of shell command lines, one runner of a
// program by its argument list (no shell), one shell runner and one reader of a command's first
// output line. Every module that starts a program goes through these.
//
// Build a command for the shell only when it needs the shell (a pipe, a redirection the program
// cannot be given otherwise); a fixed program with arguments runs with Run(), where no argument
// can ever become shell syntax.
//
//   std::string cmd = korv::proc::ShellCommand("/bin/dd if=\"%s\" of=%s bs=%d", {in, out, 512});
//   if (cmd.empty()) ...                               // refused: see ShellCommand
//   int status = korv::proc::RunShell(cmd.c_str());    // a wait status, or -1
//
//   int status = korv::proc::Run({"/etc/rc.network", "stop"}, {.quiet = true});
//   if (!korv::proc::Succeeded(status)) ...
//
//   char line[64];
//   int got = korv::proc::FirstLine(cmd.c_str(), line, sizeof line);   // 1, 0 (no output), -1
//
// Statuses are those of waitpid: WIFEXITED and WEXITSTATUS read them; ExitCode() gives the exit
// status, or 128 plus the signal as the shell reports a killed command. None of these functions
// records an error code or writes a message: the caller reports in its own words. errno is
// kept from the failing call when the result is -1.
#pragma once

#include <spawn.h>
#include <stddef.h>

#include <initializer_list>
#include <span>
#include <string>
#include <vector>

namespace korv::proc {

// One argument of ShellCommand: text for a "%s", a number for a "%d".
class ShellArg {
public:
    ShellArg(const char *text) : text_(text ? text : ""), number_(false) {}
    ShellArg(const std::string &text) : text_(text), number_(false) {}
    ShellArg(int value) : text_(std::to_string(value)), number_(true) {}
    const std::string &text() const { return text_; }
    bool number() const { return number_; }

private:
    std::string text_;
    bool number_;
};

// text as one shell word: unchanged when it holds only letters, digits and "/._@+-", else in
// single quotes (an embedded single quote as '\'').
std::string ShellQuote(const std::string &text);

// format with each "%s" and "%d" replaced by the next argument ("%%" is one "%"). A "%s" inside
// double quotes of the format gets a backslash before each "$", "`", "\" and "\""; elsewhere it
// is quoted with ShellQuote (an empty text adds nothing). "" when the format is null, when a
// conversion other than "%s" or "%d" appears, when the arguments do not match the conversions
// in number or kind, when a text holds a NUL, or when the format's double quotes do not close.
std::string ShellCommand(const char *format, std::span<const ShellArg> args);
inline std::string ShellCommand(const char *format, std::initializer_list<ShellArg> args)
{
    return ShellCommand(format, std::span<const ShellArg>(args.begin(), args.size()));
}

struct RunOptions {
    bool quiet = false;  // standard output and error to "/dev/null"
};

// Runs argv[0], an absolute path, with argv as its arguments, the caller's environment and
// descriptors, and waits for it. The wait status; -1 when argv is empty or holds a null, or the
// program could not be started or waited for.
int Run(std::span<const char *const> argv, RunOptions options = {});
inline int Run(std::initializer_list<const char *> argv, RunOptions options = {})
{
    return Run(std::span<const char *const>(argv.begin(), argv.size()), options);
}

// command as "/bin/sh -c" runs it, as system() does: the wait status, or -1. A plain command
// (PlainWords) whose program is found (PlainProgram) is started directly, with what system()
// gives the shell: SIGINT and SIGQUIT ignored and SIGCHLD blocked in the caller while it waits,
// the caller's environment, descriptors and directory. Any other command, and one whose program
// cannot be started, goes to the shell, whose messages and statuses (127, 126) are kept.
int RunShell(const char *command);

// The first line of command's standard output, cut to size - 1 bytes and NUL-terminated, the
// newline kept: 1; 0 when it printed nothing; -1 when it could not be started. A plain command
// is started directly with its output on a pipe, any other through the shell (popen).
int FirstLine(const char *command, char *line, size_t size);

// The words of command when "/bin/sh -c" would only split it at its spaces and run the first
// word as a program: true with words filled. Only letters, digits, "/._@+=,:%-" and spaces,
// outside quotes or in double quotes (a word may be an empty quote pair). False, for the shell,
// on anything else, an empty command, a first word that is empty, holds "=", or is a built-in
// or keyword of the shell.
bool PlainWords(const char *command, std::vector<std::string> &words);

// The program a plain command's first word names, found as the shell finds it: the word itself
// when it is an absolute path, else the first regular executable file of that name in PATH.
// "" for the shell: a relative path, no PATH, an empty or relative PATH entry reached before the
// program, or no such program.
std::string PlainProgram(const std::string &word);

// posix_spawn of program with words as its arguments and the caller's environment: its result.
int SpawnWords(pid_t *pid, const std::string &program, const std::vector<std::string> &words,
               const posix_spawn_file_actions_t *actions, const posix_spawnattr_t *attr);

// The device's event-log command "/usr/korv/bin/korvlogset1" with its class, level and code.
int RunEventLogSet(const char *eventClass, const char *level, const char *code);

// The exit status of a wait status, 128 plus the signal for a killed program, -1 for -1.
int ExitCode(int status);
// A wait status of a program that exited with 0.
bool Succeeded(int status);

}  // namespace korv::proc
