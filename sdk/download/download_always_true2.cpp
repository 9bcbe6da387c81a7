#include "korv/download.h"

extern "C" int KORLAlwaysTrue2(void)
{
    return 1;
}
