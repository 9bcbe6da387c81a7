// The IPv4 address and netmask of an interface, as the kernel holds them.
#include <linux/sockios.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/ioctl.h>

#include "net_internal.h"

extern "C" int KORVNetGetIfAddr(const char *interface, uint32_t *address, uint32_t *netmask)
{
    if (!address || !netmask || !korv::net::IfNameFits(interface))
        return 0;
    korv::net::Socket sock = korv::net::OpenSocket();
    if (!sock)
        return 0;
    struct ifreq ifr = korv::net::IfreqFor(interface);
    if (korv_plat_ioctl(sock.get(), SIOCGIFADDR, &ifr) != 0)
        return 0;
    struct sockaddr_in in;
    memcpy(&in, &ifr.ifr_addr, sizeof in);
    *address = in.sin_addr.s_addr;
    ifr = korv::net::IfreqFor(interface);
    if (korv_plat_ioctl(sock.get(), SIOCGIFNETMASK, &ifr) != 0)
        return 0;
    memcpy(&in, &ifr.ifr_netmask, sizeof in);
    *netmask = in.sin_addr.s_addr;
    return 1;
}
