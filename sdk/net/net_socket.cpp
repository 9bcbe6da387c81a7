// The datagram socket and the interface names of the network requests.
#include <string.h>
#include <sys/socket.h>

#include "net_internal.h"

namespace korv::net {

Socket OpenSocket()
{
    return Socket(korv_plat_socket(AF_INET, SOCK_DGRAM, 0));
}

bool IfNameFits(const char *name)
{
    return name && strnlen(name, IFNAMSIZ) < IFNAMSIZ;
}

struct ifreq IfreqFor(const char *name)
{
    struct ifreq ifr;
    memset(&ifr, 0, sizeof ifr);
    // The caller has checked that the name fits: the last byte stays the terminator.
    strncpy(ifr.ifr_name, name, IFNAMSIZ - 1);
    return ifr;
}

}  // namespace korv::net
