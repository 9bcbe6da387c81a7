// Notice texts: the tag's block of the template, the tags filled, subject and body apart; the
// settings, the message structure, DDNS accounts and the date.
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "case_label.h"
#include "device_net.h"
#include "device_tree.h"
#include "korv/file.h"
#include "korv/hash.h"
#include "korv/mail.h"
#include "korvtest.h"

using namespace korvtest;

namespace {

const char *const kTemplate = "/usr/korv/korvman/webman/texts/enu/mails";

struct Text {
    int rc;
    std::string subject, body;
};

Text Read(PKORLSZHASH *tags, const char *tag = "AutoBlockAdd", int subjectSize = 512, int bodySize = 4096)
{
    std::string subject(static_cast<size_t>(subjectSize > 0 ? subjectSize : 1), '\0');
    std::string body(static_cast<size_t>(bodySize > 0 ? bodySize : 1), '\0');
    Text t;
    t.rc = KORVMailReadByTagAndConvert("enu", tag, subject.data(), subjectSize, body.data(), bodySize, tags);
    t.subject = subject.c_str();
    t.body = body.c_str();
    return t;
}

struct Tags {
    PKORLSZHASH hash = PshKORLSzHashAlloc(512);
    ~Tags() { KORLSzHashFree(hash); }
    void set(const char *k, const char *v) { KORLSzHashSetValue(&hash, k, v); }
};

struct BlockCase {
    const char *name;
    const char *tmpl;
    int rc;
    const char *subject;
    const char *body;
};

const BlockCase kBlockCases[] = {
    {"SubjectKeepsItsBlankEmptyLineDropped",
     "[Other]\nSubject: no\nother body\n[AutoBlockAdd]\nSubject: Blocked %CLIENT_IP%\n\nline one\nline two\n"
     "[Next]\nSubject: x\n",
     0, " Blocked 10.1.2.3", "line one\nline two\n"},
    {"BlockAtEndOfFileIsWhole", "[AutoBlockAdd]\nSubject:end\nlast line", 0, "end", "last line\n"},
    {"HeaderWithBlanksAfterBracket", "[AutoBlockAdd]  \t\nSubject: s\nb\n", 0, " s", "b\n"},
    {"TrailingBlanksGoLeadingStay", "[AutoBlockAdd]\nSubject: s \r\nfirst\n  indented \t\r\nplain\n", 0, " s",
     "first\n  indented\nplain\n"},
    {"TextBeforeSubjectStays", "[AutoBlockAdd]\nDear admin,\nSubject: s\n\n\nbody\n", 0, " s", "Dear admin,\nbody\n"},
    {"LongerHeaderDoesNotMatch", "[AutoBlockAdd2]\nSubject: s\nb\n", -1, "", ""},
    {"NoSubjectLine", "[AutoBlockAdd]\nbody only\n", -1, "", ""},
    {"ShortBracketLineDoesNotEndBlock", "[AutoBlockAdd]\nSubject: s\n[\nafter\n", 0, " s", "[\nafter\n"},
};

// The tags need the interface list; a tree has no network until a test lays one out.
class MailText : public testing::Test {
protected:
    void SetUp() override { set_network({loopback(), ethernet("eth0", "192.168.1.10")}); }
};

class MailBlock : public testing::TestWithParam<BlockCase> {
protected:
    void SetUp() override { set_network({loopback()}); }
};

void PrintTo(const BlockCase &c, std::ostream *os)
{
    *os << c.name;
}

TEST_P(MailBlock, SubjectAndBody)
{
    const BlockCase &c = GetParam();
    write_file(kTemplate, c.tmpl);
    Tags tags;
    tags.set("%CLIENT_IP%", "10.1.2.3");
    Text t = Read(&tags.hash);
    EXPECT_EQ(c.rc, t.rc);
    if (c.rc == 0) {
        EXPECT_EQ(c.subject, t.subject);
        EXPECT_EQ(c.body, t.body);
    }
    EXPECT_FALSE(file_exists("/tmp/tempmail." + std::to_string(getpid())));
}

INSTANTIATE_TEST_SUITE_P(Cases, MailBlock, testing::ValuesIn(kBlockCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(MailText, MissingBlockIsReportedAsAnEvent)
{
    write_file(kTemplate, "[Other]\nSubject: s\n");
    EXPECT_EQ(-1, Read(nullptr).rc);
    EXPECT_TRUE(syslog_has_pattern("mail_smtp_error_call_back.cpp (<L>) Failed to send email. (Failed to found mail "
                                   "tag)"))
        << syslog_dump();
    EXPECT_TRUE(syslog_has_pattern("mail_read_by_tag_and_convert.cpp (<L>) Failed to read mail tag [AutoBlockAdd]."));
}

TEST_F(MailText, CutToTheBuffers)
{
    write_file(kTemplate, "[AutoBlockAdd]\nSubject: 0123456789\nabcdefghij\n");
    Text t = Read(nullptr, "AutoBlockAdd", 5, 4);
    EXPECT_EQ(0, t.rc);
    EXPECT_EQ(" 012", t.subject);
    EXPECT_EQ("abc", t.body);
    EXPECT_EQ(-1, Read(nullptr, "AutoBlockAdd", 0, 4).rc);
}

TEST_F(MailText, TempFileNeverFollowsALink)
{
    // Whatever waits at the temporary name is not written through.
    write_file("/etc/victim", "untouched\n");
    std::string temp = "/tmp/tempmail." + std::to_string(getpid());
    ASSERT_EQ(0, symlink("/etc/victim", temp.c_str()));
    write_file(kTemplate, "[AutoBlockAdd]\nSubject: s\nbody\n");
    Text t = Read(nullptr);
    EXPECT_EQ(0, t.rc);
    EXPECT_EQ("body\n", t.body);
    EXPECT_EQ("untouched\n", read_file("/etc/victim"));
    struct stat st;
    EXPECT_NE(0, lstat(temp.c_str(), &st));
}

TEST(MailTags, LibraryTagsFilled)
{
    write_key_values(KORV_INFO_DEFAULTS, {{"mailfrom", "Vaultmere Inc"}});
    set_network({loopback(), ethernet("eth0", "192.168.1.10"), ethernet("eth1", "0.0.0.0"),
                 ethernet("eth2", "10.0.0.2")});
    write_file(kTemplate, "[AutoBlockAdd]\nSubject: %HOSTNAME% %CLIENT_IP%\n%COMPANY_NAME%|%IP_ADDR%|%HTTP_URL%\n"
                          "%DATE% %TIME%\n");
    Tags tags;
    tags.set("%CLIENT_IP%", "1.2.3.4");
    tags.set("%HOSTNAME%", "overwritten");
    time_t before = time(nullptr);
    Text t = Read(&tags.hash);
    ASSERT_EQ(0, t.rc);
    EXPECT_EQ(" vaultmere 1.2.3.4", t.subject);
    std::string first = t.body.substr(0, t.body.find('\n'));
    EXPECT_EQ("Vaultmere Inc|192.168.1.10, 10.0.0.2|http://192.168.1.10:5000/, http://10.0.0.2:5000/", first);
    struct tm tm;
    localtime_r(&before, &tm);
    char day[32];
    snprintf(day, sizeof day, "%d/%02d/%02d ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    EXPECT_EQ(0u, t.body.substr(first.size() + 1).find(day)) << t.body;
}

TEST(MailTags, DdnsLinkWithoutAnyAddress)
{
    set_network({loopback()});
    write_key_values(KORV_INFO_CONF, {{"ddns_update", "yes"}, {"ddns_select", "home"}});
    write_file(KORV_DDNS_CONF, "[home]\nhostname=nas.example.net\nusername=u\npasswd=p\n");
    write_file(kTemplate, "[AutoBlockAdd]\nSubject: s\n<%IP_ADDR%><%HTTP_URL%>\n");
    Text t = Read(nullptr);
    ASSERT_EQ(0, t.rc);
    EXPECT_EQ("<><, http://nas.example.net:5000/>\n", t.body);
}

TEST(MailTags, EightInterfacesAndLongDdnsHostStayBounded)
{
    // Eight addresses: the loopback left out of "/proc/net/dev", whose first eight are listed.
    NetInterface lo = loopback();
    lo.listed = false;
    std::vector<NetInterface> nets{lo};
    for (int i = 0; i < 8; ++i)
        nets.push_back(ethernet("eth" + std::to_string(i), "192.168.100." + std::to_string(200 + i)));
    set_network(nets);
    std::string host(127, 'h');
    write_key_values(KORV_INFO_CONF, {{"ddns_update", "yes"}, {"ddns_select", "home"}});
    write_file(KORV_DDNS_CONF, "[home]\nhostname=" + host + "\nusername=u\npasswd=p\n");
    write_file(kTemplate, "[AutoBlockAdd]\nSubject: s\n%IP_ADDR%\n%HTTP_URL%\n");
    Text t = Read(nullptr);
    ASSERT_EQ(0, t.rc);
    std::string addrs = t.body.substr(0, t.body.find('\n'));
    std::string urls = t.body.substr(addrs.size() + 1, t.body.size() - addrs.size() - 2);
    EXPECT_EQ(0u, addrs.find("192.168.100.200, 192.168.100.201"));
    EXPECT_NE(std::string::npos, addrs.find("192.168.100.207")) << t.body;
    EXPECT_LT(urls.size(), 256u);
    // Whole links only: the text never ends inside one.
    EXPECT_EQ(":5000/", urls.substr(urls.size() - 6)) << urls;
    EXPECT_EQ(0u, urls.find("http://192.168.100.200:5000/, "));
}

struct SettingsCase {
    const char *name;
    std::map<std::string, std::string> keys;
    int port, auth, ssl;
};

const SettingsCase kSettingsCases[] = {
    {"PortAbsent", {{"eventsmtp", "mx"}}, 25, 0, 0},
    {"PortZero", {{"eventport", "0"}}, 25, 0, 0},
    {"PortEmpty", {{"eventport", ""}}, 25, 0, 0},
    {"PortSet", {{"eventport", "587"}}, 587, 0, 0},
    {"AuthCapitals", {{"eventauth", "YES"}, {"eventusessl", "Yes"}}, 25, 1, 1},
    {"AuthNo", {{"eventauth", "no"}, {"eventusessl", "y"}}, 25, 0, 0},
};

class MailSettings : public testing::TestWithParam<SettingsCase> {};

TEST_P(MailSettings, Read)
{
    const SettingsCase &c = GetParam();
    write_key_values(KORV_INFO_CONF, c.keys);
    KORVMAILCONF conf;
    ASSERT_EQ(0, KORVMailGet(&conf));
    EXPECT_EQ(c.port, conf.port);
    EXPECT_EQ(c.auth, conf.auth);
    EXPECT_EQ(c.ssl, conf.ssl);
    EXPECT_STREQ(c.keys.count("eventsmtp") ? "mx" : "", conf.szServer);
    EXPECT_STREQ("", conf.szMail2);
    KORVMailFree(&conf);
    EXPECT_EQ(nullptr, conf.szServer);
}

INSTANTIATE_TEST_SUITE_P(Cases, MailSettings, testing::ValuesIn(kSettingsCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(MailSettingsFile, TooLongValueFails)
{
    write_key_values(KORV_INFO_CONF, {{"eventsmtp", std::string(300, 'x')}});
    KORVMAILCONF conf;
    EXPECT_EQ(-1, KORVMailGet(&conf));
    EXPECT_TRUE(syslog_has_pattern("mail_get.cpp (<L>) Failed to get SMTP server setting.")) << syslog_dump();
    EXPECT_EQ(-1, KORVMailGet(nullptr));
}

// What the structure holds for the plug-in, freed as the plug-in frees it.
struct Smtp {
    KORVSMTP s{};
    ~Smtp()
    {
        for (KORVSMTPADDR *list : {s.pTo, s.pFrom}) {
            while (list) {
                KORVSMTPADDR *next = list->pNext;
                free(list->szName);
                free(list->szAddr);
                free(list);
                list = next;
            }
        }
        free(s.szServer);
        free(s.szUser);
        free(s.szPass);
    }
};

std::vector<std::string> Addrs(const KORVSMTPADDR *a)
{
    std::vector<std::string> out;
    for (; a; a = a->pNext)
        out.push_back(a->szAddr ? a->szAddr : "(none)");
    return out;
}

TEST(MailFillSmtp, RecipientsAndSender)
{
    KORVMAILCONF conf{};
    conf.szServer = const_cast<char *>("mx");
    conf.port = 2525;
    conf.szUser = const_cast<char *>("u");
    conf.szPass = const_cast<char *>("p");
    conf.szMail1 = const_cast<char *>("first@example.com");
    conf.szMail2 = const_cast<char *>("second@example.com");
    {
        Smtp smtp;
        ASSERT_EQ(0, KORVMailFillSmtpStruct(&smtp.s, &conf, "nas - Vaultmere", nullptr));
        EXPECT_EQ((std::vector<std::string>{"second@example.com", "first@example.com"}), Addrs(smtp.s.pTo));
        EXPECT_EQ(std::vector<std::string>{"first@example.com"}, Addrs(smtp.s.pFrom));
        EXPECT_STREQ("nas - Vaultmere", smtp.s.pFrom->szName);
        EXPECT_EQ(2525, smtp.s.port);
        EXPECT_EQ(nullptr, smtp.s.szUser);  // only with auth
    }
    {
        conf.auth = 1;
        Smtp smtp;
        ASSERT_EQ(0, KORVMailFillSmtpStruct(&smtp.s, &conf, "n", "only@example.com"));
        EXPECT_EQ(std::vector<std::string>{"only@example.com"}, Addrs(smtp.s.pTo));
        EXPECT_STREQ("u", smtp.s.szUser);
    }
    {
        conf.szMail1 = const_cast<char *>("");
        Smtp smtp;
        ASSERT_EQ(0, KORVMailFillSmtpStruct(&smtp.s, &conf, "n", "only@example.com"));
        EXPECT_EQ(std::vector<std::string>{"only@example.com"}, Addrs(smtp.s.pFrom));
    }
    {
        Smtp smtp;
        ASSERT_EQ(0, KORVMailFillSmtpStruct(&smtp.s, &conf, "n", nullptr));
        EXPECT_EQ((std::vector<std::string>{"second@example.com", "(none)"}), Addrs(smtp.s.pTo));
    }
    conf.szServer = const_cast<char *>("");
    Smtp smtp;
    EXPECT_EQ(-1, KORVMailFillSmtpStruct(&smtp.s, &conf, "n", nullptr));
    EXPECT_TRUE(syslog_has_pattern("mail_fill_smtp_struct.cpp (<L>) SMTP server can't be empty."));
}

TEST(DdnsConfig, Accounts)
{
    write_file(KORV_DDNS_CONF, "[home]\nhostname=nas.example.net\nusername=me\npasswd=pw\n"
                               "[half]\nhostname=h\nusername=u\n");
    KORVDDNSCONF d;
    memset(&d, 'x', sizeof d);
    EXPECT_EQ(0, KORVDDNSConfigGet("absent", &d));
    EXPECT_EQ('x', d.szName[0]);
    ASSERT_EQ(1, KORVDDNSConfigGet("home", &d));
    EXPECT_STREQ("home", d.szName);
    EXPECT_STREQ("nas.example.net", d.szHost);
    EXPECT_STREQ("me", d.szUser);
    EXPECT_STREQ("pw", d.szPass);
    EXPECT_EQ(-1, KORVDDNSConfigGet("half", &d));
    EXPECT_TRUE(syslog_contains("Failed to get by key passwd by name half at /etc/ddns.conf"));
    EXPECT_EQ(-1, KORVDDNSConfigGet(nullptr, &d));
}

TEST(TimeDate, LocalClock)
{
    int date[6];
    time_t before = time(nullptr);
    ASSERT_EQ(0, KORLTimeDateGet(date));
    struct tm tm;
    localtime_r(&before, &tm);
    EXPECT_EQ(tm.tm_year + 1900, date[0]);
    EXPECT_EQ(tm.tm_mon + 1, date[1]);
    EXPECT_EQ(tm.tm_mday, date[2]);
    EXPECT_GE(date[3] * 3600 + date[4] * 60 + date[5], tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec);
    EXPECT_EQ(-1, KORLTimeDateGet(nullptr));
}

}  // namespace
