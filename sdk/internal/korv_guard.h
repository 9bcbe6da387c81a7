// The boundary of a C function whose body uses standard containers: an allocation failure inside
// becomes the library's 0x0200 and the function's failure result, never an exception in C code.
//
//   extern "C" int KORVThing(...) { return KORV_GUARDED(-1, { ... return 0; }); }
#pragma once

#include <new>

#include "korv/error.h"

namespace korv {

template <typename R, typename F>
R Guarded(R failure, const char *file, int line, F &&body) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc &) {
        KORLErrSetEx(KORL_ERR_NO_MEMORY, file, line);
        return failure;
    }
}

}  // namespace korv

#define KORV_GUARDED(failure, ...) korv::Guarded((failure), __FILE_NAME__, __LINE__, [&]() __VA_ARGS__)
