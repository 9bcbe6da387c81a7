// The FTP deny list moved into the auto-block list: the addresses blocked there, the deny list
// emptied of them only when every one was added, "ftpipautodeny" turned into auto-block's
// settings and removed only once they are stored.
#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "device_tree.h"
#include "korv/autoblock.h"
#include "korv/file.h"
#include "korv/ftp.h"
#include "korvtest.h"
#include "updater_config.h"

using namespace korvtest;

namespace {

const char kDenyList[] = "ALL: 10.0.0.7\n# keep\nALL: 192.168.1.20\n";

// The addresses of the auto-block list, in list order.
std::vector<std::string> blocked()
{
    std::string bytes = read_file(KORV_AUTOBLOCK_LIST);
    std::vector<std::string> out;
    for (size_t at = 0; at + KORV_AUTOBLOCK_REC_SIZE <= bytes.size(); at += KORV_AUTOBLOCK_REC_SIZE) {
        struct in_addr a;
        memcpy(&a.s_addr, bytes.data() + at + 4, 4);
        out.push_back(inet_ntoa(a));
    }
    return out;
}

std::string setting(const char *key)
{
    char buf[64] = {};
    return KORLFileGetKeyValue(KORV_INFO_CONF, key, buf, sizeof buf, 0) > 0 ? buf : "<absent>";
}

void deny_tree(const char *autodeny)
{
    std::map<std::string, std::string> conf{{"autoblock_attempts", "3"},
                                            {"autoblock_attempt_min", "2"},
                                            {"autoblock_expriedday", "7"},
                                            {"autoblock_notify", "yes"}};
    if (autodeny)
        conf["ftpipautodeny"] = autodeny;
    write_key_values(KORV_INFO_CONF, conf);
    write_file(KORV_HOSTS_DENY, kDenyList);
}

// Holds a named lock file from its own open file description, as another process would.
struct HeldLock {
    explicit HeldLock(const char *path)
    {
        make_dirs("/tmp/lock");
        fd = open(path, O_RDWR | O_CREAT, 0644);
        ok = fd >= 0 && flock(fd, LOCK_EX) == 0;
    }
    ~HeldLock()
    {
        if (fd >= 0)
            close(fd);
    }
    int fd = -1;
    bool ok = false;
};

// A second run finds an empty deny list and changes nothing.
TEST(FtpDenyToAutoBlock, AddressesAndSwitchMoveOnce)
{
    deny_tree("yes");
    ASSERT_EQ(AutoBlockConvertFTPBlockIP(), 0) << syslog_dump();
    // The list is sorted in byte order before the adds.
    EXPECT_EQ(blocked(), (std::vector<std::string>{"10.0.0.7", "192.168.1.20"}));
    EXPECT_EQ(read_file(KORV_HOSTS_DENY), "# keep\n");
    EXPECT_EQ(setting("ftpipautodeny"), "<absent>");
    EXPECT_EQ(setting("autoblock_attempts"), "5");
    EXPECT_EQ(setting("autoblock_attempt_min"), "10");
    EXPECT_EQ(setting("autoblock_expriedday"), "0");
    EXPECT_EQ(setting("autoblock_notify"), "no");

    const std::string conf = read_file(KORV_INFO_CONF), list = read_file(KORV_AUTOBLOCK_LIST);
    ASSERT_EQ(AutoBlockConvertFTPBlockIP(), 0);
    EXPECT_EQ(read_file(KORV_INFO_CONF), conf);
    EXPECT_EQ(read_file(KORV_AUTOBLOCK_LIST), list);
    EXPECT_EQ(read_file(KORV_HOSTS_DENY), "# keep\n");
}

struct SwitchCase {
    const char *name;
    const char *autodeny;  // null: no key
    const char *attempts;  // afterwards
};

void PrintTo(const SwitchCase &c, std::ostream *os)
{
    *os << c.name;
}

class FtpDenySwitch : public testing::TestWithParam<SwitchCase> {};

// Only "yes" (in any letter case) sets the settings; the key goes in every case.
TEST_P(FtpDenySwitch, KeyRemovedSettingsOnlyForYes)
{
    const SwitchCase &c = GetParam();
    deny_tree(c.autodeny);
    ASSERT_EQ(AutoBlockConvertFTPBlockIP(), 0) << syslog_dump();
    EXPECT_EQ(setting("autoblock_attempts"), c.attempts);
    EXPECT_EQ(setting("ftpipautodeny"), "<absent>");
    EXPECT_EQ(blocked().size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Values, FtpDenySwitch,
                         testing::Values(SwitchCase{"yes_upper", "YES", "5"}, SwitchCase{"no", "no", "3"},
                                         SwitchCase{"absent", nullptr, "3"}),
                         [](const testing::TestParamInfo<SwitchCase> &i) { return std::string(i.param.name); });

TEST(FtpDenyToAutoBlock, EmptyDenyListChangesNothing)
{
    deny_tree("yes");
    write_file(KORV_HOSTS_DENY, "# nothing\n");
    const std::string conf = read_file(KORV_INFO_CONF);
    EXPECT_EQ(AutoBlockConvertFTPBlockIP(), 0);
    EXPECT_EQ(read_file(KORV_INFO_CONF), conf);
    EXPECT_FALSE(file_exists(KORV_AUTOBLOCK_LIST));
}

TEST(FtpDenyToAutoBlock, MissingDenyListFails)
{
    deny_tree("yes");
    unlink(KORV_HOSTS_DENY);
    EXPECT_EQ(UPDTConfigFtpDenyToAutoBlock(), -1);
    EXPECT_TRUE(syslog_has_pattern("updater:<L> Failed to get FTP blocked ip list.")) << syslog_dump();
    EXPECT_TRUE(syslog_has_pattern("updater:<L> AutoBlockConvertFTPBlockIP() failed!!"));
    EXPECT_EQ(setting("ftpipautodeny"), "yes");
}

// An address that cannot be blocked keeps the whole deny list; the run still succeeds.
TEST(FtpDenyToAutoBlock, FailedAddKeepsTheDenyList)
{
    deny_tree("no");
    make_dirs(KORV_AUTOBLOCK_LIST);
    EXPECT_EQ(AutoBlockConvertFTPBlockIP(), 0);
    EXPECT_TRUE(syslog_contains("KORVAutoBlockIPAdd() failed!! szIP=[10.0.0.7], korverr=[0x"))
        << syslog_dump();
    EXPECT_EQ(read_file(KORV_HOSTS_DENY), kDenyList);
}

// While the settings file's lock is held elsewhere the switch stays for a later run; the adds,
// which read the settings too, fail and the deny list keeps every address.
TEST(FtpDenyToAutoBlock, SwitchKeptWhenTheSettingsCannotBeStored)
{
    deny_tree("yes");
    HeldLock held("/tmp/lock/lock_korvinfo");
    ASSERT_TRUE(held.ok);
    EXPECT_EQ(AutoBlockConvertFTPBlockIP(), 0);
    EXPECT_EQ(setting("ftpipautodeny"), "yes");
    EXPECT_EQ(setting("autoblock_attempts"), "3");
    EXPECT_TRUE(blocked().empty());
    EXPECT_EQ(read_file(KORV_HOSTS_DENY), kDenyList);
}

}  // namespace
