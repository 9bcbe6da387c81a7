// The README's sample unit (`korv-devtree sample`) updated as scripts/demo updates it: its
// migrations read as on a unit, and the system log holds no failure but the ones the demo explains.
#include <ctype.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "device_net.h"
#include "device_tree.h"
#include "korv/backup.h"
#include "korvtest.h"
#include "updater_run.h"

namespace {

using korvtest::syslog_dump;

// Messages that report a failure: the updater's and the library's own words for one.
bool ReportsFailure(const std::string &message)
{
    std::string lower = message;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return tolower(c); });
    for (const char *word : {"fail", "error", "not found"})
        if (lower.find(word) != std::string::npos)
            return true;
    return false;
}

TEST(SampleRun, MigrationsReadAsOnAUnit)
{
    korvtest::build_sample_tree();
    korvtest::build_sample_network();
    updatertest::RunResult run = updatertest::run_updater();
    ASSERT_EQ(run.status, 0) << run.out << syslog_dump();

    // The USB-backup migration backs up the unit's share, which the share database loaded.
    void **array = nullptr;
    int count = KORVBackupConfGetAll(&array, BACKUP_TYPE_LOCALBKP);
    ASSERT_EQ(count, 1) << syslog_dump();
    auto **local = reinterpret_cast<KORVLOCALBKPCONF **>(array);
    EXPECT_STREQ(local[0]->szSection, "MyBackupSet");
    EXPECT_STREQ(local[0]->bkp_shares, "public");
    KORVLocalBkpConfArrayFree(local, count);

    // The one failure the demo explains: the sample, as many units, has no "eventtest" key for
    // its step to remove.
    std::vector<std::string> failures;
    for (const korvtest::SyslogLine &line : korvtest::syslog_lines())
        if (line.tag == "updater" && ReportsFailure(line.message))
            failures.push_back(std::regex_replace(line.message, std::regex("^updater:[0-9]+ "), ""));
    EXPECT_EQ(failures, std::vector<std::string>{"Fail to remove key [eventtest] from /etc/korvinfo.conf, "
                                                 "korverr=[0x2000]"})
        << syslog_dump();
}

}  // namespace
