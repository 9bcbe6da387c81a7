// Setting an interface's MTU: at once on a gigabit link, and always as the stored setting.
#include <errno.h>
#include <string.h>
#include <time.h>

#include "korv/net.h"
#include "korv_internal.h"

namespace {

void SleepSeconds(time_t seconds)
{
    struct timespec left = {seconds, 0};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace

extern "C" int KORVNetSetMTUValue(const char *mtu, const char *interface)
{
    if (!mtu || !interface) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    int result = 0;
    KORVNETETHINFO link;
    memset(&link, 0, sizeof link);
    link.speed = 0;
    if (KORVNetGetEthInfo(&link, interface) < 0) {
        KORV_LOG("Can not get EthInfo(%X).", KORLErrGet());
        link.speed = 100;
        result = -1;
    }
    if (link.speed == 1000) {
        if (KORVNetSetMTUEth(mtu, interface) < 0) {
            KORV_LOG("Failed to ifconfig MTU Value(0x%04X)", KORLErrGet());
            result = -1;
        }
        // The port renegotiates its link after the change; let it come back first.
        SleepSeconds(5);
    }
    // Slower links take the setting when the network scripts next start.
    if (KORVNetConfSetMTUValue(mtu, interface) < 0)
        result = -1;
    return result;
}
