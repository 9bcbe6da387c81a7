// The simulated network: interface requests answered from the settings, per interface, with the
// request log and injected faults; MTU changes that last across processes.
#include <errno.h>
#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "korv/platform.h"
#include "korv/simctl.h"
#include "korvtest.h"

namespace ctl = korvsim::ctl;

namespace {

struct ifreq request_for(const char *name)
{
    struct ifreq ifr;
    memset(&ifr, 0, sizeof ifr);
    strncpy(ifr.ifr_name, name, IFNAMSIZ - 1);
    return ifr;
}

class SimNet : public testing::Test {
protected:
    void SetUp() override
    {
        ctl::Interface eth0;
        eth0.name = "eth0";
        eth0.hwaddr = "00:11:32:0a:0b:0c";
        eth0.addr = "192.168.1.20";
        eth0.netmask = "255.255.255.0";
        eth0.speed = 1000;
        ASSERT_TRUE(ctl::set_interface(eth0));
        ctl::Interface bond0;
        bond0.name = "bond0";
        bond0.flags = 0x1443;
        ASSERT_TRUE(ctl::set_interface(bond0));
        fd_ = korv_plat_socket(AF_INET, SOCK_DGRAM, 0);
        ASSERT_GE(fd_, 0);
    }
    void TearDown() override
    {
        if (fd_ >= 0)
            korv_plat_close(fd_);
    }
    int ask(unsigned long request, struct ifreq *ifr) { return korv_plat_ioctl(fd_, request, ifr); }

    int fd_ = -1;
};

TEST_F(SimNet, InterfaceRequestsAnswerFromTheSettings)
{
    struct ifreq ifr = request_for("eth0");
    ASSERT_EQ(0, ask(SIOCGIFFLAGS, &ifr));
    EXPECT_EQ(0x1043, static_cast<unsigned short>(ifr.ifr_flags));
    ifr = request_for("eth0");
    ASSERT_EQ(0, ask(SIOCGIFHWADDR, &ifr));
    const unsigned char mac[6] = {0x00, 0x11, 0x32, 0x0a, 0x0b, 0x0c};
    EXPECT_EQ(0, memcmp(mac, ifr.ifr_hwaddr.sa_data, 6));
    ifr = request_for("eth0");
    ASSERT_EQ(0, ask(SIOCGIFADDR, &ifr));
    struct sockaddr_in in;
    memcpy(&in, &ifr.ifr_addr, sizeof in);
    EXPECT_EQ(AF_INET, in.sin_family);
    EXPECT_EQ(htonl(0xC0A80114), in.sin_addr.s_addr);
    ifr = request_for("eth0");
    ASSERT_EQ(0, ask(SIOCGIFNETMASK, &ifr));
    memcpy(&in, &ifr.ifr_netmask, sizeof in);
    EXPECT_EQ(htonl(0xFFFFFF00), in.sin_addr.s_addr);
    ifr = request_for("eth0");
    ASSERT_EQ(0, ask(SIOCGIFMTU, &ifr));
    EXPECT_EQ(1500, ifr.ifr_mtu);

    // No address is EADDRNOTAVAIL; an unknown interface ENODEV; an unknown request ENOTTY.
    ifr = request_for("bond0");
    errno = 0;
    EXPECT_EQ(-1, ask(SIOCGIFADDR, &ifr));
    EXPECT_EQ(EADDRNOTAVAIL, errno);
    ifr = request_for("eth9");
    EXPECT_EQ(-1, ask(SIOCGIFFLAGS, &ifr));
    EXPECT_EQ(ENODEV, errno);
    ifr = request_for("eth0");
    EXPECT_EQ(-1, ask(SIOCGIFTXQLEN, &ifr));
    EXPECT_EQ(ENOTTY, errno);
}

TEST_F(SimNet, EthtoolGivesSpeedAndDuplexOrIsNotSupported)
{
    struct ethtool_cmd cmd {};
    cmd.cmd = ETHTOOL_GSET;
    struct ifreq ifr = request_for("eth0");
    ifr.ifr_data = reinterpret_cast<char *>(&cmd);
    ASSERT_EQ(0, ask(SIOCETHTOOL, &ifr));
    EXPECT_EQ(1000u, ethtool_cmd_speed(&cmd));
    EXPECT_EQ(DUPLEX_FULL, cmd.duplex);

    ctl::Interface fast = *ctl::interface("eth0");
    fast.speed = 100000;
    fast.duplex = 0;
    ASSERT_TRUE(ctl::set_interface(fast));
    memset(&cmd, 0, sizeof cmd);
    cmd.cmd = ETHTOOL_GSET;
    ASSERT_EQ(0, ask(SIOCETHTOOL, &ifr));
    EXPECT_EQ(100000u, ethtool_cmd_speed(&cmd));  // the high half in speed_hi
    EXPECT_EQ(DUPLEX_HALF, cmd.duplex);

    struct ifreq bond = request_for("bond0");
    memset(&cmd, 0, sizeof cmd);
    cmd.cmd = ETHTOOL_GSET;
    bond.ifr_data = reinterpret_cast<char *>(&cmd);
    errno = 0;
    EXPECT_EQ(-1, ask(SIOCETHTOOL, &bond));
    EXPECT_EQ(EOPNOTSUPP, errno);
    cmd.cmd = ETHTOOL_GDRVINFO;
    EXPECT_EQ(-1, ask(SIOCETHTOOL, &ifr));
    EXPECT_EQ(EOPNOTSUPP, errno);
}

TEST_F(SimNet, MtuChangesLastAcrossProcesses)
{
    pid_t child = fork();
    if (child == 0) {
        int fd = korv_plat_socket(AF_INET, SOCK_DGRAM, 0);
        struct ifreq ifr = request_for("eth0");
        ifr.ifr_mtu = 9000;
        _exit(fd >= 0 && korv_plat_ioctl(fd, SIOCSIFMTU, &ifr) == 0 ? 0 : 1);
    }
    int status = -1;
    waitpid(child, &status, 0);
    ASSERT_EQ(0, status);
    struct ifreq ifr = request_for("eth0");
    ASSERT_EQ(0, ask(SIOCGIFMTU, &ifr));
    EXPECT_EQ(9000, ifr.ifr_mtu);
    EXPECT_EQ(9000, ctl::interface("eth0")->mtu);

    // What the port cannot take is refused and changes nothing.
    for (int mtu : {0, 67, 9001, -1500}) {
        ifr = request_for("eth0");
        ifr.ifr_mtu = mtu;
        errno = 0;
        EXPECT_EQ(-1, ask(SIOCSIFMTU, &ifr)) << mtu;
        EXPECT_EQ(EINVAL, errno);
    }
    EXPECT_EQ(9000, ctl::interface("eth0")->mtu);
    ifr = request_for("eth0");
    ifr.ifr_mtu = 68;
    EXPECT_EQ(0, ask(SIOCSIFMTU, &ifr));
}

TEST_F(SimNet, TheKernelReadsAtMostFifteenBytesOfTheName)
{
    struct ifreq ifr;
    memset(&ifr, 'x', sizeof ifr.ifr_name);
    memcpy(ifr.ifr_name, "eth0", 4);
    EXPECT_EQ(-1, ask(SIOCGIFFLAGS, &ifr));
    EXPECT_EQ(ENODEV, errno);
    auto log = ctl::requests("", "SIOCGIFFLAGS");
    ASSERT_FALSE(log.empty());
    EXPECT_EQ("net:eth0xxxxxxxxxxx", log.back().device);
}

TEST_F(SimNet, RequestLogAndFaultsPerInterface)
{
    ctl::fail_request("net:eth0", "SIOCGIFFLAGS", EIO);  // once
    ctl::fail_request("net:bond0", "SIOCGIFMTU", ENETDOWN, false);
    struct ifreq ifr = request_for("eth0");
    errno = 0;
    EXPECT_EQ(-1, ask(SIOCGIFFLAGS, &ifr));
    EXPECT_EQ(EIO, errno);
    EXPECT_EQ(0, ask(SIOCGIFFLAGS, &ifr));
    for (int i = 0; i < 2; ++i) {
        struct ifreq bond = request_for("bond0");
        EXPECT_EQ(-1, ask(SIOCGIFMTU, &bond));
        EXPECT_EQ(ENETDOWN, errno);
    }
    ifr = request_for("eth0");
    ifr.ifr_mtu = 1400;
    errno = 1234;
    EXPECT_EQ(0, ask(SIOCSIFMTU, &ifr));
    EXPECT_EQ(1234, errno);  // a success leaves errno as it was

    auto log = ctl::requests();
    ASSERT_GE(log.size(), 6u);
    EXPECT_EQ("net SOCKET AF_INET,SOCK_DGRAM -> " + std::to_string(fd_), log[0].line);
    EXPECT_EQ("net:eth0 SIOCGIFFLAGS - -> -1 EIO", log[1].line);
    EXPECT_EQ("net:eth0 SIOCGIFFLAGS - -> 0", log[2].line);
    EXPECT_EQ("net:bond0 SIOCGIFMTU - -> -1 ENETDOWN", log[3].line);
    EXPECT_EQ("net:eth0 SIOCSIFMTU mtu=1400 -> 0", log.back().line);

    korv_plat_close(fd_);
    fd_ = -1;
    EXPECT_EQ("net CLOSE - -> 0", ctl::requests().back().line);
}

TEST(SimNetSocket, FaultsAndOtherSockets)
{
    ctl::fail_request("net", "SOCKET", EMFILE);
    errno = 0;
    EXPECT_EQ(-1, korv_plat_socket(AF_INET, SOCK_DGRAM, 0));
    EXPECT_EQ(EMFILE, errno);
    int fd = korv_plat_socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(0, korv_plat_close(fd));

    // A socket of another kind is the sandbox's own and is not logged.
    ctl::clear_requests();
    int unix_fd = korv_plat_socket(AF_UNIX, SOCK_DGRAM, 0);
    ASSERT_GE(unix_fd, 0);
    EXPECT_EQ(0, korv_plat_close(unix_fd));
    EXPECT_TRUE(ctl::requests().empty());
}

TEST(SimNetControl, SettingsRoundTripAndRefuseMalformedOnes)
{
    ctl::Interface v;
    v.name = "eth0.100";
    v.flags = 0x9043;
    v.hwaddr = "00:11:32:AA:bb:0c";
    v.addr = "10.1.2.3";
    v.mtu = 4000;
    v.mtu_max = 16110;
    v.duplex = 255;
    ASSERT_TRUE(ctl::set_interface(v));
    auto got = ctl::interface("eth0.100");
    ASSERT_TRUE(got);
    EXPECT_EQ(0x9043, got->flags);
    EXPECT_EQ("00:11:32:aa:bb:0c", got->hwaddr);
    EXPECT_EQ("10.1.2.3", got->addr);
    EXPECT_EQ("", got->netmask);
    EXPECT_EQ(4000, got->mtu);
    EXPECT_EQ(16110, got->mtu_max);
    EXPECT_FALSE(got->speed);
    EXPECT_EQ(255, got->duplex);

    for (auto change : {+[](ctl::Interface &i) { i.name = ""; }, +[](ctl::Interface &i) { i.name = "abcdefghijklmnop"; },
                        +[](ctl::Interface &i) { i.hwaddr = "00:11:32"; }, +[](ctl::Interface &i) { i.addr = "10.1.2"; },
                        +[](ctl::Interface &i) { i.netmask = "255.255.255.256"; }}) {
        ctl::Interface bad = v;
        bad.name = "eth1";
        change(bad);
        EXPECT_FALSE(ctl::set_interface(bad));
    }
    EXPECT_FALSE(ctl::interface("eth1"));
    EXPECT_TRUE(ctl::remove_interface("eth0.100"));
    EXPECT_TRUE(ctl::interfaces().empty());
}

}  // namespace
