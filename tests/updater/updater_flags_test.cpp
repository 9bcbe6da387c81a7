// The migration flags chosen by the installed build number, each at its threshold, and the flags
// that the analysis decides itself.
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "device_tree.h"
#include "korvtest.h"
#include "run_state.h"

using updatertest::flags_set;

namespace {

// A flag's value on the last build that sets it and on the first that does not (or, for a range
// that starts above the lowest builds, on both sides of its start).
struct Threshold {
    const char *flag;
    int *value;
    int set;       // a build that sets it
    int clear;     // the neighbouring build that leaves it clear
    int expected;  // the value `set` gives
};

const std::vector<Threshold> &Thresholds()
{
    static const std::vector<Threshold> t = {
        {"PhotoTablesFrom401", &gUPDTFlags.gfPhotoDbUpgrade, 401, 400, 0x3},
        {"PhotoTablesTo424", &gUPDTFlags.gfPhotoDbUpgrade, 424, 482, 0x3},
        {"PhotoVideoAlone425", &gUPDTFlags.gfPhotoDbUpgrade, 425, 400, 0x2},
        {"PhotoVideoTo481", &gUPDTFlags.gfPhotoDbUpgrade, 481, 482, 0x2},
        {"DropMediaServerDb", &gUPDTFlags.gfDropMediaServerDb, 867, 868, 1},
        {"DumpPgsqlDbs", &gUPDTFlags.gfDumpPgsqlDbs, 882, 883, 1},
        {"RemoveRcAtalk", &gUPDTFlags.gfRemoveRcAtalk, 107, 108, 1},
        {"RemovePapdConf", &gUPDTFlags.gfRemovePapdConf, 210, 211, 1},
        {"FtpSystemAccounts", &gUPDTFlags.gfFtpSystemAccounts, 229, 230, 1},
        {"RemoveProfile", &gUPDTFlags.gfRemoveProfile, 250, 251, 1},
        {"RemoveJumboFrameRc", &gUPDTFlags.gfRemoveJumboFrameRc, 251, 252, 1},
        {"MtuValueCap", &gUPDTFlags.gfMtuValueCap, 308, 309, 1},
        {"MtuValueToEth0", &gUPDTFlags.gfMtuValueToEth0, 547, 548, 1},
        {"PasswdHomes", &gUPDTFlags.gfPasswdHomes, 770, 771, 1},
        {"UserConfFile", &gUPDTFlags.gfUserConfFile, 770, 771, 1},
        {"MailAccounts", &gUPDTFlags.gfMailAccounts, 775, 776, 1},
        {"FtpWriteOnly", &gUPDTFlags.gfFtpWriteOnly, 867, 868, 1},
        {"BondAlbToActiveBackup", &gUPDTFlags.gfBondAlbToActiveBackup, 886, 887, 1},
        {"FtpDenyToAutoBlock", &gUPDTFlags.gfFtpDenyToAutoBlock, 886, 887, 1},
        {"SqueezeErrmsgLinks", &gUPDTFlags.gfSqueezeErrmsgLinks, 887, 888, 1},
        {"RemoveEventTest", &gUPDTFlags.gfRemoveEventTest, 902, 903, 1},
        {"FtpPassiveRange", &gUPDTFlags.gfFtpPassiveRange, 659, 660, 1},
        {"RsyncdConf", &gUPDTFlags.gfRsyncdConf, 483, 484, 1},
        {"RsyncdSecrets", &gUPDTFlags.gfRsyncdSecrets, 552, 553, 1},
        {"SmmspGroup", &gUPDTFlags.gfSmmspGroup, 555, 556, 1},
        {"UsbBackup", &gUPDTFlags.gfUsbBackup, 681, 682, 1},
        {"PhotoEaDir", &gUPDTFlags.gfPhotoEaDir, 702, 703, 1},
        {"NetBackupSets", &gUPDTFlags.gfNetBackupSets, 770, 771, 1},
        {"Codepage", &gUPDTFlags.gfCodepage, 807, 808, 1},
    };
    return t;
}

class UpgradeFlag : public testing::TestWithParam<Threshold> {
protected:
    void SetUp() override { updatertest::reset_run_state(); }
};

TEST_P(UpgradeFlag, ChangesExactlyAtItsThreshold)
{
    const Threshold &t = GetParam();
    UPDTSetUpgradeFlags(t.set);
    EXPECT_EQ(*t.value, t.expected) << "build " << t.set;
    updatertest::reset_run_state();
    UPDTSetUpgradeFlags(t.clear);
    EXPECT_EQ(*t.value & t.expected, 0) << "build " << t.clear;
}

INSTANTIATE_TEST_SUITE_P(Builds, UpgradeFlag, testing::ValuesIn(Thresholds()),
                         [](const auto &info) { return std::string(info.param.flag); });

// A row added to the product's table without its threshold here would go untested.
TEST(UpgradeFlags, EveryFlagOfTheTableHasItsThreshold)
{
    for (const auto &f : updatertest::migration_flags()) {
        // gfBond0Mtu has its own table below: the threshold and the bond check.
        bool found = f.flag == &gUPDTFlags.gfBond0Mtu;
        for (const Threshold &t : Thresholds())
            found = found || t.value == f.flag;
        EXPECT_TRUE(found) << f.name;
    }
}

// Every flag of the run is some row's: a flag no row decides would keep its start value.
TEST(UpgradeFlags, EveryFlagOfTheRunHasARow)
{
    std::vector<UPDTFLAG> decided;
    for (int i = 0; i < gnUPDTMigrations; ++i)
        if (std::find(decided.begin(), decided.end(), gUPDTMigrations[i].flag) == decided.end())
            decided.push_back(gUPDTMigrations[i].flag);
    EXPECT_EQ(decided.size(), sizeof(UPDTFLAGS) / sizeof(int));
}

// Whole sets of flags for a few builds, so that no flag is set by another's rule.
TEST(UpgradeFlags, WholeSetsAtKeyBuilds)
{
    struct Case {
        int build;
        std::vector<std::string> set;
    };
    const std::vector<Case> cases = {
        {903, {}},
        {902, {"gfRemoveEventTest"}},
        {887, {"gfSqueezeErrmsgLinks", "gfRemoveEventTest"}},
        {868, {"gfDumpPgsqlDbs", "gfBondAlbToActiveBackup", "gfFtpDenyToAutoBlock", "gfSqueezeErrmsgLinks",
               "gfRemoveEventTest"}},
        {771, {"gfDropMediaServerDb", "gfDumpPgsqlDbs", "gfMailAccounts", "gfFtpWriteOnly", "gfBondAlbToActiveBackup",
               "gfFtpDenyToAutoBlock", "gfSqueezeErrmsgLinks", "gfRemoveEventTest", "gfCodepage"}},
    };
    for (const Case &c : cases) {
        updatertest::reset_run_state();
        UPDTSetUpgradeFlags(c.build);
        EXPECT_EQ(flags_set(), c.set) << "build " << c.build;
        // The steps of every update are the analysis' rows: it decides them on every build,
        // also inside the installer where this rule does not run.
        EXPECT_EQ(gUPDTFlags.gfRemoveManutilConf + gUPDTFlags.gfRemovePhpIni + gUPDTFlags.gfCrontabFilters, 0)
            << "build " << c.build;
    }
}

// The analysis' rows of every update hold for the lowest and the highest builds alike.
TEST(UpgradeFlags, EveryUpdateRowsCoverEveryBuild)
{
    for (UPDTFLAG f : {&UPDTFLAGS::gfRemoveManutilConf, &UPDTFLAGS::gfRemovePhpIni, &UPDTFLAGS::gfCrontabFilters}) {
        const UPDTMIGRATION *row = UPDTMigrationOf(f);
        ASSERT_NE(row, nullptr);
        for (int build : {1, 903, 100000}) {
            updatertest::reset_run_state();
            UPDTDecideFlag(f, UPDTFLAGINPUT{build, nullptr, nullptr, 0});
            EXPECT_EQ(gUPDTFlags.*f, 1) << row->name << " at build " << build;
        }
    }
}

// gfBond0Mtu also needs bond0 to be the one interface up, without a "bond0_mtu" of its own.
TEST(UpgradeFlags, Bond0MtuFollowsTheInterfaces)
{
    struct Case {
        const char *name;
        std::function<void()> network;
        const char *bond0Mtu;  // nullptr: no key
        int build;
        int expected;
    };
    auto bonded = [] { korvtest::build_bonded_network(); };
    const Case cases[] = {
        {"BondedAt865", bonded, nullptr, 865, 1},
        {"BondedAt866", bonded, nullptr, 866, 0},
        {"BondedWithItsOwnMtu", bonded, "9000", 865, 0},
        {"BondAndAPlainPort",
         [] {
             korvtest::build_bonded_network();
             auto net = std::vector<korvtest::NetInterface>{korvtest::loopback()};
             korvtest::NetInterface bond = korvtest::ethernet("bond0", "192.168.1.20");
             bond.flags |= korvtest::kIfMaster;
             net.push_back(bond);
             net.push_back(korvtest::ethernet("eth2", "10.0.0.2"));
             korvtest::set_network(net);
         },
         nullptr, 865, 0},
        {"PlainPortOnly", [] { korvtest::set_network({korvtest::loopback(), korvtest::ethernet("eth0")}); }, nullptr,
         865, 0},
        {"NoInterfaceList", [] { unlink("/proc/net/dev"); }, nullptr, 865, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        c.network();
        korvtest::write_file("/etc/korvinfo.conf", c.bond0Mtu ? std::string("bond0_mtu=\"") + c.bond0Mtu + "\"\n" : "");
        updatertest::reset_run_state();
        UPDTSetUpgradeFlags(c.build);
        EXPECT_EQ(gUPDTFlags.gfBond0Mtu, c.expected);
    }
}

// The flags the analysis decides from the installed build and model.
struct AnalysisCase {
    const char *name;
    const char *build;
    bool junior;
    bool installer;
    int recoverFis;
    int driverBuffer;
    bool migrations;  // UPDTSetUpgradeFlags ran
};

class AnalysisFlags : public testing::TestWithParam<AnalysisCase> {};

TEST_P(AnalysisFlags, FollowTheInstalledSystem)
{
    const AnalysisCase &c = GetParam();
    korvtest::UpdateTree tree;
    tree.identity.buildnumber = c.build;
    tree.installer = c.installer;
    tree.junior_hw = c.junior;
    korvtest::build_update_tree(tree);
    updatertest::reset_run_state();
    gfJunior = c.junior;
    gfInstaller = c.installer;
    ASSERT_EQ(ErrUPDTIAnalyze_WholeSystem(), 0) << korvtest::syslog_dump();
    EXPECT_EQ(gUPDTFlags.gfRecoverFIS, c.recoverFis);
    EXPECT_EQ(gUPDTFlags.gfDriverBuffer, c.driverBuffer);
    EXPECT_EQ(gUPDTFlags.gfOldLayout, 0);
    EXPECT_EQ(!flags_set().empty(), c.migrations);
    // The steps of every update run inside the installer too.
    EXPECT_EQ(gUPDTFlags.gfRemoveManutilConf, 1);
    EXPECT_EQ(gUPDTFlags.gfRemovePhpIni, 1);
    EXPECT_EQ(gUPDTFlags.gfCrontabFilters, 1);
}

const AnalysisCase kAnalysisCases[] = {
    {"Build284JuniorRecovers", "284", true, false, 1, 0, true},
    {"Build284NotJuniorDoesNot", "284", false, false, 0, 0, true},
    {"Build285JuniorDoesNot", "285", true, false, 0, 0, true},
    {"Build284JuniorInTheInstaller", "284", true, true, 1, 0, false},
    {"Build350NoDriverBuffer", "350", false, false, 0, 0, true},
    {"Build351DriverBuffer", "351", false, false, 0, 1, true},
    {"InstallerSetsNoMigration", "351", false, true, 0, 1, false},
};

INSTANTIATE_TEST_SUITE_P(Installed, AnalysisFlags, testing::ValuesIn(kAnalysisCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(AnalysisFlags, OldLayoutOnlyUpToBuild261)
{
    for (const char *build : {"261", "262"}) {
        korvtest::UpdateTree tree;
        tree.identity.unique = tree.package.unique = "korvadyn_ixp420_1hd";
        tree.identity.buildnumber = build;
        korvtest::build_update_tree(tree);
        korvtest::make_dirs("/writeable");
        updatertest::reset_run_state();
        ASSERT_EQ(ErrUPDTIAnalyze_WholeSystem(), 0) << korvtest::syslog_dump();
        EXPECT_EQ(gUPDTFlags.gfOldLayout, std::string(build) == "261") << build;
    }
}

}  // namespace
