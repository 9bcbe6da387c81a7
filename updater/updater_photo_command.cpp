// The photo steps' shell commands: built with every argument one word, run, result unused.
#include "updater_photo.h"

void UPDTPhotoCommand(const char *format, std::initializer_list<korv::proc::ShellArg> args)
{
    std::string cmd = korv::proc::ShellCommand(format, args);
    if (!cmd.empty())
        korv::proc::RunShell(cmd.c_str());
}
