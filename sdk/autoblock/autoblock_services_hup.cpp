#include <stdlib.h>

#include "korv/autoblock.h"
#include "korv_internal.h"

extern "C" void KORVAutoBlockServicesHup(void)
{
    if (system("/bin/kill -HUP `/bin/pidof ftpd` > /dev/null 2>&1") != 0)
        KORV_LOG("Failed to hup ftpd");
}
