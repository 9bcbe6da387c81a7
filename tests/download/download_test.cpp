// The download settings in "/etc/korvinfo.conf" under lock_korvinfo, and the scheduler's signal,
// sent to a helper process of the sandbox that records what it gets.
#include <dirent.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "korv/download.h"
#include "korv/file.h"
#include "korv/file_lock.h"
#include "korvtest.h"
#include "lock_holder.h"
#include "signal_recorder.h"

using namespace korvtest;

namespace {

const char *const kPid = KORV_SCHEDULER_PID;

template <size_t N>
void set_text(char (&field)[N], const std::string &text)
{
    memset(field, 0, N);
    memcpy(field, text.data(), std::min(N, text.size()));
}

KORVDOWNQUARNINFO sample()
{
    KORVDOWNQUARNINFO info {};
    info.enabled = 1;
    set_text(info.when, "always");
    info.order = 1;
    info.ul_rate = 10;
    info.dl_rate = -1;
    info.start_port = 6881;
    info.end_port = 6889;
    info.port_map_enabled = 0;
    info.seeding_ratio = 150;
    info.seeding_interval = 90;
    info.enable_dht = 7;
    info.dhtport = 6890;
    info.btmaxpeers = 50;
    info.btencrypt = 2;
    info.maxtasks = 5;
    info.enable_amule = 0;
    info.amule_ul_rate = 1;
    info.amule_dl_rate = 2;
    info.amule_tcp_port = 4662;
    info.amule_udp_port = 4672;
    info.amule_max_conn = 100;
    info.amule_auto_connect = 1;
    info.amule_enable_obfuscation = 2;
    info.amule_outgoing_obfuscation = 3;
    info.amule_only_obfuscation = 4;
    info.amule_auto_update_server = 5;
    info.ftpmax_enable = 1;
    info.ftpmax = 3;
    info.email_notification = 1;
    set_text(info.rapidshare_user, "rs user");
    set_text(info.rapidshare_password, "rs pass");
    set_text(info.nzb_server, "news.example");
    info.nzb_port = 65535;
    info.nzb_auth = 1;
    set_text(info.nzb_user, "nzb");
    set_text(info.nzb_password, "secret");
    info.nzb_numconn = 8;
    return info;
}

const char kSampleKeys[] =
    "download_enabled=\"yes\"\n"
    "download_order=\"user\"\n"
    "download_when=\"always\"\n"
    "download_ul_rate=\"10\"\n"
    "download_dl_rate=\"-1\"\n"
    "download_start_port=\"6881\"\n"
    "download_end_port=\"6889\"\n"
    "download_port_map_enabled=\"no\"\n"
    "download_seeding_interval=\"90\"\n"
    "download_seeding_ratio=\"150\"\n"
    "download_enable_dht=\"yes\"\n"
    "download_dhtport=\"6890\"\n"
    "download_btencrypt=\"always\"\n"
    "download_btmaxpeers=\"50\"\n"
    "download_enable_amule=\"no\"\n"
    "download_amule_ul_rate=\"1\"\n"
    "download_amule_dl_rate=\"2\"\n"
    "download_amule_tcp_port=\"4662\"\n"
    "download_amule_udp_port=\"4672\"\n"
    "download_amule_max_conn=\"100\"\n"
    "download_amule_auto_connect=\"1\"\n"
    "download_amule_enable_obfuscation=\"2\"\n"
    "download_amule_outgoing_obfuscation=\"3\"\n"
    "download_amule_only_obfuscation=\"4\"\n"
    "download_amule_auto_update_server=\"5\"\n"
    "download_maxtasks=\"5\"\n"
    "download_nzb_server=\"news.example\"\n"
    "download_nzb_port=\"65535\"\n"
    "download_nzb_auth=\"yes\"\n"
    "download_nzb_user=\"nzb\"\n"
    "download_nzb_password=\"secret\"\n"
    "download_nzb_numconn=\"8\"\n"
    "download_ftpmax_enable=\"yes\"\n"
    "download_ftpmax=\"3\"\n"
    "download_email_notification=\"1\"\n"
    "download_rapidshare_user=\"rs user\"\n"
    "download_rapidshare_password=\"rs pass\"\n";

TEST(DownQuarnInfoSet, WritesEveryKeyInOrderThenSignals)
{
    SignalRecorder scheduler(kPid, {SIGHUP, SIGUSR1});
    ASSERT_TRUE(file_exists(kPid));
    // Existing keys are rewritten where they stand, and their later copies dropped.
    write_file(KORV_INFO_CONF, "hostname=\"nas\"\ndownload_enabled=\"no\"\ndownload_enabled=\"x\"\n");
    const KORVDOWNQUARNINFO info = sample();
    ASSERT_EQ(0, KORVDownQuarnInfoSet(&info));
    EXPECT_EQ(std::string("hostname=\"nas\"\n") + kSampleKeys, read_file(KORV_INFO_CONF));
    EXPECT_EQ(std::vector<int>{SIGHUP}, scheduler.Got(1));
    // The lock was released.
    EXPECT_EQ(0, ErrKORLFileLock(KORL_LOCK_KORVINFO | LOCK_EX | LOCK_NB, 0));
    ErrKORLFileUnlock(KORL_LOCK_KORVINFO);
}

TEST(DownQuarnInfoSet, WrittenForms)
{
    const struct {
        const char *name;
        void (*change)(KORVDOWNQUARNINFO &);
        const char *key;
        const char *value;
    } cases[] = {
        {"OrderZero", [](KORVDOWNQUARNINFO &i) { i.order = 0; }, "download_order", "request"},
        {"OrderTwo", [](KORVDOWNQUARNINFO &i) { i.order = 2; }, "download_order", "request"},
        {"EncryptDisable", [](KORVDOWNQUARNINFO &i) { i.btencrypt = 0; }, "download_btencrypt", "disable"},
        {"EncryptAuto", [](KORVDOWNQUARNINFO &i) { i.btencrypt = 1; }, "download_btencrypt", "auto"},
        {"SmallestInt", [](KORVDOWNQUARNINFO &i) { i.maxtasks = -2147483647 - 1; }, "download_maxtasks",
         "-2147483648"},
        // Full text fields without a NUL end at the field's size.
        {"FullWhen", [](KORVDOWNQUARNINFO &i) { memset(i.when, 'w', sizeof i.when); }, "download_when",
         "wwwwwwwwwwww"},
        {"FullNzbServer", [](KORVDOWNQUARNINFO &i) { memset(i.nzb_server, 's', sizeof i.nzb_server); },
         "download_nzb_server", "ssssssssssssssssssssssssssssssssssssssssssssssssssssssssssssssss"},
        {"FullRapidsharePassword",
         [](KORVDOWNQUARNINFO &i) { memset(i.rapidshare_password, 'p', sizeof i.rapidshare_password); },
         "download_rapidshare_password", "pppppppppppppppppppppppppppppppp"},
    };
    for (const auto &c : cases) {
        write_file(KORV_INFO_CONF, "");
        KORVDOWNQUARNINFO info = sample();
        c.change(info);
        ASSERT_EQ(0, KORVDownQuarnInfoSet(&info)) << c.name;
        char value[128] = "";
        EXPECT_LT(0, KORLFileGetKeyValue(KORV_INFO_CONF, c.key, value, sizeof value, 0)) << c.name;
        EXPECT_STREQ(c.value, value) << c.name;
    }
}

TEST(DownQuarnInfoSet, EncryptOutOfRangeStopsAtItsKey)
{
    SignalRecorder scheduler(kPid, {SIGHUP, SIGUSR1});
    write_file(KORV_INFO_CONF, "");
    KORVDOWNQUARNINFO info = sample();
    info.btencrypt = 3;
    EXPECT_EQ(-1, KORVDownQuarnInfoSet(&info));
    // The first twelve keys are written, none after.
    const std::string all = kSampleKeys;
    size_t at = 0;
    for (int i = 0; i < 12; ++i)
        at = all.find('\n', at) + 1;
    EXPECT_EQ(all.substr(0, at), read_file(KORV_INFO_CONF));
    EXPECT_TRUE(syslog_has_pattern("downquarn_info_set.c (<L>) There is an error here.")) << syslog_dump();
    EXPECT_TRUE(scheduler.Got(1, 200).empty());
    EXPECT_EQ(0, ErrKORLFileLock(KORL_LOCK_KORVINFO | LOCK_EX | LOCK_NB, 0));
    ErrKORLFileUnlock(KORL_LOCK_KORVINFO);
}

// A text that would break its quoted line is refused before the first key is written.
TEST(DownQuarnInfoSet, LineBreakingTextsLeaveTheFileAsItWas)
{
    const char before[] = "hostname=\"nas\"\ndownload_enabled=\"no\"\n";
    for (const char *bad : {"a\"b", "a\nb", "a\rb"}) {
        write_file(KORV_INFO_CONF, before);
        KORVDOWNQUARNINFO info = sample();
        set_text(info.rapidshare_password, bad);  // the last key
        EXPECT_EQ(-1, KORVDownQuarnInfoSet(&info)) << bad;
        EXPECT_EQ(before, read_file(KORV_INFO_CONF)) << bad;
    }
    EXPECT_EQ(0, ErrKORLFileLock(KORL_LOCK_KORVINFO | LOCK_EX | LOCK_NB, 0));
    ErrKORLFileUnlock(KORL_LOCK_KORVINFO);
    EXPECT_EQ(-1, KORVDownQuarnInfoSet(nullptr));
}

TEST(DownQuarnInfoSet, LockHeldElsewhereWritesNothing)
{
    write_file(KORV_INFO_CONF, "hostname=\"nas\"\n");
    Holder holder(KORL_LOCK_KORVINFO | LOCK_SH);
    ASSERT_TRUE(holder.obtained());
    const time_t start = time(nullptr);
    const KORVDOWNQUARNINFO info = sample();
    EXPECT_EQ(-1, KORVDownQuarnInfoSet(&info));
    EXPECT_GE(time(nullptr) - start, 4);
    EXPECT_EQ("hostname=\"nas\"\n", read_file(KORV_INFO_CONF));
}

volatile sig_atomic_t gOwnSignals = 0;
void count_signal(int)
{
    gOwnSignals = gOwnSignals + 1;
}

int open_fds()
{
    int n = 0;
    if (DIR *d = opendir("/proc/self/fd")) {
        while (readdir(d))
            ++n;
        closedir(d);
    }
    return n;
}

TEST(DownQuarnSchedulerSignal, ContentsOfThePidFile)
{
    signal(SIGUSR1, count_signal);
    // The log connection is made first: a failure's message may be the process's first.
    openlog(nullptr, LOG_NDELAY, LOG_USER);
    const int fds = open_fds();
    const struct {
        const char *content;  // nullptr: no pid file
        int result;
    } cases[] = {{nullptr, 0}, {"", -1}, {"0\n", 0}, {"-1\n", 0}, {"junk\n", 0}, {"-2147483648", 0}};
    for (const auto &c : cases) {
        remove_tree(kPid);
        if (c.content)
            write_file(kPid, c.content);
        EXPECT_EQ(c.result, KORVDownQuarnSchedulerSignal(SIGUSR1)) << (c.content ? c.content : "no file");
    }
    // A scheduler that has exited.
    const pid_t gone = fork();
    if (gone == 0)
        _exit(0);
    waitpid(gone, nullptr, 0);
    write_file(kPid, std::to_string(gone) + "\n");
    EXPECT_EQ(0, KORVDownQuarnSchedulerSignal(SIGUSR1));
    // A pid file that cannot be read as a file.
    remove_tree(kPid);
    make_dirs(kPid);
    EXPECT_EQ(-1, KORVDownQuarnSchedulerSignal(SIGUSR1));
    EXPECT_TRUE(syslog_has_pattern("downquarn_info_set.c (<L>) Failed to open scheduler pid. Is a directory (21)"))
        << syslog_dump();
    // A pid of 0 or less signals nothing, this process's group included; every path closes the
    // pid file.
    EXPECT_EQ(0, gOwnSignals);
    EXPECT_EQ(fds, open_fds());
    signal(SIGUSR1, SIG_DFL);
}

TEST(DownQuarnSchedulerSignal, ReachesTheScheduler)
{
    SignalRecorder scheduler(kPid, {SIGHUP, SIGUSR1});
    ASSERT_TRUE(file_exists(kPid));
    EXPECT_EQ(0, KORVDownQuarnSchedulerSignal(SIGUSR1));
    EXPECT_EQ(std::vector<int>{SIGUSR1}, scheduler.Got(1));
    EXPECT_EQ(0, KORVDownQuarnSchedulerSignal(SIGHUP));
    EXPECT_EQ((std::vector<int>{SIGUSR1, SIGHUP}), scheduler.Got(2));
    EXPECT_EQ(1, KORLAlwaysTrue());
    EXPECT_EQ(1, KORLAlwaysTrue2());
}

}  // namespace
