#include <cstdlib>

#include "korv/hash.h"

extern "C" void KORLSzHashFree(PKORLSZHASH hash)
{
    free(hash);
}
