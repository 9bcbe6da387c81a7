// eth0's MTU around the flash: lowered to 1500 before it on installed builds above 350, and the
// stored value put back at the end on every road.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device_tree.h"
#include "korv/simctl.h"
#include "korvtest.h"
#include "updater_run.h"

namespace ctl = korvsim::ctl;
using updatertest::progress;

namespace {

// The MTU requests on eth0 and the links read, in order: "SIOCSIFMTU mtu=1500", "SIOCETHTOOL".
std::vector<std::string> eth0_requests()
{
    std::vector<std::string> out;
    for (const auto &r : ctl::requests())
        if (r.device == "net:eth0" && (r.name == "SIOCSIFMTU" || r.name == "SIOCETHTOOL"))
            out.push_back(r.name == "SIOCSIFMTU" ? r.name + " " + r.args : r.name);
    return out;
}

std::string stored_mtu()
{
    std::string conf = korvtest::read_file("/etc/korvinfo.conf");
    size_t at = conf.find("eth0_mtu=\"");
    if (at == std::string::npos)
        return "";
    return conf.substr(at + 10, conf.find('"', at + 10) - at - 10);
}

korvtest::UpdateTree jumbo_tree(int speed)
{
    korvtest::UpdateTree tree;
    tree.identity.defaults["supportMTU"] = "YES";
    tree.identity.settings["eth0_mtu"] = "9000";
    tree.network[1].mtu = 9000;
    tree.network[1].speed = speed;
    return tree;
}

// At 1000 Mbit/s the running interface changes too, each time followed by the setter's pause.
TEST(UpdaterMtu, LoweredForTheFlashAndPutBack)
{
    korvtest::build_update_tree(jumbo_tree(1000));
    auto r = updatertest::run_updater();
    EXPECT_EQ(r.status, 0) << korvtest::syslog_dump();
    EXPECT_EQ(eth0_requests(), (std::vector<std::string>{"SIOCETHTOOL", "SIOCSIFMTU mtu=1500", "SIOCETHTOOL",
                                                         "SIOCSIFMTU mtu=9000"}));
    EXPECT_EQ(stored_mtu(), "9000");
}

TEST(UpdaterMtu, PutBackAfterTheBufferIsRefused)
{
    korvtest::build_update_tree(jumbo_tree(100));
    ctl::fail_request("kernel", "SYS405", ENOMEM);
    auto r = updatertest::run_updater();
    EXPECT_EQ(r.status, 23);
    EXPECT_EQ(r.progress, progress('A', -23));
    // Read twice, set never: at 100 Mbit/s only the stored value changes.
    EXPECT_EQ(eth0_requests(), (std::vector<std::string>{"SIOCETHTOOL", "SIOCETHTOOL"}));
    EXPECT_EQ(stored_mtu(), "9000");
}

TEST(UpdaterMtu, PutBackWhenTheSetterFailedAfterStoring)
{
    // Without eth0 the setter cannot read the link: it stores "1500" and returns -1.
    auto tree = jumbo_tree(100);
    tree.network.pop_back();
    korvtest::build_update_tree(tree);
    auto r = updatertest::run_updater();
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(korvtest::syslog_has_pattern("main(<L>): fail to set the MTU of eth0 to 1500, korverr=0x<L>"))
        << korvtest::syslog_dump();
    EXPECT_EQ(stored_mtu(), "9000");
}

TEST(UpdaterMtu, LeftAloneWhereNotAsked)
{
    struct Case {
        const char *name;
        const char *support;  // nullptr: no key
        const char *mtu;      // nullptr: no key
        const char *build;
        std::vector<std::string> args;
    };
    const Case cases[] = {
        {"Already1500", "yes", "1500", "351", {}},
        {"NotSupported", "no", "9000", "351", {}},
        {"NoSupportKey", nullptr, "9000", "351", {}},
        {"NoStoredMtu", "yes", nullptr, "351", {}},
        {"OldBuildUsesTheUptimeInstead", "yes", "9000", "350", {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto tree = jumbo_tree(100);
        tree.identity.buildnumber = c.build;
        if (c.support)
            tree.identity.defaults["supportMTU"] = c.support;
        else
            tree.identity.defaults.erase("supportMTU");
        if (c.mtu)
            tree.identity.settings["eth0_mtu"] = c.mtu;
        else
            tree.identity.settings.erase("eth0_mtu");
        // Code pages already in their migrated form: the file must come out as it went in.
        tree.identity.settings["codepage"] = "enu";
        tree.identity.settings["codepage_mediaservice"] = "enu";
        korvtest::build_update_tree(tree);
        std::string before = korvtest::read_file("/etc/korvinfo.conf");
        updatertest::RunSpec spec;
        spec.args = c.args;
        auto r = updatertest::run_updater(spec);
        EXPECT_EQ(r.status, 0) << korvtest::syslog_dump();
        EXPECT_TRUE(eth0_requests().empty());
        EXPECT_EQ(korvtest::read_file("/etc/korvinfo.conf"), before);
    }
}

TEST(UpdaterMtu, GroupUpdateLowersItToo)
{
    auto tree = jumbo_tree(100);
    tree.identity.buildnumber = "300";  // not looked at without the analysis
    korvtest::build_update_tree(tree);
    updatertest::RunSpec spec;
    spec.args = {"-g"};
    auto r = updatertest::run_updater(spec);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(eth0_requests(), (std::vector<std::string>{"SIOCETHTOOL", "SIOCETHTOOL"}));
    EXPECT_EQ(stored_mtu(), "9000");
}

}  // namespace
