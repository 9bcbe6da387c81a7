// Shell commands of the updater: built whole by the library's command builder with every path
// quoted that needs it, run through the shell, and counted as done only when they exited with
// status 0.
#include <syslog.h>

#include "updater.h"

std::string UPDTDdCommand(const std::string &input, const std::string &output, int blockSize, int count)
{
    if (count < 0)
        return korv::proc::ShellCommand("/bin/dd if=\"%s\" of=\"%s\" bs=%d", {input, output, blockSize});
    return korv::proc::ShellCommand("/bin/dd if=\"%s\" of=\"%s\" bs=%d count=%d", {input, output, blockSize, count});
}

int UPDTRunCommand(const char *format, std::initializer_list<korv::proc::ShellArg> args, std::string *cmd)
{
    std::string built = korv::proc::ShellCommand(format, args);
    int status = built.empty() ? -1 : korv::proc::RunShell(built.c_str());
    if (cmd)
        *cmd = std::move(built);
    return status;
}

int UPDTExecute(const char *cmd)
{
    // An empty command is one the builder refused: the shell would report it done.
    if (!cmd || !*cmd)
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

int UPDTExecute(const char *format, std::initializer_list<korv::proc::ShellArg> args)
{
    return UPDTExecute(korv::proc::ShellCommand(format, args).c_str());
}
