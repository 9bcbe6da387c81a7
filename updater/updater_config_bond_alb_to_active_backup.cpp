// A bond in balance-alb mode, which the new firmware no longer offers, becomes active-backup.
#include <string.h>
#include <syslog.h>

#include "korv/net.h"
#include "updater_config.h"

namespace {

constexpr int kModeBalanceAlb = 2;
constexpr int kModeActiveBackup = 3;

}  // namespace

int UPDTConfigBondAlbToActiveBackup(void)
{
    KORVNETLINKAGGR bond;
    memset(&bond, 0, sizeof bond);
    // No bond, or one in another mode, is left as it is.
    if (KORVNetLinkAggrGet("bond0", &bond) != 0 || bond.mode != kModeBalanceAlb)
        return 0;
    bond.mode = kModeActiveBackup;
    if (KORVNetLinkAggrSet(&bond) < 0) {
        syslog(LOG_ERR, "%s (%d) Failed to remove ALB", "updater", __LINE__);
        return -1;
    }
    return 0;
}
