#include "korv/download.h"

extern "C" int KORLAlwaysTrue(void)
{
    return 1;
}
