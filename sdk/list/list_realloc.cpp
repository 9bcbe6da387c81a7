#include <cstdlib>

#include "korv/list.h"

extern "C" void *KORLRealloc(void *block, size_t size)
{
    if (size == 0) {
        free(block);
        return nullptr;
    }
    if (!block)
        return malloc(size);
    void *grown = realloc(block, size);
    // Callers always lose the old block on failure, so they need no second pointer to free.
    if (!grown)
        free(block);
    return grown;
}
