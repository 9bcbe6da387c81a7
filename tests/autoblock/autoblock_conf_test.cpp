// Auto-block settings in the device settings file, the ftpd HUP, and the notice mail of an add.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <optional>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "case_label.h"
#include "device_net.h"
#include "device_tree.h"
#include "korv/autoblock.h"
#include "korv/error.h"
#include "korv/file.h"
#include "korv/file_lock.h"
#include "korv/mail.h"
#include "korvtest.h"
#include "lock_holder.h"
#include "signal_recorder.h"
#include "smtp_server.h"

using namespace korvtest;

namespace {

struct GetCase {
    const char *name;
    std::map<std::string, std::string> keys;
    KORVAUTOBLOCKCONF expect;
};

const GetCase kGetCases[] = {
    {"NoKeys", {{"hostname", "nas"}}, {0, 0, 0, 0}},
    {"AllSet",
     {{"autoblock_attempts", "10"}, {"autoblock_attempt_min", "5"}, {"autoblock_expriedday", "3"},
      {"autoblock_notify", "yes"}},
     {10, 5, 3, 1}},
    {"NotifyCapitals", {{"autoblock_notify", "YES"}}, {0, 0, 0, 0}},
    {"NotANumber", {{"autoblock_attempts", "many"}, {"autoblock_notify", "no"}}, {0, 0, 0, 0}},
};

class AutoBlockConfGet : public testing::TestWithParam<GetCase> {};

TEST_P(AutoBlockConfGet, Fields)
{
    const GetCase &c = GetParam();
    write_key_values(KORV_INFO_CONF, c.keys);
    KORVAUTOBLOCKCONF conf;
    memset(&conf, 0x55, sizeof conf);
    ASSERT_EQ(0, KORVAutoBlockConfGet(&conf));
    EXPECT_EQ(c.expect.attempts, conf.attempts);
    EXPECT_EQ(c.expect.attemptMin, conf.attemptMin);
    EXPECT_EQ(c.expect.expireDays, conf.expireDays);
    EXPECT_EQ(c.expect.notify, conf.notify);
}

INSTANTIATE_TEST_SUITE_P(Cases, AutoBlockConfGet, testing::ValuesIn(kGetCases),
                         [](const auto &info) { return std::string(info.param.name); });

// ftpd's pid and a kill that records its arguments.
void InstallFtpd()
{
    install_program("/bin/pidof", "#!/bin/sh\n[ \"$1\" = ftpd ] && echo 4242\n");
    install_program("/bin/kill", "#!/bin/sh\necho \"$*\" >>/tmp/kill.calls\n");
}

TEST(AutoBlockConfSet, WritesChangedKeysAndHupsFtpd)
{
    InstallFtpd();
    write_file(KORV_INFO_CONF, "hostname=\"nas\"\nautoblock_attempts=\"5\"\n");
    KORVAUTOBLOCKCONF conf = {5, 30, 7, 1};
    ASSERT_EQ(0, KORVAutoBlockConfSet(&conf));
    EXPECT_EQ("hostname=\"nas\"\nautoblock_attempts=\"5\"\n", read_file(KORV_INFO_CONF).substr(0, 38));
    std::string text = read_file(KORV_INFO_CONF);
    for (const char *line : {"autoblock_attempt_min=\"30\"\n", "autoblock_expriedday=\"7\"\n", "autoblock_notify=\"yes\"\n"})
        EXPECT_NE(std::string::npos, text.find(line)) << text;
    EXPECT_EQ("-HUP 4242\n", read_file("/tmp/kill.calls"));

    KORVAUTOBLOCKCONF back;
    ASSERT_EQ(0, KORVAutoBlockConfGet(&back));
    EXPECT_EQ(30, back.attemptMin);
    EXPECT_EQ(7, back.expireDays);
    EXPECT_EQ(1, back.notify);

    conf.notify = 0;
    ASSERT_EQ(0, KORVAutoBlockConfSet(&conf));
    EXPECT_NE(std::string::npos, read_file(KORV_INFO_CONF).find("autoblock_notify=\"no\"\n"));
}

TEST(AutoBlockConfSet, SameValuesStillRewriteAndHup)
{
    InstallFtpd();
    write_file(KORV_INFO_CONF, "autoblock_attempts=\"5\"\n");
    struct stat before;
    ASSERT_EQ(0, stat(KORV_INFO_CONF, &before));
    KORVAUTOBLOCKCONF conf = {5, 0, 0, 0};
    ASSERT_EQ(0, KORVAutoBlockConfSet(&conf));
    struct stat after;
    ASSERT_EQ(0, stat(KORV_INFO_CONF, &after));
    EXPECT_NE(before.st_ino, after.st_ino);  // replaced through a temporary copy
    EXPECT_EQ("autoblock_attempts=\"5\"\n", read_file(KORV_INFO_CONF));
    EXPECT_EQ("-HUP 4242\n", read_file("/tmp/kill.calls"));
}

TEST(AutoBlockConfSet, FailedHupIsOnlyLogged)
{
    install_program("/bin/kill", "#!/bin/sh\nexit 1\n");
    install_program("/bin/pidof", "#!/bin/sh\nexit 1\n");
    write_file(KORV_INFO_CONF, "hostname=\"nas\"\n");
    KORVAUTOBLOCKCONF conf = {3, 0, 0, 0};
    EXPECT_EQ(0, KORVAutoBlockConfSet(&conf));
    EXPECT_TRUE(syslog_has_pattern("autoblock_services_hup.cpp:<L> Failed to hup ftpd")) << syslog_dump();
    EXPECT_NE(std::string::npos, read_file(KORV_INFO_CONF).find("autoblock_attempts=\"3\"\n"));
    mark_error();
    EXPECT_EQ(-1, KORVAutoBlockConfSet(nullptr));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
}

// A running ftpd, a real second process, gets the HUP through the shell's kill; pidof names it.
TEST(AutoBlockServicesHup, ReachesTheRunningFtpd)
{
    install_program("/bin/pidof", "#!/bin/sh\n[ \"$1\" = ftpd ] && cat /tmp/ftpd.pid\n");
    SignalRecorder ftpd("/tmp/ftpd.pid", {SIGHUP});
    syslog_clear();
    KORVAutoBlockServicesHup();
    EXPECT_EQ(std::vector<int>{SIGHUP}, ftpd.Got(1));
    EXPECT_FALSE(syslog_contains("Failed to hup ftpd")) << syslog_dump();
}

// The settings lock against a second process: readers share it, a writer waits for it alone, and
// each call leaves it free again.
struct LockCase {
    const char *name;
    int held;  // the other process's hold of lock_korvinfo, 0 for none
    bool set;  // KORVAutoBlockConfSet, else KORVAutoBlockConfGet
    int result;
};

const LockCase kLockCases[] = {
    {"GetFree", 0, false, 0},
    {"GetBesideReader", LOCK_SH, false, 0},
    {"GetAgainstWriter", LOCK_EX, false, -1},
    {"SetFree", 0, true, 0},
    {"SetAgainstReader", LOCK_SH, true, -1},
};

void PrintTo(const LockCase &c, std::ostream *os)
{
    *os << c.name;
}

class AutoBlockLock : public testing::TestWithParam<LockCase> {};

TEST_P(AutoBlockLock, TakenAndReleased)
{
    const LockCase &c = GetParam();
    InstallFtpd();
    const std::string before = "autoblock_attempts=\"5\"\n";
    write_file(KORV_INFO_CONF, before);
    std::optional<Holder> other;
    if (c.held) {
        other.emplace(KORL_LOCK_KORVINFO | static_cast<unsigned>(c.held) | LOCK_NB);
        ASSERT_TRUE(other->obtained());
    }
    KORVAUTOBLOCKCONF conf = {9, 0, 0, 0};
    syslog_clear();
    mark_error();
    EXPECT_EQ(c.result, c.set ? KORVAutoBlockConfSet(&conf) : KORVAutoBlockConfGet(&conf));
    if (c.result < 0) {
        EXPECT_EQ(KORL_ERR_LOCK, KORLErrGet());
        const std::string source = c.set ? "autoblock_conf_set.cpp" : "autoblock_conf_get.cpp";
        EXPECT_TRUE(syslog_has_pattern(source + ":<L> ErrKORLFileLock() failed!! "
                                                "file=[/etc/korvinfo.conf], korverr=[0x0400]"))
            << syslog_dump();
    }
    const bool written = c.set && c.result == 0;
    EXPECT_EQ(written ? "autoblock_attempts=\"9\"\n" : before, read_file(KORV_INFO_CONF));
    EXPECT_EQ(written ? "-HUP 4242\n" : "", read_file("/tmp/kill.calls"));
    if (!c.set && c.result == 0) {
        EXPECT_EQ(5, conf.attempts);
    }
    if (other)
        other->release();
    // Nothing of this process's stays held.
    Holder after(KORL_LOCK_KORVINFO | LOCK_EX | LOCK_NB);
    EXPECT_TRUE(after.obtained());
}

INSTANTIATE_TEST_SUITE_P(Cases, AutoBlockLock, testing::ValuesIn(kLockCases),
                         [](const auto &info) { return std::string(info.param.name); });

class AutoBlockNotice : public testing::Test {
protected:
    void SetUp() override
    {
        set_network({loopback()});
        write_file("/usr/korv/korvman/webman/texts/enu/mails",
                   "[AutoBlockAdd]\nSubject: %CLIENT_IP% blocked\n"
                   "%CLIENT_IP% at %AUTOBLOCK_TIME%: %AUTOBLOCK_ATTEMPTS% in %AUTOBLOCK_ATTEMPT_MIN% min\n");
    }
    void Settings(const char *notify)
    {
        write_key_values(KORV_INFO_CONF, {{"autoblock_attempts", "5"},
                                          {"autoblock_attempt_min", "10"},
                                          {"autoblock_notify", notify},
                                          {"eventsmtp", "127.0.0.1"},
                                          {"eventport", "2525"},
                                          {"eventmail1", "admin@example.com"}});
    }
};

TEST_F(AutoBlockNotice, MailWithTheFourTags)
{
    Settings("yes");
    SmtpServer server(2525);
    ASSERT_TRUE(server.started());
    ASSERT_EQ(0, KORVAutoBlockIPAdd("10.20.30.40"));
    auto got = server.messages(1);
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ(" 10.20.30.40 blocked", got[0].subject());
    // The time as ctime gives it, without its line end.
    std::string body = got[0].body();
    EXPECT_TRUE(std::regex_match(body, std::regex("10\\.20\\.30\\.40 at [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] "
                                                  "[0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}: 5 in 10 min\n")))
        << body;
}

TEST_F(AutoBlockNotice, NoMailWhenNotifyIsOff)
{
    Settings("no");
    SmtpServer server(2525);
    ASSERT_TRUE(server.started());
    ASSERT_EQ(0, KORVAutoBlockIPAdd("10.20.30.40"));
    EXPECT_TRUE(server.messages(1, 2000).empty());
}

}  // namespace
