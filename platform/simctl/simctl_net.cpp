// Control of the simulated network interfaces.
#include "korv/simctl.h"
#include "sim_net.h"

namespace korvsim::ctl {

namespace {

Interface info_of(const std::string &name, const NetIf &nif)
{
    Interface out;
    out.name = name;
    out.flags = nif.flags;
    out.hwaddr = format_mac(nif.hwaddr);
    out.addr = nif.addr ? format_ipv4(*nif.addr) : "";
    out.netmask = nif.netmask ? format_ipv4(*nif.netmask) : "";
    out.mtu = nif.mtu;
    out.mtu_max = nif.mtu_max;
    out.speed = nif.speed;
    out.duplex = nif.duplex;
    return out;
}

}  // namespace

bool set_interface(const Interface &interface)
{
    const std::string &name = interface.name;
    if (name.empty() || name.size() > 15 || name.find_first_of("=\n/ ") != std::string::npos)
        return false;
    NetIf nif;
    nif.flags = interface.flags;
    if (!interface.hwaddr.empty() && !parse_mac(interface.hwaddr, &nif.hwaddr))
        return false;
    uint32_t a;
    if (!interface.addr.empty()) {
        if (!parse_ipv4(interface.addr, &a))
            return false;
        nif.addr = a;
    }
    if (!interface.netmask.empty()) {
        if (!parse_ipv4(interface.netmask, &a))
            return false;
        nif.netmask = a;
    }
    nif.mtu = interface.mtu;
    nif.mtu_max = interface.mtu_max;
    nif.speed = interface.speed;
    nif.duplex = interface.duplex;
    StateLock lock;
    Net net = net_load();
    net[name] = nif;
    return net_save(net);
}

bool remove_interface(const std::string &name)
{
    StateLock lock;
    Net net = net_load();
    return net.erase(name) && net_save(net);
}

std::optional<Interface> interface(const std::string &name)
{
    StateLock lock;
    Net net = net_load();
    auto it = net.find(name);
    if (it == net.end())
        return std::nullopt;
    return info_of(name, it->second);
}

std::vector<Interface> interfaces()
{
    StateLock lock;
    std::vector<Interface> out;
    for (const auto &[name, nif] : net_load())
        out.push_back(info_of(name, nif));
    return out;
}

}  // namespace korvsim::ctl
