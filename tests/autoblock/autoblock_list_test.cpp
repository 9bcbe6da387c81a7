// The block list: adds with expiry, duplicates and empty records dropped, the scan's windows,
// failures that leave the list as it was, and adds of two processes at once.
#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "case_label.h"
#include "device_tree.h"
#include "../eventlog/eventlog_test.h"
#include "korv/autoblock.h"
#include "korv/error.h"
#include "korv/file.h"
#include "korvtest.h"
#include "lock_holder.h"

using namespace korvtest;

namespace {

struct Rec {
    uint32_t time;
    std::string addr;  // dotted; "0.0.0.0" for an empty address
    bool operator==(const Rec &o) const { return time == o.time && addr == o.addr; }
};

std::ostream &operator<<(std::ostream &os, const Rec &r)
{
    return os << "{" << r.time << ", " << r.addr << "}";
}

std::string Pack(const std::vector<Rec> &recs)
{
    std::string out;
    for (const Rec &r : recs) {
        for (int i = 0; i < 4; ++i)
            out += static_cast<char>(r.time >> (8 * i));
        struct in_addr a;
        inet_aton(r.addr.c_str(), &a);
        out.append(reinterpret_cast<const char *>(&a.s_addr), 4);
    }
    return out;
}

std::vector<Rec> Unpack(const std::string &bytes)
{
    std::vector<Rec> out;
    for (size_t at = 0; at + 8 <= bytes.size(); at += 8) {
        uint32_t t = 0;
        for (int i = 0; i < 4; ++i)
            t |= uint32_t(uint8_t(bytes[at + size_t(i)])) << (8 * i);
        struct in_addr a;
        memcpy(&a.s_addr, bytes.data() + at + 4, 4);
        out.push_back({t, inet_ntoa(a)});
    }
    return out;
}

void Settings(int expireDays, const char *notify = "no")
{
    write_key_values(KORV_INFO_CONF, {{"autoblock_attempts", "5"},
                                      {"autoblock_attempt_min", "10"},
                                      {"autoblock_expriedday", std::to_string(expireDays)},
                                      {"autoblock_notify", notify}});
}

// An add, with the time it ran between before and after.
struct Added {
    int rc;
    uint32_t before, after;
};

Added Add(const char *addr)
{
    Added a;
    a.before = static_cast<uint32_t>(time(nullptr));
    a.rc = KORVAutoBlockIPAdd(addr);
    a.after = static_cast<uint32_t>(time(nullptr));
    return a;
}

TEST(AutoBlockAdd, MissingListGetsOneRecord)
{
    Settings(0);
    umask(022);
    Added a = Add("192.168.5.6");
    ASSERT_EQ(0, a.rc);
    std::string bytes = read_file(KORV_AUTOBLOCK_LIST);
    ASSERT_EQ(8u, bytes.size());
    Rec r = Unpack(bytes)[0];
    EXPECT_EQ("192.168.5.6", r.addr);
    EXPECT_GE(r.time, a.before);
    EXPECT_LE(r.time, a.after);
    EXPECT_EQ(std::string("\xc0\xa8\x05\x06", 4), bytes.substr(4));  // the dotted form's order
    struct stat st;
    ASSERT_EQ(0, stat(KORV_AUTOBLOCK_LIST, &st));
    EXPECT_EQ(0666u, st.st_mode & 0777);
    EXPECT_FALSE(file_exists(KORV_AUTOBLOCK_LIST_TMP));
    // The umask is the caller's again.
    EXPECT_EQ(022u, umask(022));
}

TEST(AutoBlockAdd, WritesTheEvent)
{
    Settings(0);
    ASSERT_EQ(0, Add("10.0.0.9").rc);
    bool found = false;
    for (const logtest::Record &r : logtest::walk(logtest::kSysLog)) {
        if (r.code != KORV_EVENT_AUTOBLOCK_ADD)
            continue;
        found = true;
        EXPECT_EQ(2u, r.level);
        EXPECT_EQ("10.0.0.9", r.texts[0]);
        EXPECT_EQ(24u, r.texts[1].size()) << r.texts[1];  // ctime without its line end
    }
    EXPECT_TRUE(found);
}

// An age that stands for a record dated late in the 32-bit range (2106).
constexpr long kLate = -2;

struct ExpiryCase {
    const char *name;
    int expireDays;
    std::vector<std::pair<long, const char *>> before;  // age in seconds (-1: time 0, kLate), address
    std::vector<std::pair<long, const char *>> kept;    // what stays before the new record
};

const ExpiryCase kExpiryCases[] = {
    {"OneDayDropsADayOld", 1, {{86400, "10.0.0.3"}, {86399, "10.0.0.4"}, {90000, "10.0.0.5"}}, {{86399, "10.0.0.4"}}},
    {"NeverExpires", 0, {{86400 * 3650, "10.0.0.3"}, {5, "10.0.0.4"}}, {{86400 * 3650, "10.0.0.3"}, {5, "10.0.0.4"}}},
    {"SameAddressMovesToTheEnd",
     0,
     {{100, "10.0.0.1"}, {50, "10.0.0.2"}, {-1, "10.0.0.7"}, {10, "0.0.0.0"}},
     {{50, "10.0.0.2"}}},
    {"TwoDays", 2, {{172800, "10.0.0.3"}, {172799, "10.0.0.4"}, {86400, "10.0.0.5"}},
     {{172799, "10.0.0.4"}, {86400, "10.0.0.5"}}},
    // Time plus the days past 2^32: in 32 bits the sum wrapped and every block had lapsed.
    {"ThirtyThousandDays", 30000, {{86400, "10.0.0.3"}, {5, "10.0.0.4"}}, {{86400, "10.0.0.3"}, {5, "10.0.0.4"}}},
    {"DaysPastThe32BitSeconds", 60000, {{86400 * 20000L, "10.0.0.3"}, {5, "10.0.0.4"}},
     {{86400 * 20000L, "10.0.0.3"}, {5, "10.0.0.4"}}},
    {"RecordDatedNear2106", 1, {{kLate, "10.0.0.3"}, {86400, "10.0.0.4"}}, {{kLate, "10.0.0.3"}}},
};

class AutoBlockExpiry : public testing::TestWithParam<ExpiryCase> {};

void PrintTo(const ExpiryCase &c, std::ostream *os)
{
    *os << c.name;
}

TEST_P(AutoBlockExpiry, LiveRecordsOfOtherAddressesStay)
{
    const ExpiryCase &c = GetParam();
    Settings(c.expireDays);
    uint32_t now = static_cast<uint32_t>(time(nullptr));
    auto at = [&](long age) {
        if (age == kLate)
            return 0xFFFFFF00u;
        return age < 0 ? 0u : now - static_cast<uint32_t>(age);
    };
    std::vector<Rec> before;
    for (auto &[age, addr] : c.before)
        before.push_back({at(age), addr});
    write_file(KORV_AUTOBLOCK_LIST, Pack(before));
    Added a = Add("10.0.0.1");
    ASSERT_EQ(0, a.rc);
    std::vector<Rec> after = Unpack(read_file(KORV_AUTOBLOCK_LIST));
    ASSERT_EQ(c.kept.size() + 1, after.size());
    for (size_t i = 0; i < c.kept.size(); ++i)
        EXPECT_EQ((Rec{at(c.kept[i].first), c.kept[i].second}), after[i]);
    EXPECT_EQ("10.0.0.1", after.back().addr);
    EXPECT_GE(after.back().time, a.before);
}

INSTANTIATE_TEST_SUITE_P(Cases, AutoBlockExpiry, testing::ValuesIn(kExpiryCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(AutoBlockAdd, TrailingBytesIgnored)
{
    Settings(0);
    write_file(KORV_AUTOBLOCK_LIST, Pack({{1000, "10.0.0.2"}}) + "12345");
    ASSERT_EQ(0, Add("10.0.0.1").rc);
    std::string bytes = read_file(KORV_AUTOBLOCK_LIST);
    ASSERT_EQ(16u, bytes.size());
    EXPECT_EQ((Rec{1000, "10.0.0.2"}), Unpack(bytes)[0]);
}

TEST(AutoBlockAdd, WindowsOfTheScan)
{
    // 8193 records: one full window and a window of one record; then exactly one window.
    Settings(0);
    for (size_t n : {8193u, 8192u}) {
        std::vector<Rec> recs;
        for (size_t i = 0; i < n; ++i)
            recs.push_back({static_cast<uint32_t>(1000 + i),
                            "10." + std::to_string(i / 65536 + 1) + "." + std::to_string(i / 256 % 256) + "." +
                                std::to_string(i % 256)});
        write_file(KORV_AUTOBLOCK_LIST, Pack(recs));
        ASSERT_EQ(0, Add("192.168.0.1").rc);
        std::vector<Rec> after = Unpack(read_file(KORV_AUTOBLOCK_LIST));
        ASSERT_EQ(n + 1, after.size());
        EXPECT_EQ(recs.back(), after[n - 1]);
        EXPECT_EQ(recs[8191], after[8191]);
    }
}

TEST(AutoBlockAdd, NotAnAddressLeavesTheListAlone)
{
    Settings(0);
    const std::string before = Pack({{1000, "10.0.0.2"}});
    write_file(KORV_AUTOBLOCK_LIST, before);
    mark_error();
    EXPECT_EQ(-1, KORVAutoBlockIPAdd("300.1.1.1"));
    EXPECT_EQ(KORL_ERR_NOT_IPV4, KORLErrGet());
    EXPECT_EQ(-1, KORVAutoBlockIPAdd(nullptr));
    EXPECT_EQ(before, read_file(KORV_AUTOBLOCK_LIST));
    EXPECT_FALSE(file_exists(KORV_AUTOBLOCK_LIST_TMP));
}

TEST(AutoBlockAdd, FullDiskLeavesTheListAsItWas)
{
    // Every record of the copy is checked: a copy cut short by a full disk never replaces the list.
    ASSERT_TRUE(mount_small_disk("/etc", 64 * 1024));
    Settings(0);
    std::vector<Rec> recs;
    for (int i = 0; i < 5000; ++i)
        recs.push_back({static_cast<uint32_t>(1000 + i), "10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256)});
    const std::string before = Pack(recs);
    write_file(KORV_AUTOBLOCK_LIST, before);
    umask(027);
    EXPECT_EQ(-1, KORVAutoBlockIPAdd("192.168.0.1"));
    EXPECT_EQ(027u, umask(022));
    EXPECT_EQ(before, read_file(KORV_AUTOBLOCK_LIST));
    EXPECT_FALSE(file_exists(KORV_AUTOBLOCK_LIST_TMP));
}

TEST(AutoBlockAdd, TwoProcessesLoseNothing)
{
    Settings(0);
    constexpr int kEach = 40;
    std::vector<pid_t> kids;
    for (int p = 0; p < 2; ++p) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int failed = 0;
            for (int i = 0; i < kEach; ++i)
                failed += KORVAutoBlockIPAdd(("10." + std::to_string(p + 1) + ".0." + std::to_string(i + 1)).c_str()) != 0;
            _exit(failed);
        }
        kids.push_back(pid);
    }
    for (pid_t pid : kids) {
        int status = 0;
        ASSERT_EQ(pid, waitpid(pid, &status, 0));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::map<std::string, int> seen;
    for (const Rec &r : Unpack(read_file(KORV_AUTOBLOCK_LIST)))
        ++seen[r.addr];
    EXPECT_EQ(2u * kEach, seen.size());
    for (auto &[addr, n] : seen)
        EXPECT_EQ(1, n) << addr;
}

// Counts the records a scan hands to its callback.
int Count(int, KORVAUTOBLOCKREC *, void *arg)
{
    ++*static_cast<int *>(arg);
    return 0;
}

KORVAUTOBLOCKSCAN Scan(int kind, int size)
{
    KORVAUTOBLOCKSCAN s = {};
    s.prot = PROT_READ;
    s.flags = MAP_SHARED;
    s.kind = kind;
    s.lockOp = LOCK_EX | LOCK_NB;
    s.openFlags = O_RDONLY;
    s.size = size;
    s.now = static_cast<unsigned>(time(nullptr));
    s.path = KORV_AUTOBLOCK_LIST;
    s.callback = Count;
    return s;
}

TEST(AutoBlockScan, ShortenedListNeverFaults)
{
    // The caller measured 4 windows, but the list holds 3 records by the time it is locked.
    write_file(KORV_AUTOBLOCK_LIST, Pack({{1, "10.0.0.1"}, {2, "10.0.0.2"}, {3, "10.0.0.3"}}));
    KORVAUTOBLOCKSCAN s = Scan(KORV_AUTOBLOCK_SCAN_CALLBACK, 4 * KORV_AUTOBLOCK_WINDOW);
    int n = 0;
    EXPECT_EQ(0, AutoBlockIMmapProcess(&s, -1, &n));
    EXPECT_EQ(3, n);
}

TEST(AutoBlockScan, KindsAndOffsets)
{
    write_file(KORV_AUTOBLOCK_LIST, Pack({{1, "10.0.0.1"}, {2, "10.0.0.2"}, {3, "10.0.0.3"}}));
    struct in_addr two;
    inet_aton("10.0.0.2", &two);
    uint32_t addr = two.s_addr;
    KORVAUTOBLOCKSCAN s = Scan(KORV_AUTOBLOCK_SCAN_MATCH, 24);
    EXPECT_EQ(1, AutoBlockIMmapProcess(&s, -1, &addr));
    s.offset = 16;
    EXPECT_EQ(0, AutoBlockIMmapProcess(&s, -1, &addr));

    s = Scan(KORV_AUTOBLOCK_SCAN_COPY_UNLISTED, 24);
    struct in_addr one;
    inet_aton("10.0.0.1", &one);
    uint32_t listed[] = {one.s_addr, addr, 0};
    int out = open("/tmp/copy", O_RDWR | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(out, 0);
    EXPECT_EQ(0, AutoBlockIMmapProcess(&s, out, listed));
    close(out);
    EXPECT_EQ(Pack({{3, "10.0.0.3"}}), read_file("/tmp/copy"));

    s = Scan(KORV_AUTOBLOCK_SCAN_CLEAR, 24);
    s.prot = PROT_READ | PROT_WRITE;
    s.openFlags = O_RDWR;
    EXPECT_EQ(0, AutoBlockIMmapProcess(&s, -1, &addr));
    EXPECT_EQ(Pack({{1, "10.0.0.1"}, {0, "0.0.0.0"}, {3, "10.0.0.3"}}), read_file(KORV_AUTOBLOCK_LIST));
}

TEST(AutoBlockScan, BadParametersAndMissingList)
{
    int n = 0;
    KORVAUTOBLOCKSCAN s = Scan(KORV_AUTOBLOCK_SCAN_CALLBACK, 8);
    mark_error();
    EXPECT_EQ(-1, AutoBlockIMmapProcess(&s, -1, &n));
    EXPECT_EQ(KORL_ERR_NO_FILE, KORLErrGet());
    write_file(KORV_AUTOBLOCK_LIST, Pack({{1, "10.0.0.1"}}));
    s.size = 0;
    EXPECT_EQ(-1, AutoBlockIMmapProcess(&s, -1, &n));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    s = Scan(KORV_AUTOBLOCK_SCAN_COPY_UNLESS, 8);
    EXPECT_EQ(-1, AutoBlockIMmapProcess(&s, -1, &n));  // no output descriptor
    s.kind = 5;
    EXPECT_EQ(-1, AutoBlockIMmapProcess(&s, 1, &n));
    EXPECT_TRUE(syslog_has_pattern("autoblock_mmap_process.cpp:<L> Bad parameters"));
    EXPECT_EQ(0, n);
}

// An add renames a new list over the one another process keeps locked: the next try opens the
// list anew and holds the new one.
TEST(AutoBlockFileOpen, ListReplacedWhileLockedIsOpenedAnew)
{
    write_file(KORV_AUTOBLOCK_LIST, Pack({{1, "10.0.0.1"}}));
    FlockHolder old(KORV_AUTOBLOCK_LIST, -1);
    ASSERT_TRUE(old.obtained());
    ChildHolding add([] { return true; },
                     [] {
                         write_file(KORV_AUTOBLOCK_LIST_TMP, Pack({{2, "10.0.0.2"}}));
                         rename(KORV_AUTOBLOCK_LIST_TMP, KORV_AUTOBLOCK_LIST);
                     },
                     1500);
    const int fd = KORVAutoBlockFileOpen(KORV_AUTOBLOCK_LIST, O_RDONLY, LOCK_EX | LOCK_NB);
    ASSERT_GE(fd, 0);
    struct stat held {}, named {};
    EXPECT_EQ(0, fstat(fd, &held));
    EXPECT_EQ(0, stat(KORV_AUTOBLOCK_LIST, &named));
    EXPECT_EQ(named.st_ino, held.st_ino);
    KORVAutoBlockFileClose(fd);
}

}  // namespace
