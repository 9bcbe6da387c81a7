// Changing the MTU of the running interface.
#include <linux/sockios.h>
#include <stdlib.h>
#include <sys/ioctl.h>

#include "korv_internal.h"
#include "net_internal.h"

extern "C" int KORVNetSetMTUEth(const char *mtu, const char *interface)
{
    if (!mtu || !interface || !korv::net::IfNameFits(interface)) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    korv::net::Socket sock = korv::net::OpenSocket();
    if (!sock)
        return -1;
    struct ifreq ifr = korv::net::IfreqFor(interface);
    ifr.ifr_mtu = atoi(mtu);
    return korv_plat_ioctl(sock.get(), SIOCSIFMTU, &ifr) == 0 ? 0 : -1;
}
