#include <stdlib.h>

#include "korv/bdb.h"

extern "C" void KORVBDbFree(void *buffer)
{
    free(buffer);
}
