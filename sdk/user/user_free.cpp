#include <stdlib.h>

#include "korv/user.h"

extern "C" void KORVUserFree(void *p)
{
    free(p);
}
