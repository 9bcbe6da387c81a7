// Changing link aggregation: the ifcfg files it leaves, the network scripts around the change,
// the refusals that stop nothing, and the undo of a change that fails.
#include <sys/stat.h>

#include <map>
#include <string>
#include <vector>

#include "device_net.h"
#include "korvtest.h"
#include "net_test.h"

using namespace korvtest;
using namespace nettest;

namespace {

using Files = std::map<std::string, std::string>;

const char kBond0Alb[] =
    "DEVICE=bond0\nONBOOT=yes\nBOOTPROTO=static\nIPADDR=192.168.1.20\nNETMASK=255.255.255.0\nUSERCTL=no\n"
    "BONDING_OPTS=\"mode=balance-alb use_carrier=0 miimon=100 updelay=100\"\n";
const char kEth0Slave[] = "DEVICE=eth0\nONBOOT=yes\nBOOTPROTO=none\nUSERCTL=no\nMASTER=bond0\nSLAVE=yes\n";
const char kEth1Slave[] = "DEVICE=eth1\nONBOOT=yes\nBOOTPROTO=none\nUSERCTL=no\nMASTER=bond0\nSLAVE=yes\n";

// The ports after a disable: eth0 has the bond's address settings, eth1 asks DHCP.
const char kEth0Standalone[] = "DEVICE=eth0\nONBOOT=yes\nBOOTPROTO=static\nIPADDR=192.168.1.20\nNETMASK=255.255.255.0\n";
const char kEth1Standalone[] = "DEVICE=eth1\nONBOOT=yes\nBOOTPROTO=dhcp\n";

// Enabled again from eth0's file; the keys the file lacked come in the hash's slot order.
const char kBond0ActiveBackup[] =
    "DEVICE=bond0\nONBOOT=yes\nBOOTPROTO=static\nIPADDR=192.168.1.20\nNETMASK=255.255.255.0\n"
    "BONDING_OPTS=\"mode=active-backup use_carrier=0 miimon=100 updelay=100 primary=eth0\"\nUSERCTL=no\n";
const char kEth0Enslaved[] = "DEVICE=eth0\nONBOOT=yes\nBOOTPROTO=none\nSLAVE=yes\nMASTER=bond0\nUSERCTL=no\n";
const char kEth1Enslaved[] = "DEVICE=eth1\nONBOOT=yes\nBOOTPROTO=none\nSLAVE=yes\nMASTER=bond0\nUSERCTL=no\n";

Files bonded_alb_files()
{
    return {{"ifcfg-bond0", kBond0Alb}, {"ifcfg-eth0", kEth0Slave}, {"ifcfg-eth1", kEth1Slave}};
}

std::vector<std::string> call_args()
{
    std::vector<std::string> out;
    for (const auto &c : rc_network_calls())
        out.push_back(c.args);
    return out;
}

const std::vector<std::string> kStopStart = {"stop", "start"};

TEST(BondChange, BalanceAlbBecomesActiveBackup)
{
    build_bonded_network(kModeAlb);
    ASSERT_EQ(bonded_alb_files(), network_scripts());
    KORVNETLINKAGGR r;
    ASSERT_EQ(0, KORVNetLinkAggrGet("bond0", &r));
    ASSERT_EQ(2, r.mode);
    r.mode = 3;
    EXPECT_EQ(0, KORVNetLinkAggrSet(&r));

    Files after = {{"ifcfg-bond0", kBond0ActiveBackup}, {"ifcfg-eth0", kEth0Enslaved}, {"ifcfg-eth1", kEth1Enslaved}};
    EXPECT_EQ(after, network_scripts());  // and no ".saved" copy is left
    auto calls = rc_network_calls();
    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ("stop", calls[0].args);
    EXPECT_EQ(bonded_alb_files(), calls[0].scripts);  // nothing rewritten before the stop
    EXPECT_EQ("start", calls[1].args);
    EXPECT_EQ(after, calls[1].scripts);
}

TEST(BondChange, DisableGivesTheBondsAddressToTheFirstPort)
{
    build_bonded_network(kMode8023ad);
    // Mode 0 without ports: the ports are those the bond has now.
    KORVNETLINKAGGR r = bond_record("bond0", 0, {});
    EXPECT_EQ(0, KORVNetLinkAggrSet(&r));
    Files after = {
        {"ifcfg-eth0", kEth0Standalone},
        {"ifcfg-eth1", kEth1Standalone},
        // The undo copies stay, each holding its own port's file as it was.
        {"ifcfg-eth0.saved", kEth0Slave},
        {"ifcfg-eth1.saved", kEth1Slave},
    };
    EXPECT_EQ(after, network_scripts());
    EXPECT_EQ(kStopStart, call_args());
}

TEST(BondChange, EnableWhereNoBondRuns)
{
    set_network({loopback(), ethernet("eth0", "10.0.0.5"), ethernet("eth1")});
    write_ifcfg("eth0", "DEVICE=eth0\nONBOOT=yes\nBOOTPROTO=STATIC\nIPADDR=10.0.0.5\nNETMASK=255.0.0.0\n"
                        "GATEWAY=10.0.0.1\nNETWORK=10.0.0.0\nBROADCAST=10.255.255.255\n");
    write_ifcfg("eth1", "DEVICE=eth1\nBOOTPROTO=bootp\nONBOOT=no\n");
    install_rc_network();
    KORVNETLINKAGGR r = bond_record("bond0", 1, {"eth0", "eth1"});
    EXPECT_EQ(0, KORVNetLinkAggrSet(&r));
    Files after = {
        {"ifcfg-bond0", "DEVICE=bond0\nONBOOT=yes\nBOOTPROTO=STATIC\nIPADDR=10.0.0.5\nNETMASK=255.0.0.0\n"
                        "GATEWAY=10.0.0.1\nNETWORK=10.0.0.0\nBROADCAST=10.255.255.255\n"
                        "BONDING_OPTS=\"mode=4 use_carrier=0 miimon=100 updelay=100 lacp_rate=fast\"\n"
                        "USERCTL=no\n"},
        {"ifcfg-eth0", "DEVICE=eth0\nONBOOT=yes\nBOOTPROTO=none\nGATEWAY=10.0.0.1\n"
                       "SLAVE=yes\nMASTER=bond0\nUSERCTL=no\n"},
        {"ifcfg-eth1", "DEVICE=eth1\nBOOTPROTO=none\nONBOOT=no\nSLAVE=yes\nMASTER=bond0\nUSERCTL=no\n"},
    };
    // No bond ran, so nothing was disabled first: no stray "ifcfg-" file.
    EXPECT_EQ(after, network_scripts());
    EXPECT_EQ(kStopStart, call_args());
}

TEST(BondChange, TheSameStateChangesNothing)
{
    build_bonded_network(kModeAlb);
    KORVNETLINKAGGR r = bond_record("bond0", 2, {"eth0", "eth1"});
    EXPECT_EQ(0, KORVNetLinkAggrSet(&r));
    EXPECT_TRUE(rc_network_calls().empty());
    EXPECT_EQ(bonded_alb_files(), network_scripts());

    // Nothing runs and nothing is asked to stop either.
    remove_bond("bond0");
    KORVNETLINKAGGR none = bond_record("bond0", 0, {});
    EXPECT_EQ(0, KORVNetLinkAggrSet(&none));
    EXPECT_TRUE(rc_network_calls().empty());
}

KORVNETLINKAGGR unterminated()
{
    KORVNETLINKAGGR r = bond_record("bond0", 3, {"eth0", "eth1"});
    memset(r.szSlave[1], 'e', sizeof r.szSlave[1]);
    return r;
}

struct Refusal {
    const char *name;
    KORVNETLINKAGGR record;
};

const Refusal kRefusals[] = {
    {"ModeFour", bond_record("bond0", 4, {"eth0", "eth1"})},
    {"NegativeMode", bond_record("bond0", -1, {"eth0", "eth1"})},
    {"NoBondName", bond_record("", 3, {"eth0", "eth1"})},
    {"BondNameLeavesTheFolder", bond_record("../../passwd", 3, {"eth0", "eth1"})},
    {"BondNameDotDot", bond_record("..", 0, {"eth0", "eth1"})},
    {"SlaveNameIsShell", bond_record("bond0", 3, {"eth0", "eth1;reboot"})},
    {"SlaveNameWithSlash", bond_record("bond0", 2, {"eth0", "x/../eth1"})},
    {"SlaveNameDot", bond_record("bond0", 0, {"."})},
    {"EmptySlaveName", bond_record("bond0", 3, {"eth0", ""})},
    {"SlaveNameUnterminated", unterminated()},
    {"OneSlaveOnly", bond_record("bond0", 1, {"eth0"})},
    {"NoSlaves", bond_record("bond0", 2, {})},
    {"SameSlaveTwice", bond_record("bond0", 3, {"eth0", "eth0"})},
    {"TheBondAsItsOwnSlave", bond_record("bond0", 3, {"bond0", "eth0"})},
    {"NineSlaves", [] {
         KORVNETLINKAGGR r = bond_record("bond0", 3, {"eth0", "eth1"});
         r.nSlave = 9;
         return r;
     }()},
    {"NegativeSlaveCount", [] {
         KORVNETLINKAGGR r = bond_record("bond0", 0, {});
         r.nSlave = -1;
         return r;
     }()},
};

void PrintTo(const Refusal &c, std::ostream *os)
{
    *os << c.name;
}

class BondRefusals : public testing::TestWithParam<Refusal> {};

TEST_P(BondRefusals, RefusedBeforeTheNetworkStops)
{
    build_bonded_network(kModeAlb);
    mark_error();
    EXPECT_EQ(-1, KORVNetLinkAggrSet(&GetParam().record));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    EXPECT_TRUE(rc_network_calls().empty());
    EXPECT_EQ(bonded_alb_files(), network_scripts());
}

INSTANTIATE_TEST_SUITE_P(Records, BondRefusals, testing::ValuesIn(kRefusals),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(BondRefusalsOther, NullRecordAndPortsTheDriverNamesBadly)
{
    mark_error();
    EXPECT_EQ(-1, KORVNetLinkAggrSet(nullptr));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());

    // A port the driver lists is a path too before it is disabled.
    build_bonded_network(kModeAlb);
    write_file("/sys/class/net/bond0/bonding/slaves", "eth0 et$h1\n");
    KORVNETLINKAGGR r = bond_record("bond0", 3, {"eth0", "eth1"});
    EXPECT_EQ(-1, KORVNetLinkAggrSet(&r));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    KORVNETLINKAGGR off = bond_record("bond0", 0, {});
    EXPECT_EQ(-1, KORVNetLinkAggrSet(&off));
    EXPECT_TRUE(rc_network_calls().empty());
    EXPECT_EQ(bonded_alb_files(), network_scripts());
}

TEST(BondUndo, FailedEnableRestoresOnlyWhatThisRunChanged)
{
    set_network({loopback(), ethernet("eth0", "10.0.0.5"), ethernet("eth1"), ethernet("eth2")});
    const std::string eth0 = "DEVICE=eth0\nBOOTPROTO=static\nIPADDR=10.0.0.5\nNETMASK=255.0.0.0\n";
    const std::string eth2 = "DEVICE=eth2\nBOOTPROTO=dhcp\n";
    const std::string staleBond = "DEVICE=bond0\nBOOTPROTO=dhcp\n# kept from an earlier bond\n";
    const std::string staleSaved = "DEVICE=eth2\nMASTER=bond7\nSLAVE=yes\n";
    write_ifcfg("eth0", eth0);
    write_ifcfg("eth2", eth2);
    write_ifcfg("bond0", staleBond);
    write_file(ifcfg_path("eth2") + ".saved", staleSaved);
    make_dirs(ifcfg_path("eth1"));  // a port whose file cannot be copied or rewritten
    install_rc_network();

    KORVNETLINKAGGR r = bond_record("bond0", 2, {"eth0", "eth1", "eth2"});
    EXPECT_EQ(-1, KORVNetLinkAggrSet(&r));
    EXPECT_EQ(kStopStart, call_args());  // the network runs again on the restored files
    Files want = {{"ifcfg-eth0", eth0}, {"ifcfg-eth1", ""}, {"ifcfg-eth2", eth2},
                  {"ifcfg-bond0", staleBond}, {"ifcfg-eth2.saved", staleSaved}};
    EXPECT_EQ(want, network_scripts());
}

TEST(BondUndo, FailedEnableRemovesTheBondFileItMade)
{
    set_network({loopback(), ethernet("eth0"), ethernet("eth1")});
    write_ifcfg("eth0", "DEVICE=eth0\nBOOTPROTO=dhcp\n");
    make_dirs(ifcfg_path("eth1"));
    install_rc_network();
    KORVNETLINKAGGR r = bond_record("bond0", 3, {"eth0", "eth1"});
    EXPECT_EQ(-1, KORVNetLinkAggrSet(&r));
    Files want = {{"ifcfg-eth0", "DEVICE=eth0\nBOOTPROTO=dhcp\n"}, {"ifcfg-eth1", ""}};
    EXPECT_EQ(want, network_scripts());
}

TEST(BondUndo, FailedDisableGivesTheFirstPortItsOwnFileBack)
{
    build_bonded_network(kModeAlb);
    // eth1's file cannot be made standalone; eth0 already holds the bond's settings by then.
    unlink(ifcfg_path("eth1").c_str());
    make_dirs(ifcfg_path("eth1"));
    KORVNETLINKAGGR r = bond_record("bond0", 0, {});
    EXPECT_EQ(-1, KORVNetLinkAggrSet(&r));
    Files want = {{"ifcfg-bond0", kBond0Alb}, {"ifcfg-eth0", kEth0Slave}, {"ifcfg-eth1", ""}};
    EXPECT_EQ(want, network_scripts());
    EXPECT_EQ(kStopStart, call_args());
}

TEST(BondUndo, DisableWithoutTheBondsFile)
{
    build_bonded_network(kModeAlb);
    unlink(ifcfg_path("bond0").c_str());
    KORVNETLINKAGGR r = bond_record("bond0", 0, {"eth0", "eth1"});
    mark_error();
    EXPECT_EQ(-1, KORVNetLinkAggrSet(&r));
    EXPECT_EQ(KORL_ERR_CHILD, KORLErrGet());
    Files want = {{"ifcfg-eth0", kEth0Slave}, {"ifcfg-eth1", kEth1Slave}};
    EXPECT_EQ(want, network_scripts());
    EXPECT_EQ(kStopStart, call_args());
}

TEST(BondChange, PortsKeepTheirOwnersAndModes)
{
    build_bonded_network(kModeAlb);
    chmod(ifcfg_path("eth1").c_str(), 0600);
    KORVNETLINKAGGR r = bond_record("bond0", 3, {"eth0", "eth1"});
    ASSERT_EQ(0, KORVNetLinkAggrSet(&r));
    struct stat st {};
    ASSERT_EQ(0, stat(ifcfg_path("eth1").c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 07777);
}

}  // namespace
