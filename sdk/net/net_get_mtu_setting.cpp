// The MTU of a running interface.
#include <linux/sockios.h>
#include <sys/ioctl.h>

#include "korv_internal.h"
#include "net_internal.h"

extern "C" int KORVNetGetMTUSetting(const char *interface)
{
    if (!interface) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    if (!korv::net::IfNameFits(interface)) {
        KORV_LOG("interface name is too long");
        return -1;
    }
    korv::net::Socket sock = korv::net::OpenSocket();
    if (!sock)
        return -1;
    struct ifreq ifr = korv::net::IfreqFor(interface);
    if (korv_plat_ioctl(sock.get(), SIOCGIFMTU, &ifr) != 0)
        return 0;
    return ifr.ifr_mtu;
}
