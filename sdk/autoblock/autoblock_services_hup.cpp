#include "korv/autoblock.h"
#include "korv_command.h"
#include "korv_internal.h"

extern "C" void KORVAutoBlockServicesHup(void)
{
    if (!korv::proc::Succeeded(korv::proc::RunShell("/bin/kill -HUP `/bin/pidof ftpd` > /dev/null 2>&1")))
        KORV_LOG("Failed to hup ftpd");
}
