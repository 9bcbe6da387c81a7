#include <cstdlib>

#include "korv/list.h"

extern "C" void KORLSzListFree(PKORLSZLIST list)
{
    free(list);
}
