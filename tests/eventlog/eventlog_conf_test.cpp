// The classes, "/etc/korvlog.conf" with its defaults and size settings, and the user recorded.
#include <stdlib.h>
#include <sys/stat.h>
#include <syslog.h>

#include <string>
#include <vector>

#include "case_label.h"
#include "eventlog_test.h"
#include "korv/error.h"
#include "../user/user_test_util.h"

using namespace korvtest;
using namespace logtest;
using korvtest::mark_error;

namespace {

const char kDefaultConf[] =
    "syslogfile\t=\t\"/var/log/korvsys.log\"\n"
    "syslogfilesize_MAX\t=\t\"65536\"\n"
    "manlogfile\t=\t\"/var/log/korvman1.log\"\n"
    "manlogfilesize_MAX\t=\t\"65536\"\n"
    "connlogfile\t=\t\"/var/log/korvconn.log\"\n"
    "connlogfilesize_MAX\t=\t\"65536\"\n"
    "bkplogfile\t=\t\"/var/log/korvbackup.log\"\n"
    "bkplogfilesize_MAX\t=\t\"65536\"\n"
    "copylogfile\t=\t\"/var/log/korvcopy.log\"\n"
    "copylogfilesize_MAX\t=\t\"65536\"\n"
    "netbkplogfile\t=\t\"/var/log/korvnetbkp.log\"\n"
    "netbkplogfilesize_MAX\t=\t\"65536\"\n"
    "surlogfile\t=\t\"/var/log/korvsur.log\"\n"
    "surlogfilesize_MAX\t=\t\"65536\"\n";

// An unwrapped ring of `bytes` bytes in records of 200, as another program left it.
std::string filled_ring(size_t bytes)
{
    std::string body;
    int n = 0;
    while (16 + body.size() + 200 <= bytes)
        body += encode(1, 7, 1000, "old", "admin", {"old " + std::to_string(n++) + std::string(200 - 24 - 8 - 4 - 4, '.'), "", "", ""});
    return header(16, uint32_t(16 + body.size())) + body;
}

TEST(LogClass, OutOfRangeAndFourWriteNothing)
{
    for (int cls : {0, 9, -1, 4}) {
        syslog_clear();
        EXPECT_EQ(-1, KORVLogSet1(cls, 1, 1, "a", "b", "c", "d")) << cls;
        EXPECT_EQ(cls != 4, syslog_has("logclass error!")) << cls;
    }
    EXPECT_FALSE(file_exists(KORV_LOG_CONF));
    for (const char *f : {"/var/log/korvsys.log", "/var/log/korvconn.log", "/var/log/korvman1.log"})
        EXPECT_FALSE(file_exists(f)) << f;
}

TEST(LogClass, EachClassWritesItsFile)
{
    set_conf(kDefaultConf);
    const struct {
        int cls;
        const char *file;
    } classes[] = {{1, "/var/log/korvsys.log"},    {2, "/var/log/korvsys.log"},   {3, "/var/log/korvconn.log"},
                   {5, "/var/log/korvbackup.log"}, {6, "/var/log/korvcopy.log"}, {7, "/var/log/korvnetbkp.log"},
                   {8, "/var/log/korvsur.log"}};
    for (const auto &c : classes) {
        ASSERT_EQ(0, KORVLogSet1(c.cls, 1, unsigned(c.cls), "x", nullptr, nullptr, nullptr)) << c.cls;
        const std::vector<Record> records = walk(c.file);
        ASSERT_FALSE(records.empty()) << c.file;
        EXPECT_EQ(uint32_t(c.cls), records.back().code) << c.file;
        struct stat st {};
        ASSERT_EQ(0, stat(c.file, &st));
        EXPECT_EQ(0600u, st.st_mode & 07777) << c.file;
    }
    EXPECT_EQ(2u, walk("/var/log/korvsys.log").size());
    EXPECT_FALSE(file_exists("/var/log/korvman1.log"));
    EXPECT_TRUE(syslog_has("KORV : log file /etc/korvlog.conf opened", LOG_INFO));
}

TEST(LogClass, FileKeyNamesTheLog)
{
    set_conf("connlogfile=\"/var/log/elsewhere.log\"\n");
    ASSERT_EQ(0, KORVLogSet1(3, 1, 3, "x", nullptr, nullptr, nullptr));
    EXPECT_EQ(1u, walk("/var/log/elsewhere.log").size());
    EXPECT_FALSE(file_exists("/var/log/korvconn.log"));
    // A path that does not fit the 32-byte value buffer falls back to the default file.
    set_conf("connlogfile=\"/var/log/a-rather-long-log-file-name.log\"\n");
    ASSERT_EQ(0, KORVLogSet1(3, 1, 3, "y", nullptr, nullptr, nullptr));
    EXPECT_EQ(1u, walk("/var/log/korvconn.log").size());
}

// The first call writes the default configuration and uses the class's built-in maximum
// (131072 for the system log); later calls read 65536 from that file and shrink to it.
TEST(LogConf, FirstCallWritesDefaultsAndUsesBuiltInMaximum)
{
    const std::string before = filled_ring(100000);
    write_file(kSysLog, before, 0600);
    ASSERT_EQ(0, KORVLogSet1(1, 1, 1, "first", nullptr, nullptr, nullptr));
    EXPECT_EQ(kDefaultConf, read_file(KORV_LOG_CONF));
    EXPECT_EQ(before.substr(16), read_file(kSysLog).substr(16, before.size() - 16));  // nothing dropped
    EXPECT_EQ("first", walk(kSysLog).back().texts[0]);

    ASSERT_EQ(0, KORVLogSet1(1, 1, 1, "second", nullptr, nullptr, nullptr));
    EXPECT_LE(read_file(kSysLog).size(), 65536u);
    const std::vector<Record> records = walk(kSysLog);
    ASSERT_GE(records.size(), 2u);
    EXPECT_EQ("first", records[records.size() - 2].texts[0]);
    EXPECT_EQ("second", records.back().texts[0]);
}

// The caller's error code survives a write whose configuration lacks its keys and whose user
// cannot be looked up.
TEST(LogConf, CallerErrorCodeKept)
{
    set_conf("# nothing set\n");
    unsetenv("USERNAME");
    mark_error();
    ASSERT_EQ(0, KORVLogSet1(3, 1, 1, "x", nullptr, nullptr, nullptr));
    EXPECT_EQ(korvtest::kUntouched, KORLErrGet());
    EXPECT_EQ(1u, walk("/var/log/korvconn.log").size());
}

TEST(LogConf, NewFileHeader)
{
    setenv("USERNAME", "u", 1);
    ASSERT_EQ(0, KORVLogSet1(1, 1, 1, nullptr, nullptr, nullptr, nullptr));
    const std::string f = read_file(kSysLog);
    const uint32_t len = uint32_t(24 + std::string(program_invocation_short_name).size() + 1);
    EXPECT_EQ(header(16, 16 + len), f.substr(0, 16));
    EXPECT_EQ(16 + len, f.size());
    unsetenv("USERNAME");
}

TEST(LogConf, UnwritableConfigurationFails)
{
    ASSERT_TRUE(mount_read_only("/etc"));
    mark_error();
    EXPECT_EQ(-1, KORVLogSet1(1, 1, 1, "x", nullptr, nullptr, nullptr));
    EXPECT_EQ(KORL_ERR_OPEN, KORLErrGet());
    EXPECT_FALSE(file_exists(kSysLog));
}

// A size setting that cannot hold the header, one record and the end marker, or that does not
// read as a number that fits, counts as absent: the built-in maximum applies and nothing is
// shrunk.
TEST(LogConf, SizeSettings)
{
    enum Effect { Absent, Refuses, Shrinks };
    const struct {
        const char *value;
        Effect effect;
    } cases[] = {{"41", Absent},  {"0", Absent},     {"-5", Absent},    {"junk", Absent},
                 {"99999999999", Absent}, {"42", Refuses}, {"3000", Shrinks}};
    for (const auto &c : cases) {
        const std::string before = filled_ring(5000);
        write_file(kSysLog, before, 0600);
        set_conf(std::string("syslogfilesize_MAX=\"") + c.value + "\"\n");
        const int result = KORVLogSet1(1, 1, 1, "x", nullptr, nullptr, nullptr);
        const std::string after = read_file(kSysLog);
        switch (c.effect) {
        case Absent:
            EXPECT_EQ(0, result) << c.value;
            EXPECT_EQ(before.substr(16), after.substr(16, before.size() - 16)) << c.value;  // nothing dropped
            EXPECT_EQ("x", walk(kSysLog).back().texts[0]) << c.value;
            break;
        case Refuses:  // 42 holds no record of this program: refused, the file as it was
            EXPECT_EQ(-1, result) << c.value;
            EXPECT_EQ(before, after) << c.value;
            break;
        case Shrinks:
            EXPECT_EQ(0, result) << c.value;
            EXPECT_LE(after.size(), 3000u) << c.value;
            EXPECT_EQ("x", walk(kSysLog).back().texts[0]) << c.value;
            break;
        }
    }
}

TEST(LogUser, NameRecorded)
{
    const struct {
        const char *env;
        const char *recorded;
    } cases[] = {{"tester", "tester"}, {"root", "admin"}, {"", ""}};
    for (const auto &c : cases) {
        setenv("USERNAME", c.env, 1);
        ASSERT_EQ(0, KORVLogSet1(1, 1, 1, "x", nullptr, nullptr, nullptr));
        EXPECT_EQ(c.recorded, walk(kSysLog).back().user) << c.env;
    }
    // Without the variable the effective user's name is looked up; without a user database the
    // field stays empty.
    unsetenv("USERNAME");
    ASSERT_EQ(0, KORVLogSet1(1, 1, 1, "x", nullptr, nullptr, nullptr));
    EXPECT_EQ("", walk(kSysLog).back().user);
    usertest::install();
    ASSERT_EQ(0, KORVLogSet1(1, 1, 1, "x", nullptr, nullptr, nullptr));
    EXPECT_EQ("admin", walk(kSysLog).back().user) << "root is recorded as admin";
}

}  // namespace
