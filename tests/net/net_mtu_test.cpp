// The link of a port, its running MTU, and the MTU setting stored in the device settings.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "device_net.h"
#include "korv/file.h"
#include "korv/simctl.h"
#include "korvtest.h"
#include "net_test.h"

using namespace korvtest;
using namespace nettest;
namespace ctl = korvsim::ctl;

namespace {

double now_seconds()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void one_port(std::optional<int> speed, int duplex = 1, int mtu = 1500)
{
    NetInterface eth0 = ethernet("eth0", "192.168.1.20");
    eth0.speed = speed;
    eth0.duplex = duplex;
    eth0.mtu = mtu;
    set_network({loopback(), eth0});
}

int running_mtu(const std::string &name)
{
    auto nif = ctl::interface(name);
    return nif ? nif->mtu : -1;
}

const char kSettings[] = "/etc/korvinfo.conf";

struct LinkCase {
    const char *name;
    int speed, duplex;           // what the driver reports
    int wantSpeed, wantDuplex;
};

const LinkCase kLinkCases[] = {
    {"Ten", 10, 0, 10, 0},
    {"Hundred", 100, 1, 100, 1},
    {"Gigabit", 1000, 1, 1000, 1},
    {"TenGigabit", 10000, 1, -1, 1},
    {"Unknown", 65535, 255, -1, -1},
    {"DuplexTwo", 100, 2, 100, -1},
};

void PrintTo(const LinkCase &c, std::ostream *os)
{
    *os << c.name;
}

class EthInfo : public testing::TestWithParam<LinkCase> {};

TEST_P(EthInfo, SpeedDuplexAndMtu)
{
    const LinkCase &c = GetParam();
    one_port(c.speed, c.duplex, 9000);
    KORVNETETHINFO link{77, 77, 77};
    ASSERT_EQ(0, KORVNetGetEthInfo(&link, "eth0"));
    EXPECT_EQ(c.wantSpeed, link.speed);
    EXPECT_EQ(c.wantDuplex, link.duplex);
    EXPECT_EQ(9000, link.mtu);
}

INSTANTIATE_TEST_SUITE_P(Links, EthInfo, testing::ValuesIn(kLinkCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(EthInfoNoEthtool, SpeedAndDuplexStayAsTheCallerSetThem)
{
    one_port(std::nullopt);
    KORVNETETHINFO link{77, 5, 0};
    ASSERT_EQ(0, KORVNetGetEthInfo(&link, "eth0"));
    EXPECT_EQ(77, link.speed);
    EXPECT_EQ(5, link.duplex);
    EXPECT_EQ(1500, link.mtu);
}

TEST(EthInfoFailures, LinkOrMtuCannotBeRead)
{
    one_port(1000);
    KORVNETETHINFO link{77, 77, 77};
    ctl::fail_request("net:eth0", "SIOCETHTOOL", EIO);
    EXPECT_EQ(-1, KORVNetGetEthInfo(&link, "eth0"));
    EXPECT_EQ(77, link.speed);
    EXPECT_EQ(77, link.mtu);  // given up at once

    EXPECT_EQ(-1, KORVNetGetEthInfo(&link, "eth9"));  // no such interface

    ctl::fail_request("net:eth0", "SIOCGIFMTU", EIO);
    EXPECT_EQ(-1, KORVNetGetEthInfo(&link, "eth0"));
    EXPECT_EQ(1000, link.speed);
    EXPECT_EQ(-1, link.mtu);
}

TEST(InterfaceNames, FifteenCharactersFitSixteenDoNot)
{
    NetInterface vlan = ethernet("eth0.1234567890");
    vlan.mtu = 4000;
    set_network({vlan});
    KORVNETETHINFO link{};
    EXPECT_EQ(0, KORVNetGetEthInfo(&link, "eth0.1234567890"));
    EXPECT_EQ(4000, KORVNetGetMTUSetting("eth0.1234567890"));
    EXPECT_EQ(0, KORVNetSetMTUEth("4002", "eth0.1234567890"));
    EXPECT_EQ(4002, running_mtu("eth0.1234567890"));

    // One more character would be cut by the kernel to the name above: refused, nothing asked.
    ctl::clear_requests();
    const char *longer = "eth0.1234567890X";
    mark_error();
    EXPECT_EQ(-1, KORVNetGetEthInfo(&link, longer));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    mark_error();
    EXPECT_EQ(-1, KORVNetSetMTUEth("1500", longer));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    syslog_clear();
    EXPECT_EQ(-1, KORVNetGetMTUSetting(longer));
    EXPECT_TRUE(syslog_contains("interface name is too long")) << syslog_dump();
    EXPECT_TRUE(ctl::requests().empty());
    EXPECT_EQ(4002, running_mtu("eth0.1234567890"));

    mark_error();
    EXPECT_EQ(-1, KORVNetGetMTUSetting(nullptr));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    EXPECT_EQ(-1, KORVNetGetEthInfo(nullptr, "eth0"));
    EXPECT_EQ(-1, KORVNetSetMTUEth(nullptr, "eth0"));
}

TEST(MtuSetting, RunningInterface)
{
    one_port(1000);
    EXPECT_EQ(1500, KORVNetGetMTUSetting("eth0"));
    EXPECT_EQ(0, KORVNetGetMTUSetting("eth9"));  // cannot be asked
    EXPECT_EQ(0, KORVNetSetMTUEth("9000", "eth0"));
    EXPECT_EQ(9000, KORVNetGetMTUSetting("eth0"));
    mark_error();
    EXPECT_EQ(-1, KORVNetSetMTUEth("jumbo", "eth0"));  // atoi: 0, which the kernel refuses
    EXPECT_EQ(-1, KORVNetSetMTUEth("9001", "eth0"));   // above what the port takes
    EXPECT_EQ(kUntouched, KORLErrGet());
    EXPECT_EQ(9000, running_mtu("eth0"));
}

struct KeyCase {
    const char *interface;
    const char *key;
};

const KeyCase kKeyCases[] = {
    {"eth0", "eth0_mtu"},
    {"bond0", "bond0_mtu"},
    {"eth0.100", "eth0.100_mt"},  // cut to 11 characters
    {"eth0.1234567890", "eth0.123456"},
};

void PrintTo(const KeyCase &c, std::ostream *os)
{
    *os << label(c.interface);
}

class MtuKey : public testing::TestWithParam<KeyCase> {};

TEST_P(MtuKey, StoredInTheDeviceSettings)
{
    const KeyCase &c = GetParam();
    write_file(kSettings, "hostname=\"vaultmere\"\n");
    EXPECT_EQ(0, KORVNetConfSetMTUValue("9000", c.interface));
    EXPECT_EQ(std::string("hostname=\"vaultmere\"\n") + c.key + "=\"9000\"\n", read_file(kSettings));
    EXPECT_EQ(0, KORVNetConfSetMTUValue("1500", c.interface));
    EXPECT_EQ(std::string("hostname=\"vaultmere\"\n") + c.key + "=\"1500\"\n", read_file(kSettings));
}

INSTANTIATE_TEST_SUITE_P(Keys, MtuKey, testing::ValuesIn(kKeyCases),
                         [](const auto &info) { return label(info.param.interface); });

TEST(MtuKeyFailures, ArgumentsAndTheLock)
{
    mark_error();
    EXPECT_EQ(-1, KORVNetConfSetMTUValue(nullptr, "eth0"));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    EXPECT_EQ(-1, KORVNetConfSetMTUValue("1500", nullptr));

    // A value that would break its line is refused by the writer; the lock is given back.
    write_file(kSettings, "eth0_mtu=\"1500\"\n");
    syslog_clear();
    EXPECT_EQ(-1, KORVNetConfSetMTUValue("1500\nadmin=1", "eth0"));
    EXPECT_TRUE(syslog_contains("Failed to set MTU value(D00)")) << syslog_dump();
    EXPECT_EQ("eth0_mtu=\"1500\"\n", read_file(kSettings));
    EXPECT_EQ(0, ErrKORLFileLock(KORL_LOCK_KORVINFO | LOCK_EX | LOCK_NB, 1));
    ErrKORLFileUnlock(KORL_LOCK_KORVINFO);
}

TEST(MtuKeyFailures, AnotherProcessHoldsTheSettingsLock)
{
    write_file(kSettings, "eth0_mtu=\"1500\"\n");
    ASSERT_EQ(0, KORLFileLockCheckDir());
    int ready[2];
    ASSERT_EQ(0, pipe(ready));
    pid_t holder = fork();
    if (holder == 0) {
        int fd = open("/tmp/lock/lock_korvinfo", O_RDONLY);
        char c = flock(fd, LOCK_SH) == 0 ? 'y' : 'n';
        if (write(ready[1], &c, 1) != 1)
            _exit(1);
        sleep(30);
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(1, read(ready[0], &c, 1));
    ASSERT_EQ('y', c);
    syslog_clear();
    EXPECT_EQ(-1, KORVNetConfSetMTUValue("9000", "eth0"));
    EXPECT_TRUE(syslog_contains("Failed to lock korvinfo(400)")) << syslog_dump();
    EXPECT_EQ("eth0_mtu=\"1500\"\n", read_file(kSettings));
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
}

TEST(SetMtu, SlowLinkOnlyStoresTheSetting)
{
    one_port(100);
    write_file(kSettings, "eth0_mtu=\"1500\"\n");
    ctl::clear_requests();
    EXPECT_EQ(0, KORVNetSetMTUValue("9000", "eth0"));
    EXPECT_EQ("eth0_mtu=\"9000\"\n", read_file(kSettings));
    EXPECT_EQ(1500, running_mtu("eth0"));
    EXPECT_TRUE(ctl::requests("net:eth0", "SIOCSIFMTU").empty());
}

TEST(SetMtu, PortWithoutEthtoolOnlyStoresTheSetting)
{
    one_port(std::nullopt);
    EXPECT_EQ(0, KORVNetSetMTUValue("4000", "eth0"));
    EXPECT_EQ("eth0_mtu=\"4000\"\n", read_file(kSettings));
    EXPECT_EQ(1500, running_mtu("eth0"));
}

TEST(SetMtu, UnreadableLinkStoresTheSettingAndFails)
{
    one_port(1000);
    ctl::fail_request("net:eth0", "SIOCETHTOOL", EIO);
    syslog_clear();
    EXPECT_EQ(-1, KORVNetSetMTUValue("9000", "eth0"));
    EXPECT_EQ("eth0_mtu=\"9000\"\n", read_file(kSettings));
    EXPECT_EQ(1500, running_mtu("eth0"));  // taken as 100 Mbit/s: not changed live
    EXPECT_TRUE(syslog_contains("Can not get EthInfo(")) << syslog_dump();

    mark_error();
    EXPECT_EQ(-1, KORVNetSetMTUValue(nullptr, "eth0"));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    EXPECT_EQ(-1, KORVNetSetMTUValue("1500", nullptr));
}

TEST(SetMtuGigabit, ChangesTheLinkAtOnceWaitsThenStores)
{
    one_port(1000);
    write_file(kSettings, "eth0_mtu=\"1500\"\n");
    double start = now_seconds();
    EXPECT_EQ(0, KORVNetSetMTUValue("9000", "eth0"));
    EXPECT_GE(now_seconds() - start, 4.9);
    EXPECT_EQ(9000, running_mtu("eth0"));
    EXPECT_EQ("eth0_mtu=\"9000\"\n", read_file(kSettings));
}

TEST(SetMtuGigabit, FailedLiveChangeStillStoresTheSetting)
{
    one_port(1000);
    ctl::fail_request("net:eth0", "SIOCSIFMTU", EBUSY);
    syslog_clear();
    EXPECT_EQ(-1, KORVNetSetMTUValue("9000", "eth0"));
    EXPECT_EQ(1500, running_mtu("eth0"));
    EXPECT_EQ("eth0_mtu=\"9000\"\n", read_file(kSettings));
    EXPECT_TRUE(syslog_contains("Failed to ifconfig MTU Value(0x")) << syslog_dump();
}

}  // namespace
