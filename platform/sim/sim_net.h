// The simulated network interfaces, one entry each in /.korvsim/net.conf: what the interface
// requests of an AF_INET socket answer. The sandbox's own network namespace has only "lo".
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "sim_state.h"

namespace korvsim {

inline constexpr const char *kNetConf = "/.korvsim/net.conf";

struct NetIf {
    uint16_t flags = 0;                // SIOCGIFFLAGS
    std::array<uint8_t, 6> hwaddr{};   // SIOCGIFHWADDR
    std::optional<uint32_t> addr;      // network byte order; none: EADDRNOTAVAIL
    std::optional<uint32_t> netmask;
    int mtu = 1500;
    int mtu_max = 9000;                // the largest MTU SIOCSIFMTU takes
    std::optional<int> speed;          // ETHTOOL_GSET, Mbit/s; none: EOPNOTSUPP
    int duplex = 1;
};

// By interface name. An interface exists when net.conf has its "NAME.flags" key.
using Net = std::map<std::string, NetIf>;
Net net_load();
bool net_save(const Net &net);

// "00:11:32:0a:0b:0c"
bool parse_mac(const std::string &text, std::array<uint8_t, 6> *mac);
std::string format_mac(const std::array<uint8_t, 6> &mac);
// Dotted decimal, four numbers 0 to 255; the value in network byte order.
bool parse_ipv4(const std::string &text, uint32_t *addr);
std::string format_ipv4(uint32_t addr);

}  // namespace korvsim
