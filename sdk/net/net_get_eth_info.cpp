// Link speed, duplex and MTU of an Ethernet port.
#include <errno.h>
#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <string.h>
#include <sys/ioctl.h>

#include "korv_internal.h"
#include "net_internal.h"

extern "C" int KORVNetGetEthInfo(KORVNETETHINFO *info, const char *interface)
{
    if (!info || !interface || !korv::net::IfNameFits(interface)) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    {
        korv::net::Socket sock = korv::net::OpenSocket();
        if (!sock)
            return -1;
        struct ethtool_cmd cmd;
        memset(&cmd, 0, sizeof cmd);
        cmd.cmd = ETHTOOL_GSET;
        struct ifreq ifr = korv::net::IfreqFor(interface);
        ifr.ifr_data = reinterpret_cast<char *>(&cmd);
        if (korv_plat_ioctl(sock.get(), SIOCETHTOOL, &ifr) == 0) {
            info->speed = cmd.speed == 10 || cmd.speed == 100 || cmd.speed == 1000 ? cmd.speed : -1;
            info->duplex = cmd.duplex <= 1 ? cmd.duplex : -1;
        } else if (errno != EOPNOTSUPP) {
            return -1;
        }
        // A port without ethtool keeps what the caller set.
    }
    int mtu = KORVNetGetMTUSetting(interface);
    if (mtu <= 0) {
        info->mtu = -1;
        return -1;
    }
    info->mtu = mtu;
    return 0;
}
