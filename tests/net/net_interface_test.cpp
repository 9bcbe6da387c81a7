// The interface list by kind, and the IPv4 address of one interface.
#include <arpa/inet.h>
#include <errno.h>
#include <string.h>

#include <string>
#include <vector>

#include "device_net.h"
#include "korv/simctl.h"
#include "korvtest.h"
#include "net_test.h"

using namespace korvtest;
using namespace nettest;
namespace ctl = korvsim::ctl;

namespace {

constexpr int kFlags8000 = 0x8000;  // a flag in the top bit, which the record widens with its sign

// Eight interfaces in "/proc/net/dev" order, each of a kind the lister must tell apart.
void build_mixed_network()
{
    NetInterface eth1 = ethernet("eth1"), eth0 = ethernet("eth0");
    eth1.flags |= kIfSlave;
    eth0.flags |= kIfSlave;
    NetInterface bond0 = ethernet("bond0", "192.168.1.20");
    bond0.flags |= kIfMaster;
    bond0.hwaddr = "00:11:32:0a:0b:0c";
    NetInterface eth2 = ethernet("eth2");  // up, no carrier, no address
    eth2.flags = kIfUp | kIfBroadcast | kIfMulticast;
    eth2.hwaddr = "00:11:32:00:00:02";
    NetInterface eth3 = ethernet("eth3", "10.0.0.3");  // down
    eth3.flags = kIfBroadcast | kIfMulticast;
    NetInterface ppp0 = ethernet("ppp0", "10.64.0.1");
    ppp0.flags = kIfUp | kIfPointToPoint | kIfRunning;
    NetInterface eth4 = ethernet("eth4", "172.16.5.4");
    eth4.flags |= kFlags8000;
    set_network({loopback(), eth1, eth0, bond0, eth2, eth3, ppp0, eth4});
}

std::vector<std::string> names_of(const KORVNETIFINFO *r, int n)
{
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i)
        out.emplace_back(r[i].szIfName);
    return out;
}

struct KindCase {
    const char *name;
    int kind;
    std::vector<std::string> listed;
};

const KindCase kKindCases[] = {
    {"NoMasters", 1, {"eth0", "eth1", "eth2", "eth4"}},
    {"NoSlaves", 2, {"bond0", "eth2", "eth4"}},
    {"MastersAndSlaves", 3, {"bond0", "eth0", "eth1", "eth2", "eth4"}},
    {"AnyOtherKind", 17, {"bond0", "eth0", "eth1", "eth2", "eth4"}},
    {"NegativeKind", -1, {"bond0", "eth0", "eth1", "eth2", "eth4"}},
};

void PrintTo(const KindCase &c, std::ostream *os)
{
    *os << c.name;
}

class InterfaceKinds : public testing::TestWithParam<KindCase> {};

TEST_P(InterfaceKinds, ListsTheUpInterfacesSortedByName)
{
    const KindCase &c = GetParam();
    build_mixed_network();
    KORVNETIFINFO r[8];
    memset(r, 0x5A, sizeof r);
    int n = KORVNetGetInterfaceInfo(r, 8, c.kind);
    ASSERT_EQ(static_cast<int>(c.listed.size()), n);
    EXPECT_EQ(c.listed, names_of(r, n));
    // Counting alone gives the same number and touches nothing.
    EXPECT_EQ(n, KORVNetGetInterfaceInfo(nullptr, 8, c.kind));
}

INSTANTIATE_TEST_SUITE_P(Kinds, InterfaceKinds, testing::ValuesIn(kKindCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(InterfaceRecords, FlagsLinkHardwareAndAddress)
{
    build_mixed_network();
    KORVNETIFINFO r[8];
    memset(r, 0, sizeof r);
    for (auto &rec : r)
        strcpy(rec.szIP, "untouched");
    ASSERT_EQ(5, KORVNetGetInterfaceInfo(r, 8, 3));

    EXPECT_STREQ("bond0", r[0].szIfName);
    EXPECT_EQ(kEthernetUp | kIfMaster, r[0].ifFlags);
    EXPECT_EQ(2, r[0].linkState);
    const unsigned char bondMac[6] = {0x00, 0x11, 0x32, 0x0a, 0x0b, 0x0c};
    EXPECT_EQ(0, memcmp(bondMac, r[0].mac, 6));
    EXPECT_STREQ("192.168.1.20", r[0].szIP);

    EXPECT_STREQ("eth1", r[2].szIfName);
    EXPECT_STREQ("untouched", r[2].szIP);  // a slave carries no address of its own

    // Up without carrier: listed with link state 0; without an address its text stays.
    EXPECT_STREQ("eth2", r[3].szIfName);
    EXPECT_EQ(kIfUp | kIfBroadcast | kIfMulticast, r[3].ifFlags);
    EXPECT_EQ(0, r[3].linkState);
    const unsigned char eth2Mac[6] = {0x00, 0x11, 0x32, 0x00, 0x00, 0x02};
    EXPECT_EQ(0, memcmp(eth2Mac, r[3].mac, 6));
    EXPECT_STREQ("untouched", r[3].szIP);

    // The 16-bit flags are widened with their sign.
    EXPECT_STREQ("eth4", r[4].szIfName);
    EXPECT_EQ(static_cast<int>(static_cast<int16_t>(kEthernetUp | kFlags8000)), r[4].ifFlags);
    EXPECT_LT(r[4].ifFlags, 0);
    EXPECT_STREQ("172.16.5.4", r[4].szIP);
}

TEST(InterfaceCount, MaxTakesInterfacesInFileOrderBeforeTheSort)
{
    build_mixed_network();
    KORVNETIFINFO r[8];
    memset(r, 0, sizeof r);
    // File order: lo, eth1, eth0, bond0, ...: the first two taken are eth1 and eth0.
    ASSERT_EQ(2, KORVNetGetInterfaceInfo(r, 2, 3));
    EXPECT_EQ((std::vector<std::string>{"eth0", "eth1"}), names_of(r, 2));
    EXPECT_EQ('\0', r[2].szIfName[0]);  // nothing past max
    EXPECT_EQ(0, KORVNetGetInterfaceInfo(r, 0, 2));
    EXPECT_EQ(2, KORVNetGetInterfaceInfo(nullptr, 2, 2));
}

TEST(InterfaceCount, RefusedArguments)
{
    build_mixed_network();
    KORVNETIFINFO r[8];
    for (auto [max, kind] : {std::pair{8, 0}, std::pair{8, 4}, std::pair{-1, 2}}) {
        mark_error();
        EXPECT_EQ(-1, KORVNetGetInterfaceInfo(r, max, kind)) << max << " " << kind;
        EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    }
    // Refused before the interfaces are asked.
    EXPECT_TRUE(ctl::requests("net", "SOCKET").empty());
}

TEST(InterfaceTable, TakesAtMostEightNamesEachAtMostFifteenBytes)
{
    std::vector<NetInterface> ifs;
    for (int i = 0; i < 10; ++i)
        ifs.push_back(ethernet("eth" + std::to_string(i)));
    set_network(ifs);
    KORVNETIFINFO r[10];
    memset(r, 0, sizeof r);
    EXPECT_EQ(8, KORVNetGetInterfaceInfo(r, 10, 2));
    EXPECT_STREQ("eth7", r[7].szIfName);
    EXPECT_EQ('\0', r[8].szIfName[0]);

    // A name no kernel gives is skipped, never cut into another interface's name.
    set_network({ethernet("eth0"), ethernet("abcdefghijklmno")});
    write_proc_net_dev({"abcdefghijklmnop", "eth0", "abcdefghijklmno"});
    memset(r, 0, sizeof r);
    ASSERT_EQ(2, KORVNetGetInterfaceInfo(r, 10, 2));
    EXPECT_STREQ("abcdefghijklmno", r[0].szIfName);
    EXPECT_STREQ("eth0", r[1].szIfName);
    for (const auto &req : ctl::requests("", "SIOCGIFFLAGS"))
        EXPECT_NE("net:abcdefghijklmnop", req.device);
}

TEST(InterfaceTable, LinesWithoutANameAndLongLines)
{
    set_network({ethernet("eth0", "10.1.1.1"), ethernet("eth1")});
    std::string dev = "Inter-|   Receive\n face |bytes\n" + std::string(600, ' ') + "eth0: 1 2 3\n" +
                      "no colon here\n\t eth1:" + std::string(2000, '7') + "\n   : 1 2\n";
    write_file("/proc/net/dev", dev);
    KORVNETIFINFO r[8];
    memset(r, 0, sizeof r);
    ASSERT_EQ(2, KORVNetGetInterfaceInfo(r, 8, 2));
    EXPECT_EQ((std::vector<std::string>{"eth0", "eth1"}), names_of(r, 2));
}

TEST(InterfaceFailures, RequestsThatFailSkipOrLeaveFields)
{
    build_mixed_network();
    ctl::fail_request("net:eth4", "SIOCGIFFLAGS", ENODEV, false);
    ctl::fail_request("net:bond0", "SIOCGIFHWADDR", EIO, false);
    ctl::fail_request("net:bond0", "SIOCGIFADDR", EIO, false);
    KORVNETIFINFO r[8];
    memset(r, 0, sizeof r);
    strcpy(r[0].szIP, "kept");
    memset(r[0].mac, 0xEE, 6);
    ASSERT_EQ(2, KORVNetGetInterfaceInfo(r, 8, 2));  // eth4 cannot be asked: skipped
    EXPECT_EQ((std::vector<std::string>{"bond0", "eth2"}), names_of(r, 2));
    EXPECT_STREQ("kept", r[0].szIP);
    const unsigned char kept[6] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(0, memcmp(kept, r[0].mac, 6));
}

TEST(InterfaceFailures, NoDeviceFileOrNoSocket)
{
    build_mixed_network();
    ctl::fail_request("net", "SOCKET", EMFILE);
    EXPECT_EQ(-1, KORVNetGetInterfaceInfo(nullptr, 8, 2));
    EXPECT_EQ(5, KORVNetGetInterfaceInfo(nullptr, 8, 3));  // the fault was for one call
    unlink("/proc/net/dev");
    EXPECT_EQ(-1, KORVNetGetInterfaceInfo(nullptr, 8, 2));
}

TEST(InterfaceSockets, EveryCallClosesItsSocket)
{
    build_mixed_network();
    ctl::clear_requests();
    KORVNETIFINFO r[8];
    uint32_t a, m;
    KORVNETETHINFO link{};
    KORVNetGetInterfaceInfo(r, 8, 2);
    KORVNetGetIfAddr("bond0", &a, &m);
    KORVNetGetIfAddr("eth2", &a, &m);  // fails at the address
    KORVNetGetEthInfo(&link, "eth0");
    KORVNetGetMTUSetting("nosuch0");
    KORVNetSetMTUEth("1400", "eth0");
    auto opened = ctl::requests("net", "SOCKET");
    EXPECT_EQ(7u, opened.size());
    EXPECT_EQ(opened.size(), ctl::requests("net", "CLOSE").size());
}

TEST(IfAddr, AddressAndNetmaskInNetworkOrder)
{
    build_mixed_network();
    uint32_t addr = 0, mask = 0;
    ASSERT_EQ(1, KORVNetGetIfAddr("bond0", &addr, &mask));
    EXPECT_EQ(inet_addr("192.168.1.20"), addr);
    EXPECT_EQ(inet_addr("255.255.255.0"), mask);

    addr = mask = 7;
    mark_error();
    EXPECT_EQ(0, KORVNetGetIfAddr("eth2", &addr, &mask));  // no address
    EXPECT_EQ(0, KORVNetGetIfAddr("nosuch0", &addr, &mask));
    EXPECT_EQ(0, KORVNetGetIfAddr("abcdefghijklmnop", &addr, &mask));
    EXPECT_EQ(0, KORVNetGetIfAddr(nullptr, &addr, &mask));
    EXPECT_EQ(7u, addr);
    EXPECT_EQ(kUntouched, KORLErrGet());  // it records no code

    // Only the netmask fails: the address is already stored.
    ctl::fail_request("net:eth4", "SIOCGIFNETMASK", EIO);
    EXPECT_EQ(0, KORVNetGetIfAddr("eth4", &addr, &mask));
    EXPECT_EQ(inet_addr("172.16.5.4"), addr);
    EXPECT_EQ(7u, mask);
}

}  // namespace
