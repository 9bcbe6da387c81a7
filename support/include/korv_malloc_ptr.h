// Owner of a block from malloc, calloc or strdup inside library functions, freed on every return.
#pragma once

#include <cstdlib>
#include <memory>

namespace korv {

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};

template <typename T>
using MallocPtr = std::unique_ptr<T, FreeDeleter>;

}  // namespace korv
