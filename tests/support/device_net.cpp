// Device-tree builders of the network over plain files and the simulator's control library.
#include "device_net.h"

#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>
#include <stdexcept>

#include "korv/simctl.h"
#include "korvtest.h"

namespace korvtest {

namespace {

namespace ctl = korvsim::ctl;

const char kScriptsDir[] = "/etc/sysconfig/network-scripts";
const char kRcLog[] = "/.korvsim/rc.network.log";
const char kRcCopies[] = "/.korvsim/rc.network.";

// The files of a folder by name.
std::map<std::string, std::string> folder_files(const std::string &dir)
{
    std::map<std::string, std::string> files;
    DIR *d = opendir(dir.c_str());
    if (!d)
        return files;
    while (struct dirent *e = readdir(d)) {
        std::string name = e->d_name;
        if (name != "." && name != "..")
            files[name] = read_file(dir + "/" + name);
    }
    closedir(d);
    return files;
}

std::string bonding_opts(const std::string &mode)
{
    if (mode == kMode8023ad)
        return "\"mode=4 use_carrier=0 miimon=100 updelay=100 lacp_rate=fast\"";
    if (mode == kModeActiveBackup)
        return "\"mode=active-backup use_carrier=0 miimon=100 updelay=100 primary=eth0\"";
    return "\"mode=balance-alb use_carrier=0 miimon=100 updelay=100\"";
}

}  // namespace

NetInterface loopback()
{
    NetInterface lo;
    lo.name = "lo";
    lo.flags = kIfUp | kIfLoopback | kIfRunning;
    lo.hwaddr = "00:00:00:00:00:00";
    lo.addr = "127.0.0.1";
    lo.netmask = "255.0.0.0";
    lo.mtu = 16436;
    lo.mtu_max = 65536;
    lo.speed = std::nullopt;
    return lo;
}

NetInterface ethernet(const std::string &name, const std::string &addr)
{
    NetInterface eth;
    eth.name = name;
    eth.addr = addr;
    if (!addr.empty())
        eth.netmask = "255.255.255.0";
    return eth;
}

void set_network(const std::vector<NetInterface> &interfaces)
{
    for (const auto &old : ctl::interfaces())
        ctl::remove_interface(old.name);
    std::vector<std::string> listed;
    for (const NetInterface &nif : interfaces) {
        ctl::Interface c;
        c.name = nif.name;
        c.flags = nif.flags;
        c.hwaddr = nif.hwaddr;
        if (c.hwaddr.empty()) {
            unsigned sum = 0;
            for (unsigned char ch : nif.name)
                sum = sum * 31 + ch;
            char mac[18];
            snprintf(mac, sizeof mac, "00:11:32:%02x:%02x:%02x", (sum >> 16) & 0xFF, (sum >> 8) & 0xFF, sum & 0xFF);
            c.hwaddr = mac;
        }
        c.addr = nif.addr;
        c.netmask = nif.netmask;
        c.mtu = nif.mtu;
        c.mtu_max = nif.mtu_max;
        c.speed = nif.speed;
        c.duplex = nif.duplex;
        if (!ctl::set_interface(c))
            throw std::runtime_error("bad interface " + nif.name);
        if (nif.listed)
            listed.push_back(nif.name);
    }
    write_proc_net_dev(listed);
}

void write_proc_net_dev(const std::vector<std::string> &names)
{
    std::string text =
        "Inter-|   Receive                                                |  Transmit\n"
        " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs drop fifo colls "
        "carrier compressed\n";
    for (const std::string &name : names) {
        char line[256];
        snprintf(line, sizeof line, "%6s: %7u %7u %4u %4u %4u %5u %10u %9u %8u %7u %4u %4u %4u %5u %7u %10u\n",
                 name.c_str(), 123456u, 1024u, 0u, 0u, 0u, 0u, 0u, 0u, 654321u, 2048u, 0u, 0u, 0u, 0u, 0u, 0u);
        text += line;
    }
    write_file("/proc/net/dev", text, 0444);
}

void set_bond(const Bond &bond)
{
    std::string sys = "/sys/class/net/" + bond.name + "/bonding/";
    write_file(sys + "mode", bond.mode + "\n", 0444);
    std::string slaves;
    for (const std::string &s : bond.slaves)
        slaves += (slaves.empty() ? "" : " ") + s;
    write_file(sys + "slaves", slaves.empty() ? "" : slaves + "\n", 0444);
    std::string status = "/proc/net/bonding/" + bond.name;
    if (!bond.status_file) {
        unlink(status.c_str());
        return;
    }
    std::string text = "Ethernet Channel Bonding Driver: v3.2.5 (March 21, 2008)\n\n"
                       "Bonding Mode: " + bond.mode + "\nMII Status: up\nMII Polling Interval (ms): 100\n"
                       "Up Delay (ms): 100\nDown Delay (ms): 0\n";
    if (bond.mode == kMode8023ad) {
        text += "\n802.3ad info\nLACP rate: fast\nActive Aggregator Info:\n\tAggregator ID: 1\n"
                "\tNumber of ports: " + std::to_string(bond.slaves.size()) + "\n\tActor Key: 17\n\tPartner Key: 1\n";
        if (bond.partner_mac)
            text += "\tPartner Mac Address: " + *bond.partner_mac + "\n";
    }
    for (const std::string &s : bond.slaves)
        text += "\nSlave Interface: " + s + "\nMII Status: up\nLink Failure Count: 0\n";
    write_file(status, text, 0444);
}

void remove_bond(const std::string &name)
{
    std::string sys = "/sys/class/net/" + name + "/bonding/";
    unlink((sys + "mode").c_str());
    unlink((sys + "slaves").c_str());
    rmdir(sys.c_str());
    rmdir(("/sys/class/net/" + name).c_str());
    unlink(("/proc/net/bonding/" + name).c_str());
}

std::string ifcfg_path(const std::string &name)
{
    return std::string(kScriptsDir) + "/ifcfg-" + name;
}

void write_ifcfg(const std::string &name, const std::string &content)
{
    write_file(ifcfg_path(name), content);
}

std::map<std::string, std::string> network_scripts()
{
    return folder_files(kScriptsDir);
}

void install_rc_network()
{
    // Numbered copies: the n-th call (from 0) leaves its view of the ifcfg files in
    // /.korvsim/rc.network.n/.
    std::string script = std::string("#!/bin/sh\n") +
                         "# The device tree's network scripts: every call is recorded.\n"
                         "log=" + kRcLog + "\n"
                         "n=0\n"
                         "[ -f \"$log\" ] && n=$(grep -c '' \"$log\")\n"
                         "echo \"$*\" >> \"$log\"\n"
                         "mkdir -p \"" + kRcCopies + "$n\"\n"
                         "cp -p " + kScriptsDir + "/* \"" + kRcCopies + "$n/\" 2>/dev/null\n"
                         "exit 0\n";
    write_file("/etc/rc.network", script, 0755);
    make_dirs(kScriptsDir);
}

std::vector<RcNetworkCall> rc_network_calls()
{
    std::vector<RcNetworkCall> calls;
    std::istringstream in(read_file(kRcLog));
    for (std::string line; std::getline(in, line);) {
        RcNetworkCall call;
        call.args = line;
        call.scripts = folder_files(kRcCopies + std::to_string(calls.size()));
        calls.push_back(call);
    }
    return calls;
}

void build_bonded_network(const std::string &mode)
{
    NetInterface eth0 = ethernet("eth0"), eth1 = ethernet("eth1");
    eth0.flags |= kIfSlave;
    eth1.flags |= kIfSlave;
    NetInterface bond0 = ethernet("bond0", "192.168.1.20");
    bond0.flags |= kIfMaster;
    bond0.hwaddr = "00:11:32:0a:0b:0c";
    eth0.hwaddr = bond0.hwaddr;  // the bond gives its ports one address
    eth1.hwaddr = bond0.hwaddr;
    set_network({loopback(), eth0, eth1, bond0});
    Bond bond;
    bond.mode = mode;
    bond.slaves = {"eth0", "eth1"};
    if (mode == kMode8023ad)
        bond.partner_mac = "00:1b:21:3c:4d:5e";
    set_bond(bond);
    write_ifcfg("bond0", "DEVICE=bond0\nONBOOT=yes\nBOOTPROTO=static\nIPADDR=192.168.1.20\n"
                         "NETMASK=255.255.255.0\nUSERCTL=no\nBONDING_OPTS=" + bonding_opts(mode) + "\n");
    for (const char *port : {"eth0", "eth1"})
        write_ifcfg(port, std::string("DEVICE=") + port + "\nONBOOT=yes\nBOOTPROTO=none\nUSERCTL=no\n"
                          "MASTER=bond0\nSLAVE=yes\n");
    install_rc_network();
}

void build_sample_network()
{
    set_network({loopback(), ethernet("eth0", "192.168.1.20")});
    write_ifcfg("eth0", "DEVICE=eth0\nONBOOT=yes\nBOOTPROTO=static\nIPADDR=192.168.1.20\n"
                        "NETMASK=255.255.255.0\nGATEWAY=192.168.1.1\n");
    install_rc_network();
}

}  // namespace korvtest
