// Shell commands of the updater: built whole by the library's command builder with every path
// quoted that needs it, run through the shell, and counted as done only when they exited with
// status 0.
#include <syslog.h>

#include "updater.h"

std::string UPDTShellQuote(const std::string &text)
{
    return korv::proc::ShellQuote(text);
}

std::string UPDTShellCommand(const char *format, std::initializer_list<UPDTShellArg> args)
{
    return korv::proc::ShellCommand(format, args);
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
    int status = korv::proc::RunShell(cmd);
    // A command ended by a signal did not finish: it reports as the shell would, 128 + signal.
    if (!korv::proc::Succeeded(status)) {
        syslog(LOG_ERR, "%s(%d): failed to execute cmd=[%s], ret = %d", __func__, __LINE__, cmd,
               korv::proc::ExitCode(status));
        return -1;
    }
    return 0;
}
