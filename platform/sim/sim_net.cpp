// The network: AF_INET datagram sockets whose interface requests are answered from net.conf,
// per interface. Requests are logged and faulted as "net:NAME" (the socket itself as "net").
#include <errno.h>
#include <fcntl.h>
#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "sim_devices.h"
#include "sim_net.h"

namespace korvsim {

namespace {

// The smallest MTU the kernel lets an Ethernet interface have.
constexpr int kMinMtu = 68;

void put_inet(struct sockaddr *sa, uint32_t addr)
{
    struct sockaddr_in in {};
    in.sin_family = AF_INET;
    in.sin_addr.s_addr = addr;
    memcpy(sa, &in, sizeof in);
}

// ETHTOOL_GSET into the caller's record at ifr_data: 0, or the errno.
int ethtool_request(const NetIf &nif, struct ifreq *ifr, std::string *args)
{
    void *data = ifr->ifr_data;
    if (!data)
        return EFAULT;
    uint32_t cmd;
    memcpy(&cmd, data, sizeof cmd);
    *args = cmd == ETHTOOL_GSET ? "cmd=ETHTOOL_GSET" : "cmd=" + hex32(cmd);
    if (cmd != ETHTOOL_GSET || !nif.speed)
        return EOPNOTSUPP;
    struct ethtool_cmd ecmd {};
    ecmd.cmd = ETHTOOL_GSET;
    uint32_t speed = static_cast<uint32_t>(*nif.speed);
    ecmd.speed = static_cast<uint16_t>(speed);
    ecmd.speed_hi = static_cast<uint16_t>(speed >> 16);
    ecmd.duplex = static_cast<uint8_t>(nif.duplex);
    memcpy(data, &ecmd, sizeof ecmd);
    return 0;
}

// One request on an existing interface: 0, or the errno. *changed when net.conf must be saved.
int interface_request(NetIf &nif, unsigned long request, struct ifreq *ifr, std::string *args, bool *changed)
{
    switch (request) {
    case SIOCGIFFLAGS:
        ifr->ifr_flags = static_cast<short>(nif.flags);
        return 0;
    case SIOCGIFHWADDR:
        memset(&ifr->ifr_hwaddr, 0, sizeof ifr->ifr_hwaddr);
        ifr->ifr_hwaddr.sa_family = (nif.flags & IFF_LOOPBACK) ? ARPHRD_LOOPBACK : ARPHRD_ETHER;
        memcpy(ifr->ifr_hwaddr.sa_data, nif.hwaddr.data(), nif.hwaddr.size());
        return 0;
    case SIOCGIFADDR:
        if (!nif.addr)
            return EADDRNOTAVAIL;
        put_inet(&ifr->ifr_addr, *nif.addr);
        return 0;
    case SIOCGIFNETMASK:
        if (!nif.netmask)
            return EADDRNOTAVAIL;
        put_inet(&ifr->ifr_netmask, *nif.netmask);
        return 0;
    case SIOCGIFMTU:
        ifr->ifr_mtu = nif.mtu;
        return 0;
    case SIOCSIFMTU:
        *args = "mtu=" + std::to_string(ifr->ifr_mtu);
        if (ifr->ifr_mtu < kMinMtu || ifr->ifr_mtu > nif.mtu_max)
            return EINVAL;
        nif.mtu = ifr->ifr_mtu;
        *changed = true;
        return 0;
    case SIOCETHTOOL:
        return ethtool_request(nif, ifr, args);
    default:
        return ENOTTY;
    }
}

}  // namespace

int net_socket(int domain, int type, int protocol, bool *claimed)
{
    *claimed = domain == AF_INET && (type & 0xF) == SOCK_DGRAM;
    if (!*claimed)
        return -1;
    StateLock lock;
    const std::string args = "AF_INET,SOCK_DGRAM";
    int err = fault_fail("net", "SOCKET");
    int fd = -1;
    if (!err) {
        fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, protocol);
        if (fd < 0)
            err = errno ? errno : EIO;
        else if (!remember_fd(fd, DevKind::Net, 0, O_RDWR, "net"))
            err = errno ? errno : EIO;
    }
    if (err) {
        if (fd >= 0)
            close(fd);
        log_request("net", "SOCKET", args, -1, err);
        return fail(err);
    }
    log_request("net", "SOCKET", args, fd, 0);
    return fd;
}

int net_ioctl(SimFd &, unsigned long request, void *arg)
{
    StateLock lock;
    std::string name = request_name(request), args;
    if (!arg) {
        log_request("net", name, "", -1, EFAULT);
        return fail(EFAULT);
    }
    auto *ifr = static_cast<struct ifreq *>(arg);
    // As the kernel does: the name is whatever the 16 bytes hold up to the 15th.
    char ifname[IFNAMSIZ];
    memcpy(ifname, ifr->ifr_name, IFNAMSIZ);
    ifname[IFNAMSIZ - 1] = '\0';
    std::string device = std::string("net:") + ifname;
    int err = fault_fail(device, name);
    bool changed = false;
    if (!err) {
        Net net = net_load();
        auto it = net.find(ifname);
        if (name.rfind("SIOC", 0) != 0)
            err = ENOTTY;
        else if (it == net.end())
            err = ENODEV;
        else
            err = interface_request(it->second, request, ifr, &args, &changed);
        if (!err && changed)
            net_save(net);
    }
    log_request(device, name, args, err ? -1 : 0, err);
    return err ? fail(err) : 0;
}

}  // namespace korvsim
