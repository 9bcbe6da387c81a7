// Reading bonds from the bonding driver's files, and the slave list of a bond record.
#include <string.h>

#include <string>
#include <vector>

#include "device_net.h"
#include "korv/list.h"
#include "korvtest.h"
#include "net_test.h"

using namespace korvtest;
using namespace nettest;

namespace {

TEST(BondRead, NoSuchBondIsNoAggregation)
{
    KORVNETLINKAGGR r;
    memset(&r, 0x5A, sizeof r);
    ASSERT_EQ(0, KORVNetLinkAggrGet("bond0", &r));
    KORVNETLINKAGGR want = bond_record("bond0", 0, {});
    EXPECT_EQ(0, memcmp(&want, &r, sizeof r));  // zero-filled whole, the name set

    // A bond without slaves reads the same.
    set_bond(Bond{});
    memset(&r, 0x5A, sizeof r);
    ASSERT_EQ(0, KORVNetLinkAggrGet("bond0", &r));
    EXPECT_EQ(0, memcmp(&want, &r, sizeof r));
}

struct ModeCase {
    const char *name;
    const char *line;
    int mode;
};

const ModeCase kModeCases[] = {
    {"Lacp", "802.3ad 4", 1},
    {"Alb", "balance-alb 6", 2},
    {"ActiveBackup", "active-backup 1", 3},
    {"TextAfterTheMode", "active-backup 1 extra", 3},
    {"RoundRobin", "balance-rr 0", 0},
    {"Xor", "balance-xor 2", 0},
    {"ShortOfTheText", "802.3ad", 0},
};

void PrintTo(const ModeCase &c, std::ostream *os)
{
    *os << c.name;
}

class BondModes : public testing::TestWithParam<ModeCase> {};

TEST_P(BondModes, ModeFileGivesTheMode)
{
    const ModeCase &c = GetParam();
    Bond bond;
    bond.mode = c.line;
    bond.slaves = {"eth1", "eth0"};
    bond.partner_mac = "00:1b:21:3c:4d:5e";
    set_bond(bond);
    syslog_clear();
    KORVNETLINKAGGR r;
    ASSERT_EQ(0, KORVNetLinkAggrGet("bond0", &r));
    KORVNETLINKAGGR want = bond_record("bond0", c.mode, {"eth0", "eth1"});
    EXPECT_EQ(0, memcmp(&want, &r, sizeof r)) << r.mode << " " << r.partnerMacMissing;
    bool logged = syslog_contains(std::string("Non-supported bonding mode [") + c.line + "]");
    EXPECT_EQ(c.mode == 0, logged) << syslog_dump();
}

INSTANTIATE_TEST_SUITE_P(Modes, BondModes, testing::ValuesIn(kModeCases),
                         [](const auto &info) { return std::string(info.param.name); });

struct PartnerCase {
    const char *name;
    const char *statusTail;  // what follows the status file's header; null: no status file
    int missing;
};

const PartnerCase kPartnerCases[] = {
    {"RealPartner", "\tPartner Mac Address: 00:1b:21:3c:4d:5e\n", 0},
    {"AllZero", "\tPartner Mac Address: 00:00:00:00:00:00\n", 1},
    {"Empty", "\tPartner Mac Address: \n", 1},
    {"Blanks", "\tPartner Mac Address:  \t \n", 1},
    {"NoLine", "\tAggregator ID: 1\n", 1},
    {"NoStatusFile", nullptr, 1},
    // The last line without its newline keeps all of its address.
    {"AllZeroAtTheEnd", "\tPartner Mac Address: 00:00:00:00:00:00", 1},
    {"RealAtTheEnd", "\tPartner Mac Address: 00:1b:21:3c:4d:50", 0},
    {"FirstLineDecides", "\tPartner Mac Address: 00:00:00:00:00:00\n\tPartner Mac Address: 00:1b:21:3c:4d:5e\n", 1},
    {"IndentedBySpaces", "    Partner Mac Address: 00:1b:21:3c:4d:5e\n", 1},
};

void PrintTo(const PartnerCase &c, std::ostream *os)
{
    *os << c.name;
}

class BondPartner : public testing::TestWithParam<PartnerCase> {};

TEST_P(BondPartner, LacpPartnerFromTheStatusFile)
{
    const PartnerCase &c = GetParam();
    Bond bond;
    bond.mode = kMode8023ad;
    bond.slaves = {"eth0", "eth1"};
    bond.status_file = false;
    set_bond(bond);
    if (c.statusTail)
        write_file("/proc/net/bonding/bond0", std::string("Bonding Mode: IEEE 802.3ad\n\n802.3ad info\n") + c.statusTail);
    KORVNETLINKAGGR r;
    ASSERT_EQ(0, KORVNetLinkAggrGet("bond0", &r));
    EXPECT_EQ(1, r.mode);
    EXPECT_EQ(c.missing, r.partnerMacMissing);
}

INSTANTIATE_TEST_SUITE_P(Partners, BondPartner, testing::ValuesIn(kPartnerCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(BondPartnerOtherModes, OnlyLacpAsksForAPartner)
{
    Bond bond;
    bond.mode = kModeAlb;
    bond.slaves = {"eth0", "eth1"};
    bond.status_file = false;
    set_bond(bond);
    KORVNETLINKAGGR r;
    ASSERT_EQ(0, KORVNetLinkAggrGet("bond0", &r));
    EXPECT_EQ(0, r.partnerMacMissing);
}

TEST(BondReadFailures, ModeFileAndSlaveList)
{
    Bond bond;
    bond.slaves = {"eth0", "eth1"};
    set_bond(bond);
    KORVNETLINKAGGR r;

    unlink("/sys/class/net/bond0/bonding/mode");
    mark_error();
    EXPECT_EQ(-1, KORVNetLinkAggrGet("bond0", &r));
    EXPECT_EQ(KORL_ERR_OPEN, KORLErrGet());

    write_file("/sys/class/net/bond0/bonding/mode", "");
    EXPECT_EQ(-1, KORVNetLinkAggrGet("bond0", &r));
    EXPECT_EQ(KORL_ERR_READ, KORLErrGet());

    bond.slaves = {"eth0", "eth1", "eth2", "eth3", "eth4", "eth5", "eth6", "eth7", "eth8"};
    set_bond(bond);
    EXPECT_EQ(-1, KORVNetLinkAggrGet("bond0", &r));
    EXPECT_EQ(KORV_ERR_NET_SLAVES_FULL, KORLErrGet());

    mark_error();
    EXPECT_EQ(-1, KORVNetLinkAggrGet(nullptr, &r));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    EXPECT_EQ(-1, KORVNetLinkAggrGet("bond0", nullptr));
}

const char *const kBadNames[] = {"", ".", "..", "../bond0", "bond0/..", "bond 0", "bond0;reboot",
                                 "$(reboot)", "bond0\n", "abcdefghijklmnop"};

TEST(BondNames, NamesThatWouldLeaveTheirFolderAreRefused)
{
    // A tree where every one of these paths would lead somewhere.
    Bond bond;
    bond.slaves = {"eth0", "eth1"};
    set_bond(bond);
    write_file("/sys/class/net/slaves", "eth9\n");
    for (const char *name : kBadNames) {
        KORVNETLINKAGGR r;
        mark_error();
        EXPECT_EQ(-1, KORVNetLinkAggrGet(name, &r)) << label(name);
        EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
        PKORLSZLIST list = PslKORLSzListAlloc(0);
        mark_error();
        EXPECT_EQ(-1, KORVNetLinkAggrPhyGet(name, &list)) << label(name);
        EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
        EXPECT_EQ(0, list->nItem);
        KORLSzListFree(list);
    }
    // Dots, dashes and underscores inside a name are fine.
    set_bond(Bond{"bond_0.1-a", kModeActiveBackup, {"eth0", "eth1"}, std::nullopt, false});
    KORVNETLINKAGGR r;
    ASSERT_EQ(0, KORVNetLinkAggrGet("bond_0.1-a", &r));
    EXPECT_EQ(3, r.mode);
}

TEST(BondSlaveList, AppendsTheWordsOfTheSlavesFile)
{
    write_file("/sys/class/net/bond0/bonding/slaves", "eth1 \teth0  eth2\n");
    PKORLSZLIST list = PslKORLSzListAlloc(0);
    ASSERT_GE(KORLSzListPush(&list, "first"), 0);
    EXPECT_EQ(3, KORVNetLinkAggrPhyGet("bond0", &list));
    ASSERT_EQ(4, list->nItem);
    EXPECT_STREQ("first", SzKORLSzListGet(list, 0));
    EXPECT_STREQ("eth1", SzKORLSzListGet(list, 1));
    EXPECT_STREQ("eth2", SzKORLSzListGet(list, 3));

    mark_error();
    EXPECT_EQ(-1, KORVNetLinkAggrPhyGet("bond1", &list));
    EXPECT_EQ(KORL_ERR_OPEN, KORLErrGet());
    write_file("/sys/class/net/bond0/bonding/slaves", "");
    EXPECT_EQ(-1, KORVNetLinkAggrPhyGet("bond0", &list));
    EXPECT_EQ(KORL_ERR_READ, KORLErrGet());
    KORLSzListFree(list);
}

TEST(BondSlaveAdd, KeepsTheNamesSortedAndUnique)
{
    KORVNETLINKAGGR r = bond_record("bond0", 2, {});
    ASSERT_EQ(0, KORVNetLinkAggrOptSlaveAdd(&r, "eth1"));
    ASSERT_EQ(0, KORVNetLinkAggrOptSlaveAdd(&r, "eth0"));
    EXPECT_EQ((std::vector<std::string>{"eth0", "eth1"}), slaves_of(r));

    mark_error();
    EXPECT_EQ(-1, KORVNetLinkAggrOptSlaveAdd(&r, "eth0"));
    EXPECT_EQ(KORV_ERR_NET_SLAVE_EXISTS, KORLErrGet());
    EXPECT_EQ(2, r.nSlave);

    // Cut to 15 characters, and then the same name as one already there.
    ASSERT_EQ(0, KORVNetLinkAggrOptSlaveAdd(&r, "abcdefghijklmnopq"));
    EXPECT_EQ(-1, KORVNetLinkAggrOptSlaveAdd(&r, "abcdefghijklmnoZZ"));
    EXPECT_EQ(KORV_ERR_NET_SLAVE_EXISTS, KORLErrGet());
    for (const char *s : {"eth5", "eth2", "eth4", "eth3", "eth6"})
        ASSERT_EQ(0, KORVNetLinkAggrOptSlaveAdd(&r, s));
    EXPECT_EQ((std::vector<std::string>{"abcdefghijklmno", "eth0", "eth1", "eth2", "eth3", "eth4", "eth5", "eth6"}),
              slaves_of(r));
    EXPECT_EQ(-1, KORVNetLinkAggrOptSlaveAdd(&r, "eth7"));
    EXPECT_EQ(KORV_ERR_NET_SLAVES_FULL, KORLErrGet());
    EXPECT_EQ(8, r.nSlave);

    EXPECT_EQ(-1, KORVNetLinkAggrOptSlaveAdd(nullptr, "eth0"));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    EXPECT_EQ(-1, KORVNetLinkAggrOptSlaveAdd(&r, nullptr));
}

}  // namespace
