// Builders of a device tree's network: the interfaces (the simulator's settings and
// "/proc/net/dev"), bonds ("/sys/class/net/<bond>/bonding/..." and "/proc/net/bonding/<bond>"),
// ifcfg files, and an "/etc/rc.network" that records how it was called. Like device_tree.h they
// link no test framework.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace korvtest {

// Interface flags as SIOCGIFFLAGS gives them.
inline constexpr uint16_t kIfUp = 0x1;
inline constexpr uint16_t kIfBroadcast = 0x2;
inline constexpr uint16_t kIfLoopback = 0x8;
inline constexpr uint16_t kIfPointToPoint = 0x10;
inline constexpr uint16_t kIfRunning = 0x40;
inline constexpr uint16_t kIfMaster = 0x400;
inline constexpr uint16_t kIfSlave = 0x800;
inline constexpr uint16_t kIfMulticast = 0x1000;
// An Ethernet port that is up with its link running.
inline constexpr uint16_t kEthernetUp = kIfUp | kIfBroadcast | kIfRunning | kIfMulticast;

struct NetInterface {
    std::string name;
    uint16_t flags = kEthernetUp;
    std::string hwaddr;         // "" : "00:11:32:" and three bytes made from the name
    std::string addr;           // dotted IPv4; "" : none
    std::string netmask;        // "" : none
    int mtu = 1500;
    int mtu_max = 9000;         // the largest MTU the interface takes
    std::optional<int> speed = 1000;  // ethtool's link speed; nullopt: no ethtool (EOPNOTSUPP)
    int duplex = 1;
    bool listed = true;         // named in "/proc/net/dev"
};

// The loopback interface, up, 127.0.0.1/8, MTU 16436 (up to 65536), no ethtool.
NetInterface loopback();
// An Ethernet port, up, at 1000 Mbit/s full duplex; with an address when addr is given (/24).
NetInterface ethernet(const std::string &name, const std::string &addr = "");

// Every interface in the simulator, and "/proc/net/dev" naming the listed ones in this order.
void set_network(const std::vector<NetInterface> &interfaces);
// "/proc/net/dev" as the kernel writes it: two header lines, then one line per name.
void write_proc_net_dev(const std::vector<std::string> &names);

// The first lines of a bond's mode file, as the bonding driver writes them.
inline constexpr const char *kMode8023ad = "802.3ad 4";
inline constexpr const char *kModeAlb = "balance-alb 6";
inline constexpr const char *kModeActiveBackup = "active-backup 1";

struct Bond {
    std::string name = "bond0";
    std::string mode = kModeAlb;      // the mode file's line
    std::vector<std::string> slaves;  // the slaves file's one line; none: an empty file
    // The status file's "\tPartner Mac Address: " line (802.3ad); nullopt: the file has none.
    std::optional<std::string> partner_mac;
    bool status_file = true;          // "/proc/net/bonding/<name>" exists
};
// "/sys/class/net/<bond>/bonding/mode" and "slaves", and the status file.
void set_bond(const Bond &bond);
void remove_bond(const std::string &name);

// "/etc/sysconfig/network-scripts/ifcfg-<name>".
std::string ifcfg_path(const std::string &name);
void write_ifcfg(const std::string &name, const std::string &content);
// Every file of "/etc/sysconfig/network-scripts" (its name, its bytes).
std::map<std::string, std::string> network_scripts();

// "/etc/rc.network": records each call's arguments in "/.korvsim/rc.network.log" and a copy
// of "/etc/sysconfig/network-scripts" as the call found it.
void install_rc_network();
struct RcNetworkCall {
    std::string args;                            // "stop", "start"
    std::map<std::string, std::string> scripts;  // the network-scripts files at that moment
};
std::vector<RcNetworkCall> rc_network_calls();

// A unit whose eth0 and eth1 are bonded as bond0 in the given mode: lo, both ports as slaves
// and bond0 as master in the simulator, the bonding files, the three ifcfg files and the
// recording "/etc/rc.network".
void build_bonded_network(const std::string &mode = kModeAlb);
// The README's sample unit: lo and eth0 (192.168.1.20/24, 1000 Mbit/s), ifcfg-eth0 and the
// recording "/etc/rc.network".
void build_sample_network();

}  // namespace korvtest
