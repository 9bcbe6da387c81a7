// Shell commands of the updater: built whole with every path quoted that needs it, run through
// the shell, and counted as done only when they exited with status 0.
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <syslog.h>

#include "updater.h"

namespace {

bool Ordinary(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || strchr("/._@+-", c);
}

bool AllOrdinary(const std::string &text)
{
    for (unsigned char c : text)
        if (!c || !Ordinary(c))
            return false;
    return true;
}

}  // namespace

std::string UPDTShellQuote(const std::string &text)
{
    if (AllOrdinary(text))
        return text;
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

std::string UPDTShellCommand(const char *format, std::initializer_list<UPDTShellArg> args)
{
    if (!format)
        return "";
    std::string out;
    auto next = args.begin();
    for (const char *p = format; *p; ++p) {
        if (*p != '%') {
            out += *p;
            continue;
        }
        char conv = p[1];
        if (conv == '%') {
            out += '%';
            ++p;
            continue;
        }
        if ((conv != 's' && conv != 'd') || next == args.end() || next->number() != (conv == 'd'))
            return "";
        const std::string &text = next->text();
        ++next;
        ++p;
        if (conv == 'd') {
            out += text;
            continue;
        }
        // "\"%s\"": a text that needs quoting takes single quotes in place of the double ones,
        // inside which "$", "`" and "\"" would still be read by the shell.
        bool doubleQuoted = p - 2 >= format && p[-2] == '"' && p[1] == '"';
        if (doubleQuoted && !AllOrdinary(text)) {
            out.pop_back();
            out += UPDTShellQuote(text);
            ++p;
        } else if (doubleQuoted || text.empty()) {
            out += text;
        } else {
            out += UPDTShellQuote(text);
        }
    }
    return next == args.end() ? out : "";
}

int UPDTExecute(const char *cmd)
{
    if (!cmd)
        return -1;
    int status = system(cmd);
    if (status == -1) {
        syslog(LOG_ERR, "%s(%d): failed to execute cmd=[%s], ret = %d", __func__, __LINE__, cmd, -1);
        return -1;
    }
    // A command ended by a signal did not finish: it reports as the shell would, 128 + signal.
    int ret = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : status;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        syslog(LOG_ERR, "%s(%d): failed to execute cmd=[%s], ret = %d", __func__, __LINE__, cmd, ret);
        return -1;
    }
    return 0;
}
