#include "korv/proc.h"
#include "korv_pid_file.h"

extern "C" int ProcPidFileRead(const char *path)
{
    using State = korv::proc::PidFile::State;
    const korv::proc::PidFile f = korv::proc::ReadPidFile(path);
    switch (f.state) {
    case State::Missing:
    case State::Unreadable:
        return -1;
    case State::Empty:
    case State::NoNumber:
        return 0;
    case State::Number:
        break;
    }
    return f.pid;  // above INT32_MAX: negative, no pid
}
