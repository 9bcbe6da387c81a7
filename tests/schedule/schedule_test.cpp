// Schedules as lines of "/etc/crontab": hand-written lines read back, records written and
// replaced, removal, and the HUP to crond through its pid file.
#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "case_label.h"
#include "korv/error.h"
#include "korv/schedule.h"
#include "korvtest.h"
#include "side_by_side.h"
#include "signal_recorder.h"

using namespace korvtest;

namespace {

const char *const kCrontab = KORV_CRONTAB;
const char kHead[] = "#minute\thour\tmday\tmonth\twday\twho\tcommand\n";

struct GetCase {
    const char *name;
    std::string line;  // the command is "/usr/bin/job"
    int result;
    int weekdays, hourStart, hourStep, hourEnd, minute, runsPerDay;
    const char *command;
};

const std::string kJob = "/usr/bin/job";

const GetCase kGetCases[] = {
    {"EveryDayOneHour", "30\t3\t*\t*\t*\troot\t/usr/bin/job", 1, 127, 3, 0, 3, 30, 1, "/usr/bin/job"},
    {"RangeWithStep", "0\t0-22/2\t*\t*\t0,6\troot\t/usr/bin/job --all", 1, 0x41, 0, 2, 22, 0, 12, "/usr/bin/job"},
    {"WeekdaySevenSetsNothing", "5\t1\t*\t*\t0,7\troot\t/usr/bin/job", 1, 1, 1, 0, 1, 5, 1, "/usr/bin/job"},
    {"WeekdayNineSkipped", "5\t1\t*\t*\t1,9\troot\t/usr/bin/job", 1, 2, 1, 0, 1, 5, 1, "/usr/bin/job"},
    {"WeekdayTwice", "5\t1\t*\t*\t1,1\troot\t/usr/bin/job", 1, 2, 1, 0, 1, 5, 1, "/usr/bin/job"},
    {"NegativeWeekdaySkipped", "5\t1\t*\t*\t-1,3\troot\t/usr/bin/job", 1, 8, 1, 0, 1, 5, 1, "/usr/bin/job"},
    {"SpacesForTabs", "15 4 * * 2 root /usr/bin/job", 1, 4, 4, 0, 4, 15, 1, "/usr/bin/job"},
    {"StepZeroCountsAsOne", "0\t2-5/0\t*\t*\t*\troot\t/usr/bin/job", 1, 127, 2, 1, 5, 0, 4, "/usr/bin/job"},
    {"ThreeDigitHour", "0\t123\t*\t*\t*\troot\t/usr/bin/job", -1, 0, 0, 0, 0, 0, 0, nullptr},
    {"HourOutOfRange", "0\t24\t*\t*\t*\troot\t/usr/bin/job", -1, 0, 0, 0, 0, 0, 0, nullptr},
    {"StepOutOfRange", "0\t1-5/30\t*\t*\t*\troot\t/usr/bin/job", -1, 0, 0, 0, 0, 0, 0, nullptr},
    {"RangeBackwards", "0\t9-2/1\t*\t*\t*\troot\t/usr/bin/job", -1, 0, 0, 0, 0, 0, 0, nullptr},
    {"RangeWithoutStepNumber", "0\t1-5/x\t*\t*\t*\troot\t/usr/bin/job", -1, 0, 0, 0, 0, 0, 0, nullptr},
    {"NoWeekdayField", "0\t1\t/usr/bin/job", -1, 0, 0, 0, 0, 0, 0, nullptr},
    // Fields longer than their 19-byte texts never overflow them: the line does not scan.
    {"LongHoursField", "0\t" + std::string(300, '1') + "\t*\t*\t*\troot\t/usr/bin/job", -1, 0, 0, 0, 0, 0, 0,
     nullptr},
    {"LongWeekdayField", "0\t1\t*\t*\t" + std::string(200, '1') + ",2\troot\t/usr/bin/job", -1, 0, 0, 0, 0, 0, 0,
     nullptr},
    // A line past the line limit, another user, no command: no schedule.
    {"LineTooLong", "0\t1\t*\t*\t*\troot\t/usr/bin/job" + std::string(1200, 'c'), -1, 0, 0, 0, 0, 0, 0,
     nullptr},
    {"OtherUser", "0\t1\t*\t*\t*\tadmin\t/usr/bin/job", -1, 0, 0, 0, 0, 0, 0, nullptr},
};

class ScheduleGet : public testing::TestWithParam<GetCase> {};

void PrintTo(const GetCase &c, std::ostream *os)
{
    *os << c.name;
}

TEST_P(ScheduleGet, HandWrittenLine)
{
    const GetCase &c = GetParam();
    write_file(kCrontab, std::string(kHead) + "1\t1\t*\t*\t*\troot\t/usr/bin/other\n" + c.line + "\n");
    KORVSCHEDULE s;
    memset(&s, 0x5A, sizeof s);
    EXPECT_EQ(c.result, KORVScheduleGet(kJob.c_str(), &s));
    if (c.result != 1)
        return;
    EXPECT_EQ(c.weekdays, s.weekdays);
    EXPECT_EQ(c.hourStart, s.hourStart);
    EXPECT_EQ(c.hourStep, s.hourStep);
    EXPECT_EQ(c.hourEnd, s.hourEnd);
    EXPECT_EQ(c.minute, s.minute);
    EXPECT_EQ(c.runsPerDay, s.runsPerDay);
    EXPECT_STREQ(c.command, s.szCommand);
}

INSTANTIATE_TEST_SUITE_P(Cases, ScheduleGet, testing::ValuesIn(kGetCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(ScheduleGetLimits, MissingLineAndArguments)
{
    write_file(kCrontab, kHead);
    KORVSCHEDULE s {};
    mark_error();
    EXPECT_EQ(0, KORVScheduleGet("/usr/bin/none", &s));
    EXPECT_EQ(KORL_ERR_NOT_FOUND, KORLErrGet());
    for (const char *command : {static_cast<const char *>(nullptr), ""}) {
        mark_error();
        EXPECT_EQ(-1, KORVScheduleGet(command, &s));
        EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    }
    EXPECT_EQ(-1, KORVScheduleGet("/usr/bin/none", nullptr));
    remove_tree(kCrontab);
    EXPECT_EQ(-1, KORVScheduleGet("/usr/bin/none", &s));
    // A long command read back whole.
    const std::string word = "/usr/bin/" + std::string(1100, 'c');
    write_file(kCrontab, "0\t1\t*\t*\t*\troot\t" + word.substr(0, 990) + "\n");
    EXPECT_EQ(1, KORVScheduleGet(word.substr(0, 990).c_str(), &s));
    EXPECT_EQ(word.substr(0, 990), s.szCommand);
}

KORVSCHEDULE schedule(int weekdays, int start, int step, int end, int minute, const std::string &command)
{
    KORVSCHEDULE s {};
    s.weekdays = weekdays;
    s.hourStart = start;
    s.hourStep = step;
    s.hourEnd = end;
    s.minute = minute;
    snprintf(s.szCommand, sizeof s.szCommand, "%s", command.c_str());
    return s;
}

TEST(ScheduleSet, LinesWrittenAndReadBack)
{
    const struct {
        KORVSCHEDULE s;
        const char *line;
        int runsPerDay;
    } cases[] = {
        {schedule(127, 3, 0, 3, 30, "/bin/a"), "30\t3\t*\t*\t*\troot\t/bin/a", 1},
        {schedule(0x41, 0, 2, 22, 0, "/bin/b"), "0\t0-22/2\t*\t*\t0,6\troot\t/bin/b", 12},
        {schedule(0x7F | 0x80, 1, 1, 3, 59, "/bin/c"), "59\t1-3/1\t*\t*\t0,1,2,3,4,5,6\troot\t/bin/c", 3},
        {schedule(0x3E, 5, 3, 5, 1, "/bin/d"), "1\t5\t*\t*\t1,2,3,4,5\troot\t/bin/d", 1},
        {schedule(4, 2, 0, 9, 7, "/bin/e x y"), "7\t2\t*\t*\t2\troot\t/bin/e x y", 1},
    };
    write_file(kCrontab, kHead);
    std::string expected = kHead;
    for (const auto &c : cases) {
        KORVSCHEDULE s = c.s;
        ASSERT_EQ(0, KORVScheduleSet(&s)) << c.line;
        expected += std::string(c.line) + "\n";
        EXPECT_EQ(expected, read_file(kCrontab));
        KORVSCHEDULE back {};
        ASSERT_EQ(1, KORVScheduleGet(c.s.szCommand, &back)) << c.line;
        EXPECT_EQ(c.runsPerDay, back.runsPerDay) << c.line;
        EXPECT_EQ(c.s.weekdays & 0x7F, back.weekdays) << c.line;
    }
}

TEST(ScheduleSet, ReplacesInPlaceAlsoPastOneHundredTwentyEightBytes)
{
    const std::string longCommand = "/usr/bin/backup --target " + std::string(400, 'v');
    write_file(kCrontab, std::string(kHead) + "0\t1\t*\t*\t*\troot\t" + longCommand + "\n" + "9\t9\t*\t*\t*\troot\t/bin/z\n");
    KORVSCHEDULE s = schedule(2, 4, 0, 4, 45, longCommand);
    ASSERT_EQ(0, KORVScheduleSet(&s));
    EXPECT_EQ(std::string(kHead) + "45\t4\t*\t*\t1\troot\t" + longCommand + "\n" + "9\t9\t*\t*\t*\troot\t/bin/z\n",
              read_file(kCrontab));
}

// Sixteen processes add schedules at once, each of its own commands: every add appends a line,
// so all of them are there, each whole on a line of its own. The head lacks its last newline:
// an add may leave a blank line after it, never a line glued to it.
TEST(ScheduleSet, SideBySideAddsLeaveWholeLines)
{
    constexpr int kProcs = 16, kEach = 150;
    const std::string head = "SHELL=/bin/sh\n#minute\thour\tmday\tmonth\twday\twho\tcommand";
    write_file(kCrontab, head);
    auto entry = [](int p, int i) {
        char command[64];
        snprintf(command, sizeof command, "/usr/bin/job-%02d-%03d", p, i);
        return schedule(1 << (i % 7), p % 24, 0, p % 24, i % 60, command);
    };
    const int failed = side_by_side(kProcs, [&](int p) {
        for (int i = 0; i < kEach; ++i) {
            KORVSCHEDULE s = entry(p, i);
            if (KORVScheduleSet(&s) != 0)
                return 1;
        }
        return 0;
    });
    EXPECT_EQ(0, failed);

    std::map<std::string, int> expected;  // each line and the times it was found
    for (int p = 0; p < kProcs; ++p) {
        for (int i = 0; i < kEach; ++i) {
            const KORVSCHEDULE s = entry(p, i);
            expected[std::to_string(s.minute) + "\t" + std::to_string(s.hourStart) + "\t*\t*\t" +
                     std::to_string(i % 7) + "\troot\t" + s.szCommand] = 0;
        }
    }
    const std::string text = read_file(kCrontab);
    ASSERT_EQ(0u, text.find(head + "\n"));
    ASSERT_EQ('\n', text.back());
    std::vector<std::string> torn;
    int blank = 0;
    size_t at = head.size() + 1;
    for (size_t end; at < text.size(); at = end + 1) {
        end = text.find('\n', at);
        const std::string line = text.substr(at, end - at);
        auto found = expected.find(line);
        if (line.empty())
            ++blank;
        else if (found == expected.end())
            torn.push_back(line);
        else
            ++found->second;
    }
    EXPECT_TRUE(torn.empty()) << torn.size() << " lines are no one entry, the first: "
                              << testing::PrintToString(torn.empty() ? "" : torn[0]);
    const auto once = std::count_if(expected.begin(), expected.end(), [](const auto &e) { return e.second == 1; });
    EXPECT_EQ(kProcs * kEach, once) << "entries found other than once";
    // Only an add that looked at the end before any other add was written sees the head's end.
    EXPECT_LE(blank, kProcs);
}

TEST(ScheduleSet, RefusedWithBadParameter)
{
    const std::string before = std::string(kHead) + "0\t1\t*\t*\t*\troot\t/bin/x\n";
    const struct {
        const char *name;
        KORVSCHEDULE s;
    } cases[] = {
        {"NoWeekday", schedule(0x80, 1, 0, 1, 0, "/bin/x")},
        {"StartNegative", schedule(1, -1, 0, 1, 0, "/bin/x")},
        {"EndPast23", schedule(1, 1, 0, 24, 0, "/bin/x")},
        {"EndBeforeStart", schedule(1, 5, 1, 4, 0, "/bin/x")},
        {"StepPast23", schedule(1, 1, 24, 5, 0, "/bin/x")},
        {"Minute60", schedule(1, 1, 0, 1, 60, "/bin/x")},
        {"EmptyCommand", schedule(1, 1, 0, 1, 0, "")},
        {"CommandWithNewline", schedule(1, 1, 0, 1, 0, "/bin/x\n0\t0\t*\t*\t*\troot\t/bin/evil")},
        {"CommandWithReturn", schedule(1, 1, 0, 1, 0, "/bin/x\r")},
        {"LineDoesNotFit", schedule(1, 1, 0, 1, 0, "/bin/x " + std::string(1010, 'a'))},
    };
    for (const auto &c : cases) {
        write_file(kCrontab, before);
        KORVSCHEDULE s = c.s;
        mark_error();
        EXPECT_EQ(-1, KORVScheduleSet(&s)) << c.name;
        EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet()) << c.name;
        EXPECT_EQ(before, read_file(kCrontab)) << c.name;
    }
    // A command filling the whole record without a NUL.
    KORVSCHEDULE full = schedule(1, 1, 0, 1, 0, "");
    memset(full.szCommand, 'f', sizeof full.szCommand);
    EXPECT_EQ(-1, KORVScheduleSet(&full));
    EXPECT_EQ(before, read_file(kCrontab));
    mark_error();
    EXPECT_EQ(-1, KORVScheduleSet(nullptr));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    EXPECT_TRUE(syslog_has_pattern("KORVScheduleSet(<L>): PKORVSCHEDULE is NULL")) << syslog_dump();
}

TEST(ScheduleRemove, LineGoesMissingIsNoFailure)
{
    write_file(kCrontab, std::string(kHead) + "0\t1\t*\t*\t*\troot\t/bin/x\n1\t2\t*\t*\t*\troot\t/bin/y\n");
    EXPECT_EQ(0, KORVScheduleRemove("/bin/none"));
    EXPECT_EQ(0, KORVScheduleRemove("/bin/x"));
    EXPECT_EQ(std::string(kHead) + "1\t2\t*\t*\t*\troot\t/bin/y\n", read_file(kCrontab));
    mark_error();
    EXPECT_EQ(-1, KORVScheduleRemove(""));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    EXPECT_EQ(-1, KORVScheduleRemove(nullptr));
    EXPECT_EQ(-1, KORVCrontabUpdate(nullptr, "x"));
    remove_tree(kCrontab);
    EXPECT_EQ(-1, KORVCrontabUpdate("/bin/x", "0\t1\t*\t*\t*\troot\t/bin/x"));
}

// crond stand-in in the sandbox's pid namespace: writes its pid file and records each HUP.
TEST(ScheduleCrond, EveryChangeSendsHup)
{
    SignalRecorder crond(KORV_CROND_PID, {SIGHUP});
    ASSERT_TRUE(file_exists(KORV_CROND_PID));
    const std::vector<int> one = {SIGHUP}, two = {SIGHUP, SIGHUP}, three = {SIGHUP, SIGHUP, SIGHUP};
    write_file(kCrontab, kHead);
    KORVSCHEDULE s = schedule(127, 1, 0, 1, 0, "/bin/x");
    ASSERT_EQ(0, KORVScheduleSet(&s));
    EXPECT_EQ(one, crond.Got(1));
    ASSERT_EQ(0, KORVScheduleSet(&s));
    EXPECT_EQ(two, crond.Got(2));
    ASSERT_EQ(0, KORVScheduleRemove("/bin/x"));
    EXPECT_EQ(three, crond.Got(3));
    // A refused change sends nothing.
    s.minute = 99;
    EXPECT_EQ(-1, KORVScheduleSet(&s));
    EXPECT_EQ(three, crond.Got(4, 200));
    crond.Received();  // crond ends

    // Without crond the change still counts.
    remove_tree(KORV_CROND_PID);
    s.minute = 5;
    EXPECT_EQ(0, KORVScheduleSet(&s));
    EXPECT_TRUE(syslog_has_pattern("crontab_update_crontab (<L>) Failed to hup crond")) << syslog_dump();
}

}  // namespace
