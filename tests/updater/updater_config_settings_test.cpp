// The configuration stage's edits of the settings file: the MTU keys of old builds and the
// leftover test key; each edit run twice changes nothing the second time.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "device_tree.h"
#include "korv/file.h"
#include "korvtest.h"
#include "updater_config.h"

using namespace korvtest;

namespace {

std::string setting(const char *key)
{
    char buf[64] = {};
    return KORLFileGetKeyValue(KORV_INFO_CONF, key, buf, sizeof buf, 0) > 0 ? buf : "<absent>";
}

struct MtuCase {
    const char *name;
    const char *mtuValue;  // null: no key
    bool oldDriver;        // the installed build still needs the cap first
    const char *eth0;      // afterwards
};

void PrintTo(const MtuCase &c, std::ostream *os)
{
    *os << c.name;
}

class MtuKeys : public testing::TestWithParam<MtuCase> {};

TEST_P(MtuKeys, MovedToEth0)
{
    const MtuCase &c = GetParam();
    std::map<std::string, std::string> conf{{"hostname", "unit"}};
    if (c.mtuValue)
        conf["MTUValue"] = c.mtuValue;
    write_key_values(KORV_INFO_CONF, conf);
    for (int run = 0; run < 2; ++run) {
        const std::string before = read_file(KORV_INFO_CONF);
        if (c.oldDriver) {
            EXPECT_EQ(UPDTConfigMtuValueCap(), 0);
        }
        EXPECT_EQ(UPDTConfigMtuValueToEth0(), 0) << syslog_dump();
        EXPECT_EQ(setting("eth0_mtu"), c.eth0);
        EXPECT_EQ(setting("MTUValue"), "<absent>");
        EXPECT_EQ(setting("hostname"), "unit");
        if (run == 1) {
            EXPECT_EQ(read_file(KORV_INFO_CONF), before) << "the second run changed the file";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, MtuKeys,
    testing::Values(MtuCase{"jumbo_4074_capped", "4074", true, "4000"}, MtuCase{"jumbo_9000_capped", "9000", true, "8000"},
                    MtuCase{"plain_1500_kept", "1500", true, "1500"}, MtuCase{"new_driver_9000_kept", "9000", false, "9000"},
                    MtuCase{"no_key", nullptr, true, "<absent>"}),
    [](const testing::TestParamInfo<MtuCase> &i) { return std::string(i.param.name); });

// When eth0's key cannot be written the old key stays for a later run.
TEST(MtuKeysFailure, OldKeyKeptWhenTheNewOneIsNotWritten)
{
    write_key_values(KORV_INFO_CONF, {{"MTUValue", "9000"}});
    const std::string before = read_file(KORV_INFO_CONF);
    make_dirs("/tmp/lock");
    ASSERT_TRUE(mount_read_only("/etc"));
    EXPECT_EQ(UPDTConfigMtuValueToEth0(), -1);
    EXPECT_TRUE(syslog_has_pattern("updater(<L>) Failed to update MTUValue in /etc/korvinfo.conf.")) << syslog_dump();
    EXPECT_EQ(read_file(KORV_INFO_CONF), before);
}

TEST(Bond0Mtu, CopiedFromEth0)
{
    write_key_values(KORV_INFO_CONF, {{"eth0_mtu", "8000"}});
    EXPECT_EQ(UPDTConfigBond0Mtu(), 0);
    EXPECT_EQ(setting("bond0_mtu"), "8000");
    EXPECT_EQ(setting("eth0_mtu"), "8000");

    write_key_values(KORV_INFO_CONF, {{"hostname", "unit"}});
    const std::string before = read_file(KORV_INFO_CONF);
    EXPECT_EQ(UPDTConfigBond0Mtu(), 0);
    EXPECT_EQ(read_file(KORV_INFO_CONF), before);
}

TEST(RemoveEventTest, KeyGoneAndAMissingKeyLogged)
{
    write_key_values(KORV_INFO_CONF, {{"eventtest", "1"}, {"hostname", "unit"}});
    EXPECT_EQ(UPDTConfigRemoveEventTest(), 0);
    EXPECT_EQ(setting("eventtest"), "<absent>");
    EXPECT_EQ(setting("hostname"), "unit");
    const std::string after = read_file(KORV_INFO_CONF);

    EXPECT_EQ(UPDTConfigRemoveEventTest(), -1);
    EXPECT_TRUE(syslog_has_pattern("updater:<L> Fail to remove key [eventtest] from /etc/korvinfo.conf, korverr=[0x2000]"))
        << syslog_dump();
    EXPECT_EQ(read_file(KORV_INFO_CONF), after);
}

}  // namespace
