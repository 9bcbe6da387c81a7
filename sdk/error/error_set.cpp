#include "error_state.h"
#include "korv/error.h"

extern "C" {
int korverr = 0;
}

namespace korv::error {

State &state()
{
    static State s;
    return s;
}

}  // namespace korv::error

using korv::error::state;

extern "C" void KORLErrSetEx(int code, const char *srcFile, int line)
{
    state().srcFile = srcFile;
    state().line = line;
    korverr = code;
    KORLErrBacktraceTake();
}

// The same record without a place: no file, line 0.
extern "C" void KORLErrSet(int code)
{
    KORLErrSetEx(code, nullptr, 0);
}

extern "C" int KORLErrGet(void)
{
    return korverr;
}

extern "C" const char *KORLErrFileGet(void)
{
    return state().srcFile;
}

extern "C" int KORLErrLineGet(void)
{
    return state().line;
}
