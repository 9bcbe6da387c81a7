// Commands that the shell would only split into words, found and started without it.
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string_view>

#include "korv_command.h"

extern char **environ;

namespace korv::proc {

namespace {

// Characters with no meaning to the shell in any position of a word.
bool PlainChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           (c != '\0' && strchr("/._@+=,:%-", c) != nullptr);
}

// Words that the shell runs itself or reads as syntax when they come first.
bool ShellOwnWord(std::string_view word)
{
    static constexpr std::string_view kOwn[] = {
        // built-ins
        ".", ":", "[", "alias", "bg", "break", "cd", "command", "continue", "echo", "eval", "exec",
        "exit", "export", "false", "fg", "getopts", "hash", "jobs", "kill", "local", "printf", "pwd",
        "read", "readonly", "return", "set", "shift", "test", "times", "trap", "true", "type",
        "ulimit", "umask", "unalias", "unset", "wait",
        // keywords, and two that other shells have
        "case", "do", "done", "elif", "else", "esac", "fi", "for", "if", "in", "then", "until",
        "while", "function", "select",
    };
    for (std::string_view own : kOwn)
        if (word == own)
            return true;
    return false;
}

bool ExecutableFile(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// command split at its spaces, the double quotes taken away; false at the first character that
// only the shell reads.
bool SplitPlain(const char *command, std::vector<std::string> &words)
{
    std::string word;
    bool inWord = false;
    for (const char *p = command; *p; ++p) {
        if (*p == ' ') {
            if (inWord)
                words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else if (*p == '"') {
            inWord = true;
            for (++p; *p != '"'; ++p) {
                if (*p != ' ' && !PlainChar(*p))
                    return false;  // also an unclosed quote
                word += *p;
            }
        } else if (PlainChar(*p)) {
            inWord = true;
            word += *p;
        } else {
            return false;
        }
    }
    if (inWord)
        words.push_back(std::move(word));
    return true;
}

}  // namespace

bool PlainWords(const char *command, std::vector<std::string> &words)
{
    words.clear();
    if (!command || !SplitPlain(command, words) || words.empty() || words[0].empty() ||
        words[0].find('=') != std::string::npos || ShellOwnWord(words[0])) {
        words.clear();
        return false;
    }
    return true;
}

std::string PlainProgram(const std::string &word)
{
    if (word.empty())
        return "";
    if (word[0] == '/')
        return word;
    if (word.find('/') != std::string::npos)
        return "";
    const char *path = getenv("PATH");
    if (!path || !*path)
        return "";
    for (std::string_view rest = path;;) {
        size_t colon = rest.find(':');
        std::string_view dir = rest.substr(0, colon);
        // The shell reads an empty or relative entry against its directory: left to it.
        if (dir.empty() || dir[0] != '/')
            return "";
        std::string candidate(dir);
        candidate += '/';
        candidate += word;
        if (ExecutableFile(candidate))
            return candidate;
        if (colon == std::string_view::npos)
            return "";
        rest.remove_prefix(colon + 1);
    }
}

int SpawnWords(pid_t *pid, const std::string &program, const std::vector<std::string> &words,
               const posix_spawn_file_actions_t *actions, const posix_spawnattr_t *attr)
{
    std::vector<char *> argv;
    argv.reserve(words.size() + 1);
    for (const std::string &w : words)
        argv.push_back(const_cast<char *>(w.c_str()));
    argv.push_back(nullptr);
    return posix_spawn(pid, program.c_str(), actions, attr, argv.data(), environ);
}

}  // namespace korv::proc
