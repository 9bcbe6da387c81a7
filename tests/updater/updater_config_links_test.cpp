// The configuration stage's changes outside the settings file: the bond's balance-alb mode and
// the SqueezeCenter package's error-message files. Each step runs twice; the second changes
// nothing.
#include <gtest/gtest.h>

#include <errno.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "device_net.h"
#include "device_tree.h"
#include "korvtest.h"
#include "updater_config.h"

using namespace korvtest;

namespace {

// --- the bond ---

struct BondCase {
    const char *name;
    const char *mode;         // the bonding driver's mode line; null: no bond
    bool changed;             // the network was restarted with the ifcfg files rewritten
};

const BondCase kBondCases[] = {
    {"balance_alb_becomes_active_backup", kModeAlb, true},
    {"lacp_left_alone", kMode8023ad, false},
    {"active_backup_left_alone", kModeActiveBackup, false},
    {"no_bond", nullptr, false},
};

void PrintTo(const BondCase &c, std::ostream *os)
{
    *os << c.name;
}

class BondAlb : public testing::TestWithParam<BondCase> {};

TEST_P(BondAlb, OnlyBalanceAlbChanges)
{
    const BondCase &c = GetParam();
    if (c.mode) {
        build_bonded_network(c.mode);
    } else {
        build_sample_network();
    }
    const auto before = network_scripts();
    EXPECT_EQ(UPDTConfigBondAlbToActiveBackup(), 0) << syslog_dump();
    auto calls = rc_network_calls();
    if (!c.changed) {
        EXPECT_TRUE(calls.empty());
        EXPECT_EQ(network_scripts(), before);
    } else {
        ASSERT_EQ(calls.size(), 2u);
        EXPECT_EQ(calls[0].args, "stop");
        EXPECT_EQ(calls[1].args, "start");
        const std::string bond = network_scripts()["ifcfg-bond0"];
        EXPECT_NE(bond.find("mode=active-backup"), std::string::npos) << bond;
        EXPECT_EQ(bond.find("balance-alb"), std::string::npos) << bond;
        // The restarted driver now runs the bond in the new mode.
        Bond now;
        now.mode = kModeActiveBackup;
        now.slaves = {"eth0", "eth1"};
        set_bond(now);
    }
    const auto after = network_scripts();
    EXPECT_EQ(UPDTConfigBondAlbToActiveBackup(), 0);
    EXPECT_EQ(rc_network_calls().size(), calls.size());
    EXPECT_EQ(network_scripts(), after);
}

INSTANTIATE_TEST_SUITE_P(Modes, BondAlb, testing::ValuesIn(kBondCases),
                         [](const testing::TestParamInfo<BondCase> &i) { return std::string(i.param.name); });

TEST(BondAlbFailure, RefusedSetIsLogged)
{
    build_bonded_network(kModeAlb);
    const auto before = network_scripts();
    ASSERT_TRUE(mount_read_only("/etc/sysconfig/network-scripts"));
    EXPECT_EQ(UPDTConfigBondAlbToActiveBackup(), -1);
    EXPECT_TRUE(syslog_has_pattern("updater (<L>) Failed to remove ALB")) << syslog_dump();
    EXPECT_EQ(network_scripts(), before);
}

// --- the SqueezeCenter error-message files ---

const char kPkgSys[] = "/var/packages/SqueezeCenter/target/MySQL/errmsg.sys";
const char kPkgTxt[] = "/var/packages/SqueezeCenter/target/MySQL/errmsg.txt";
const char kSysSys[] = "/usr/korv/mysql/share/mysql/english/errmsg.sys";
const char kSysTxt[] = "/usr/korv/mysql/share/mysql/errmsg.txt";

// "ln" records its arguments, then links with the host's tool.
void install_recording_ln()
{
    install_program("/bin/ln", std::string("#!/bin/sh\necho \"ln $*\" >> ") + kProgramsLog +
                                   "\nexec /.korvsim/tools/ln \"$@\"\n");
}

// What the package's file is: "file", "absent", or "link:<target>".
std::string kind_of(const char *path)
{
    struct stat st;
    if (lstat(path, &st) != 0)
        return "absent";
    if (!S_ISLNK(st.st_mode))
        return "file";
    char target[PATH_MAX] = {};
    ssize_t n = readlink(path, target, sizeof target - 1);
    return n < 0 ? "link?" : "link:" + std::string(target, static_cast<size_t>(n));
}

enum class Start { File, Absent, Link };

void lay_out(const char *path, Start start)
{
    if (start == Start::File)
        write_file(path, "package's own copy\n");
    else if (start == Start::Link) {
        make_dirs("/var/packages/SqueezeCenter/target/MySQL");
        ASSERT_EQ(symlink("/elsewhere/errmsg", path), 0);
    }
}

struct ErrmsgCase {
    const char *name;
    Start sys, txt;
    const char *sysAfter, *txtAfter;
    std::vector<std::string> runs;  // the ln commands of the first run
};

const std::string kLinkSys = std::string("link:") + kSysSys;
const std::string kLinkTxt = std::string("link:") + kSysTxt;
const std::string kLnSys = std::string("ln -s ") + kSysSys + " " + kPkgSys;
const std::string kLnTxt = std::string("ln -s ") + kSysTxt + " " + kPkgTxt;

const ErrmsgCase kErrmsgCases[] = {
    {"both_files_linked", Start::File, Start::File, kLinkSys.c_str(), kLinkTxt.c_str(), {kLnSys, kLnTxt}},
    {"links_left_alone", Start::Link, Start::Link, "link:/elsewhere/errmsg", "link:/elsewhere/errmsg", {}},
    {"absent_left_alone", Start::Absent, Start::Absent, "absent", "absent", {}},
    {"only_the_file_linked", Start::Link, Start::File, "link:/elsewhere/errmsg", kLinkTxt.c_str(), {kLnTxt}},
};

void PrintTo(const ErrmsgCase &c, std::ostream *os)
{
    *os << c.name;
}

class SqueezeErrmsg : public testing::TestWithParam<ErrmsgCase> {};

TEST_P(SqueezeErrmsg, FilesBecomeLinksToTheSystems)
{
    const ErrmsgCase &c = GetParam();
    install_recording_ln();
    write_file(kSysSys, "system sys\n");
    write_file(kSysTxt, "system txt\n");
    lay_out(kPkgSys, c.sys);
    lay_out(kPkgTxt, c.txt);
    EXPECT_EQ(UPDTConfigSqueezeErrmsgLinks(), 0) << syslog_dump();
    EXPECT_EQ(kind_of(kPkgSys), c.sysAfter);
    EXPECT_EQ(kind_of(kPkgTxt), c.txtAfter);
    EXPECT_EQ(program_runs("ln"), c.runs);
    // Once linked, the next run finds links and runs nothing.
    EXPECT_EQ(UPDTConfigSqueezeErrmsgLinks(), 0);
    EXPECT_EQ(program_runs("ln"), c.runs);
    EXPECT_EQ(kind_of(kPkgSys), c.sysAfter);
    EXPECT_EQ(kind_of(kPkgTxt), c.txtAfter);
}

INSTANTIATE_TEST_SUITE_P(Cases, SqueezeErrmsg, testing::ValuesIn(kErrmsgCases),
                         [](const testing::TestParamInfo<ErrmsgCase> &i) { return std::string(i.param.name); });

// A folder that cannot change: both files logged, each for its removal and for its link.
TEST(SqueezeErrmsgFailure, ReadOnlyPackageFolder)
{
    install_recording_ln();
    write_file(kPkgSys, "sys\n");
    write_file(kPkgTxt, "txt\n");
    ASSERT_TRUE(mount_read_only("/var/packages/SqueezeCenter/target/MySQL"));
    EXPECT_EQ(UPDTConfigSqueezeErrmsgLinks(), -1);
    for (const char *m : {"updater(<L>) Failed to remove errmsg.sys in Squeeze Center.",
                          "updater(<L>) Failed to link errmsg.sys in Squeeze Center from system.",
                          "updater(<L>) Failed to remove errmsg.txt in Squeeze Center.",
                          "updater(<L>) Failed to link errmsg.txt in Squeeze Center from system."})
        EXPECT_TRUE(syslog_has_pattern(m)) << m << "\n" << syslog_dump();
    // The link is tried all the same.
    EXPECT_EQ(program_runs("ln"), (std::vector<std::string>{kLnSys, kLnTxt}));
    EXPECT_EQ(read_file(kPkgSys), "sys\n");
}

}  // namespace
