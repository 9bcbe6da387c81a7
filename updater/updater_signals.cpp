// The signals that would end the run from outside while the flash changes.
#include <signal.h>

#include "updater_flash.h"

void UPDTIgnoreSignals(void)
{
    // Children run through the shell (dd, rm) inherit the ignoring, as they should here.
    for (int sig : {SIGHUP, SIGINT, SIGTERM, SIGPIPE})
        signal(sig, SIG_IGN);
}
