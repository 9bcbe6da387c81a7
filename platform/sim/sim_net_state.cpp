// net.conf: the simulated interfaces as "NAME.FIELD=value" lines.
#include <arpa/inet.h>
#include <stdio.h>

#include "sim_net.h"

namespace korvsim {

namespace {

int conf_int(const std::string &text, int fallback)
{
    long long v;
    return parse_int(text, &v) && v >= INT32_MIN && v <= INT32_MAX ? static_cast<int>(v) : fallback;
}

}  // namespace

Net net_load()
{
    Conf conf = conf_load(kNetConf);
    Net net;
    // Interface names may hold dots ("eth0.100"); field names never do.
    for (const auto &[key, value] : conf) {
        size_t dot = key.rfind('.');
        if (dot != std::string::npos && dot > 0 && key.compare(dot + 1, std::string::npos, "flags") == 0)
            net[key.substr(0, dot)].flags = static_cast<uint16_t>(conf_u64(conf, key));
    }
    for (auto &[name, nif] : net) {
        auto get = [&](const char *field) -> const std::string * {
            auto it = conf.find(name + "." + field);
            return it == conf.end() ? nullptr : &it->second;
        };
        if (auto *v = get("hwaddr"))
            parse_mac(*v, &nif.hwaddr);
        uint32_t a;
        if (auto *v = get("addr"); v && parse_ipv4(*v, &a))
            nif.addr = a;
        if (auto *v = get("netmask"); v && parse_ipv4(*v, &a))
            nif.netmask = a;
        if (auto *v = get("mtu"))
            nif.mtu = conf_int(*v, nif.mtu);
        if (auto *v = get("mtu_max"))
            nif.mtu_max = conf_int(*v, nif.mtu_max);
        if (auto *v = get("speed"))
            nif.speed = conf_int(*v, 0);
        if (auto *v = get("duplex"))
            nif.duplex = conf_int(*v, nif.duplex);
    }
    return net;
}

bool net_save(const Net &net)
{
    Conf conf;
    for (const auto &[name, nif] : net) {
        char flags[8];
        snprintf(flags, sizeof flags, "0x%04x", nif.flags);
        conf[name + ".flags"] = flags;
        conf[name + ".hwaddr"] = format_mac(nif.hwaddr);
        if (nif.addr)
            conf[name + ".addr"] = format_ipv4(*nif.addr);
        if (nif.netmask)
            conf[name + ".netmask"] = format_ipv4(*nif.netmask);
        conf[name + ".mtu"] = std::to_string(nif.mtu);
        conf[name + ".mtu_max"] = std::to_string(nif.mtu_max);
        if (nif.speed)
            conf[name + ".speed"] = std::to_string(*nif.speed);
        conf[name + ".duplex"] = std::to_string(nif.duplex);
    }
    return conf_save(kNetConf, conf);
}

bool parse_mac(const std::string &text, std::array<uint8_t, 6> *mac)
{
    unsigned b[6];
    char end;
    if (sscanf(text.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x%c", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5], &end) != 6)
        return false;
    for (int i = 0; i < 6; ++i)
        (*mac)[i] = static_cast<uint8_t>(b[i]);
    return true;
}

std::string format_mac(const std::array<uint8_t, 6> &mac)
{
    char buf[18];
    snprintf(buf, sizeof buf, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return buf;
}

bool parse_ipv4(const std::string &text, uint32_t *addr)
{
    struct in_addr in {};
    if (inet_pton(AF_INET, text.c_str(), &in) != 1)
        return false;
    *addr = in.s_addr;
    return true;
}

std::string format_ipv4(uint32_t addr)
{
    char buf[INET_ADDRSTRLEN];
    struct in_addr in {};
    in.s_addr = addr;
    return inet_ntop(AF_INET, &in, buf, sizeof buf) ? buf : "";
}

}  // namespace korvsim
