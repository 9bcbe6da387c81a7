// Notices through the plug-in to a real SMTP server in the sandbox: what it receives, and what
// a refusing or absent server leaves in the event log and syslog.
#include <sys/mount.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "device_net.h"
#include "device_tree.h"
#include "../eventlog/eventlog_test.h"
#include "korv/file.h"
#include "korv/hash.h"
#include "korv/mail.h"
#include "korv_staging_record.h"
#include "korvtest.h"
#include "smtp_server.h"

using namespace korvtest;

namespace {

const char *const kTemplate = "/usr/korv/korvman/webman/texts/enu/mails";
constexpr int kPort = 2525;

class MailSend : public testing::Test {
protected:
    void SetUp() override
    {
        set_network({loopback(), ethernet("eth0", "192.168.1.10")});
        write_key_values(KORV_INFO_DEFAULTS, {{"mailfrom", "Vaultmere"}});
        write_file(kTemplate, "[AutoBlockAdd]\nSubject: Blocked %CLIENT_IP%\n\nThe address %CLIENT_IP% was blocked "
                              "on %HOSTNAME%.\nSee %HTTP_URL%\n[Other]\nSubject: no\n");
    }
    void Settings(std::map<std::string, std::string> more = {})
    {
        std::map<std::string, std::string> keys{{"eventsmtp", "127.0.0.1"},
                                                {"eventport", std::to_string(kPort)},
                                                {"eventmail1", "first@example.com"},
                                                {"eventmail2", "second@example.com"}};
        for (auto &[k, v] : more)
            keys[k] = v;
        write_key_values(KORV_INFO_CONF, keys);
    }
    // Sends the notice and waits for the child: its wait status.
    int Send(const char *ip = "10.9.8.7", const char *to = nullptr)
    {
        PKORLSZHASH tags = PshKORLSzHashAlloc(512);
        KORLSzHashSetValue(&tags, "%CLIENT_IP%", ip);
        struct timespec a, b;
        clock_gettime(CLOCK_MONOTONIC, &a);
        int pid = KORVMailSendTo("AutoBlockAdd", &tags, to);
        clock_gettime(CLOCK_MONOTONIC, &b);
        KORLSzHashFree(tags);
        EXPECT_GT(pid, 0);
        // The caller never waits for the mail (the child's own work takes far longer).
        EXPECT_LT((b.tv_sec - a.tv_sec) * 1000 + (b.tv_nsec - a.tv_nsec) / 1000000, 1000);
        return pid > 0 ? wait_child(pid) : -1;
    }
    std::vector<logtest::Record> MailEvents()
    {
        std::vector<logtest::Record> found;
        if (!file_exists(logtest::kSysLog))
            return found;
        for (const logtest::Record &r : logtest::walk(logtest::kSysLog))
            if (r.code == KORV_EVENT_MAIL_FAILED)
                found.push_back(r);
        return found;
    }
};

TEST_F(MailSend, ReachesTheServer)
{
    Settings();
    SmtpServer server(kPort);
    ASSERT_TRUE(server.started());
    int status = Send();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
    auto got = server.messages(1);
    ASSERT_EQ(1u, got.size());
    const SmtpMessage &m = got[0];
    EXPECT_EQ("first@example.com", m.from);
    EXPECT_EQ("", m.login);
    EXPECT_EQ((std::vector<std::string>{"second@example.com", "first@example.com"}), m.to);
    EXPECT_EQ(" Blocked 10.9.8.7", m.subject());
    EXPECT_EQ("The address 10.9.8.7 was blocked on vaultmere.\nSee http://192.168.1.10:5000/\n", m.body());
    EXPECT_NE(std::string::npos, m.header("From").find("vaultmere - Vaultmere"));
    EXPECT_NE(std::string::npos, m.header("From").find("<first@example.com>"));
    EXPECT_EQ("text/plain; charset=utf-8", m.header("Content-Type"));
    EXPECT_TRUE(MailEvents().empty());
}

// The updater keeps a record of its rewrites' copies while it sends notices: the mail child,
// which closes its descriptors and makes copies of its own, writes nothing into it nor through
// its number, so the server receives the notice as it was written.
TEST_F(MailSend, SendersStagingRecordStaysOutOfTheMail)
{
    Settings();
    SmtpServer server(kPort);
    ASSERT_TRUE(server.started());
    korv::StagingRecordBegin("/var/log/korvupdate.staging");
    int status = Send();
    const std::string record = read_file("/var/log/korvupdate.staging");
    korv::StagingRecordEnd();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
    auto got = server.messages(1);
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ(" Blocked 10.9.8.7", got[0].subject());
    EXPECT_EQ("The address 10.9.8.7 was blocked on vaultmere.\nSee http://192.168.1.10:5000/\n", got[0].body());
    EXPECT_EQ(std::string::npos, got[0].raw.find("/tmp/tempmail")) << got[0].raw;
    EXPECT_EQ(std::string::npos, record.find("/tmp/tempmail")) << record;
    EXPECT_FALSE(syslog_contains("fail to note")) << syslog_dump();
}

TEST_F(MailSend, LogsInWhenAUserIsGiven)
{
    Settings({{"eventauth", "yes"}, {"eventuser", "notify"}, {"eventpass", "s3cret"}});
    SmtpServer server(kPort, "notify", "s3cret");
    ASSERT_TRUE(server.started());
    Send();
    auto got = server.messages(1);
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ("notify", got[0].login);
    EXPECT_TRUE(MailEvents().empty());
}

TEST_F(MailSend, ExplicitRecipientOnly)
{
    Settings();
    SmtpServer server(kPort);
    ASSERT_TRUE(server.started());
    Send("10.0.0.1", "admin@example.org");
    auto got = server.messages(1);
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ(std::vector<std::string>{"admin@example.org"}, got[0].to);
    EXPECT_EQ("first@example.com", got[0].from);
}

TEST_F(MailSend, LongSubjectStaysOneWholeEncodedWord)
{
    Settings();
    // Three-byte characters: a cut anywhere but between them would break the text.
    std::string subject;
    for (int i = 0; i < 300; ++i)
        subject += "\xe2\x82\xac";
    write_file(kTemplate, "[AutoBlockAdd]\nSubject:" + subject + "\nbody\n");
    SmtpServer server(kPort);
    ASSERT_TRUE(server.started());
    Send();
    auto got = server.messages(1);
    ASSERT_EQ(1u, got.size());
    std::string raw = got[0].header("Subject");
    EXPECT_EQ(0u, raw.find("=?UTF-8?B?"));
    EXPECT_EQ("?=", raw.substr(raw.size() - 2));
    EXPECT_LE(raw.size(), 511u);
    std::string decoded = got[0].subject();
    EXPECT_FALSE(decoded.empty());
    EXPECT_EQ(0u, decoded.size() % 3);
    EXPECT_EQ(0u, subject.find(decoded));
}

TEST_F(MailSend, RefusingServerIsAnEvent)
{
    Settings();
    SmtpServer server(kPort, true);
    ASSERT_TRUE(server.started());
    Send();
    EXPECT_TRUE(server.messages(0, 0).empty());
    auto events = MailEvents();
    ASSERT_EQ(1u, events.size());
    EXPECT_EQ(3u, events[0].level);
    EXPECT_FALSE(events[0].texts[0].empty());
    EXPECT_TRUE(syslog_has_pattern("mail_smtp_error_call_back.cpp (<L>) Failed to send email. (" + events[0].texts[0] +
                                   ")"))
        << syslog_dump();
}

TEST_F(MailSend, AbsentServerIsAnEvent)
{
    Settings();
    Send();
    auto events = MailEvents();
    ASSERT_EQ(1u, events.size());
    EXPECT_NE(std::string::npos, events[0].texts[0].find("onnect")) << events[0].texts[0];
    EXPECT_TRUE(syslog_contains("Failed to send email. (" + events[0].texts[0] + ")")) << syslog_dump();
}

TEST_F(MailSend, NothingWithoutServerOrFirstRecipient)
{
    SmtpServer server(kPort);
    ASSERT_TRUE(server.started());
    for (auto keys : {std::map<std::string, std::string>{{"eventmail1", ""}},
                      std::map<std::string, std::string>{{"eventsmtp", ""}}}) {
        Settings(keys);
        syslog_clear();
        int status = Send("10.0.0.1", "admin@example.org");
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_TRUE(syslog_lines().empty()) << syslog_dump();
    }
    EXPECT_TRUE(server.messages(0, 0).empty());
    EXPECT_TRUE(MailEvents().empty());
}

TEST_F(MailSend, MissingPluginEndsTheChildQuietly)
{
    Settings();
    // The plug-in is looked for at its device path only; a tree without it sends nothing.
    ASSERT_TRUE(mount_small_disk("/usr/lib"));
    int status = Send();
    EXPECT_EQ(0, umount("/usr/lib"));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(syslog_contains("dlopen failed. (")) << syslog_dump();
}

TEST_F(MailSend, CallersBufferedOutputWrittenOnce)
{
    Settings({{"eventsmtp", ""}});
    FILE *fp = fopen("/tmp/caller.out", "w");
    ASSERT_NE(nullptr, fp);
    fputs("buffered by the caller\n", fp);
    Send();
    fclose(fp);
    EXPECT_EQ("buffered by the caller\n", read_file("/tmp/caller.out"));
}

}  // namespace
