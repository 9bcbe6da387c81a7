// The one error record beside korverr.
#pragma once

namespace korv::error {

inline constexpr int kMaxFrames = 64;

struct State {
    const char *srcFile = nullptr;
    int line = 0;
    char **symbols = nullptr;  // one block from backtrace_symbols
    void *frames[kMaxFrames] = {};
    int nFrames = 0;
};

State &state();

}  // namespace korv::error
