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

// Inside double quotes the shell still reads the dollar, the backquote, the backslash and the
// double quote: each gets a backslash, so an ordinary path reads exactly as written and any
// other stays one word of data.
std::string DoubleQuoted(const std::string &text)
{
    std::string out;
    for (char c : text) {
        if (c == '$' || c == '`' || c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out;
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
    bool inDouble = false;  // between double quotes of the format
    for (const char *p = format; *p; ++p) {
        if (*p != '%') {
            if (*p == '"')
                inDouble = !inDouble;
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
        if (text.find('\0') != std::string::npos)
            return "";  // a command is a C string: a NUL would cut it
        if (conv == 'd')
            out += text;
        else if (inDouble)
            out += DoubleQuoted(text);
        else if (!text.empty())
            out += UPDTShellQuote(text);
    }
    return next == args.end() && !inDouble ? out : "";
}

std::string UPDTDdCommand(const std::string &input, const std::string &output, int blockSize, int count)
{
    if (count < 0)
        return UPDTShellCommand("/bin/dd if=\"%s\" of=\"%s\" bs=%d", {input, output, blockSize});
    return UPDTShellCommand("/bin/dd if=\"%s\" of=\"%s\" bs=%d count=%d", {input, output, blockSize, count});
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
