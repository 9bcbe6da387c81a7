#include <execinfo.h>
#include <stdio.h>
#include <stdlib.h>
#include <syslog.h>

#include "error_state.h"
#include "korv/error.h"

using korv::error::state;

extern "C" void KORLErrBacktraceTake(void)
{
    auto &s = state();
    if (s.symbols) {
        free(s.symbols);
        s.symbols = nullptr;
    }
    s.nFrames = backtrace(s.frames, korv::error::kMaxFrames);
    if (s.nFrames < 0)
        s.nFrames = 0;
    s.symbols = backtrace_symbols(s.frames, s.nFrames);
}

extern "C" void KORLErrBacktracePrint(void)
{
    auto &s = state();
    if (!s.symbols)
        return;
    if (FILE *console = fopen("/dev/console", "w")) {
        for (int i = 0; i < s.nFrames; ++i)
            fprintf(console, "%s\n", s.symbols[i]);
        fclose(console);
    }
    for (int i = 0; i < s.nFrames; ++i)
        syslog(LOG_ERR, "%s\n", s.symbols[i]);
}

extern "C" void KORLErrBacktracePuts(void)
{
    auto &s = state();
    if (!s.symbols)
        return;
    for (int i = 0; i < s.nFrames; ++i)
        puts(s.symbols[i]);
}

extern "C" void KORLErrBacktraceFree(void)
{
    auto &s = state();
    free(s.symbols);
    s.symbols = nullptr;
}

// Frees the saved symbols at process exit.
__attribute__((destructor)) static void error_backtrace_release()
{
    KORLErrBacktraceFree();
}
