// The configuration steps that run on every update (manutil.conf and php.ini removed, the two
// crontab filters) and the old layout's step, each run alone and twice, and the stage's rows in
// the order the steps must run.
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <dirent.h>

#include <optional>
#include <string>
#include <vector>

#include "device_tree.h"
#include "korvtest.h"
#include "run_state.h"
#include "updater_config.h"
#include "updater_migration.h"

using namespace korvtest;

namespace {

// Names in a folder that start with prefix.
std::vector<std::string> entries(const std::string &dir, const std::string &prefix)
{
    std::vector<std::string> out;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d))
            if (std::string(e->d_name).rfind(prefix, 0) == 0)
                out.push_back(e->d_name);
        closedir(d);
    }
    return out;
}

struct RemoveCase {
    const char *name;
    int (*step)(void);
    const char *path;
    enum { Absent, File, FullFolder } before;
    int result;
    const char *message;  // "" when nothing is logged
};

void PrintTo(const RemoveCase &c, std::ostream *os)
{
    *os << c.name;
}

class EveryUpdateRemoval : public testing::TestWithParam<RemoveCase> {};

TEST_P(EveryUpdateRemoval, GoneOrLogged)
{
    const RemoveCase &c = GetParam();
    if (c.before == RemoveCase::File) {
        write_file(c.path, "x=1\n");
    } else if (c.before == RemoveCase::FullFolder) {
        make_dirs(c.path);
        write_file(std::string(c.path) + "/kept", "x");
    }
    for (int run = 0; run < 2; ++run) {
        syslog_clear();
        EXPECT_EQ(c.step(), c.result) << "run " << run;
        EXPECT_EQ(file_exists(c.path), c.before == RemoveCase::FullFolder);
        if (*c.message) {
            EXPECT_TRUE(syslog_has_pattern(c.message)) << syslog_dump();
        } else {
            EXPECT_EQ(syslog_dump(), "");
        }
    }
}

const RemoveCase kRemoveCases[] = {
    {"ManutilRemoved", UPDTConfigRemoveManutilConf, "/usr/korv/etc/manutil.conf", RemoveCase::File, 0, ""},
    {"ManutilAbsent", UPDTConfigRemoveManutilConf, "/usr/korv/etc/manutil.conf", RemoveCase::Absent, 0, ""},
    {"ManutilFolder", UPDTConfigRemoveManutilConf, "/usr/korv/etc/manutil.conf", RemoveCase::FullFolder, -1,
     "updater:<L>(UPDTUpdateConfig) Failed to update [/usr/korv/etc/manutil.conf], errno=(21)[Is a directory]"},
    {"PhpIniRemoved", UPDTConfigRemovePhpIni, "/usr/korv/etc/php.ini", RemoveCase::File, 0, ""},
    {"PhpIniAbsent", UPDTConfigRemovePhpIni, "/usr/korv/etc/php.ini", RemoveCase::Absent, 0, ""},
    {"PhpIniFolder", UPDTConfigRemovePhpIni, "/usr/korv/etc/php.ini", RemoveCase::FullFolder, -1,
     "updater:<L>(UPDTUpdateConfig) Failed to remove /usr/korv/etc/php.ini, errno=(21)[Is a directory]"},
};

INSTANTIATE_TEST_SUITE_P(Files, EveryUpdateRemoval, testing::ValuesIn(kRemoveCases),
                         [](const testing::TestParamInfo<RemoveCase> &i) { return std::string(i.param.name); });

// The crontab filters: the two old lines go, the rest stays byte for byte with the file's owner
// and mode; a grep that does not read the whole file leaves the crontab as it was.
const char kVacuum[] = "0 2 * * * root /usr/korv/pgsql/bin/vacuumdb -a -z\n";
const char kHtml[] = "30 3 * * * root /bin/rm -f /var/log/*.html\n";
const char kHeader[] = "#minute\thour\tmday\tmonth\twday\twho\tcommand\n";
const char kBackup[] = "0 1 * * 1 root /usr/korv/bin/localbkp -s MyBackupSet\n";

const char kVacuumFailed[] = "updater(<L>) Failed to remove vacuumdb from crontab.";
const char kHtmlFilterFailed[] = "updater(<L>) Failed to remove \"rm -f /var/log/\\*.html\" from crontab.";

struct CrontabCase {
    const char *name;
    std::optional<std::string> before;  // none: no crontab
    const char *grep;                   // a grep of the tree in place of the tool, or null
    std::optional<std::string> after;   // none: no crontab
    int result;
    std::vector<const char *> messages;
};

void PrintTo(const CrontabCase &c, std::ostream *os)
{
    *os << c.name;
}

const std::string kMixed = std::string(kHeader) + kVacuum + kBackup + kHtml + "# vacuumdb by hand: see above\n";
const std::string kKept = std::string(kHeader) + kBackup;

const std::vector<CrontabCase> &CrontabCases()
{
    static const std::vector<CrontabCase> cases = {
        {"BothLinesGone", kMixed, nullptr, kKept, 0, {}},
        {"NothingToRemove", kKept, nullptr, kKept, 0, {}},
        {"EveryLineMatches", std::string(kVacuum) + kHtml, nullptr, "", 0, {}},
        {"GrepStopsHalfWay", kMixed, "#!/bin/sh\nhead -n 1 /etc/crontab\nexit 2\n", kMixed, -1,
         {kVacuumFailed, kHtmlFilterFailed}},
        {"NoCrontab", std::nullopt, nullptr, std::nullopt, -1, {kVacuumFailed, kHtmlFilterFailed}},
    };
    return cases;
}

class CrontabFilters : public testing::TestWithParam<CrontabCase> {};

TEST_P(CrontabFilters, OldLinesFilteredOut)
{
    const CrontabCase &c = GetParam();
    if (c.before) {
        write_file("/etc/crontab", *c.before, 0640);
        ASSERT_EQ(chown("/etc/crontab", 0, 25), 0);
    } else {
        unlink("/etc/crontab");
    }
    if (c.grep)
        install_program("/bin/grep", c.grep);
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run == 0 ? "first run" : "second run");
        syslog_clear();
        EXPECT_EQ(UPDTConfigCrontabFilters(), c.result);
        if (c.after) {
            EXPECT_EQ(read_file("/etc/crontab"), *c.after);
            struct stat st{};
            ASSERT_EQ(stat("/etc/crontab", &st), 0);
            EXPECT_EQ(st.st_mode & 07777, 0640u);
            EXPECT_EQ(st.st_uid, 0u);
            EXPECT_EQ(st.st_gid, 25u);
        } else {
            EXPECT_FALSE(file_exists("/etc/crontab"));
        }
        for (const char *m : c.messages)
            EXPECT_TRUE(syslog_has_pattern(m)) << m << "\n" << syslog_dump();
        if (c.messages.empty()) {
            EXPECT_EQ(syslog_dump(), "");
        }
        // Nothing is left beside the crontab, nor in the shared temporary folder.
        EXPECT_EQ(entries("/etc", "crontab."), std::vector<std::string>{});
        EXPECT_FALSE(file_exists("/tmp/crontab_tmp"));
    }
}

INSTANTIATE_TEST_SUITE_P(Crontabs, CrontabFilters, testing::ValuesIn(CrontabCases()),
                         [](const testing::TestParamInfo<CrontabCase> &i) { return std::string(i.param.name); });

// The old layout's step: its two files removed, configurations and logs copied to the volume,
// whose path reaches the shell as one word.
struct OldLayoutCase {
    const char *name;
    const char *volume;
    bool fullRcFolder;     // "/etc/rc" a folder with a file: it cannot be removed
    const char *mkdir;     // a mkdir of the tree in place of the tool, or null
    bool configs;          // "/writeable/configs" holds a file
    int result;
    bool copied;
    std::vector<std::string> messages;
};

void PrintTo(const OldLayoutCase &c, std::ostream *os)
{
    *os << c.name;
}

const std::vector<OldLayoutCase> &OldLayoutCases()
{
    static const std::vector<OldLayoutCase> cases = {
        {"Saved", "/volume1", false, nullptr, true, 0, true, {}},
        {"VolumeNeedsQuoting", "/vol 'one'", false, nullptr, true, 0, true, {}},
        {"CopyRunsWhenMkdirFails", "/volume1", false, "#!/bin/sh\nexit 1\n", true, -1, true,
         {"updater:<L>(UPDTUpdateConfig) Failed to execute szCmd=[/bin/mkdir -p /volume1/s@vedconfig], "
          "errno=(<E>)"}},
        {"RcThatStaysFailsTheStep", "/volume1", true, nullptr, true, -1, true,
         {"updater:<L>(UPDTUpdateConfig) Failed to remove /etc/rc, errno=(21)[Is a directory]"}},
        {"NothingToCopy", "/volume1", false, nullptr, false, -1, false,
         {"updater:<L>(UPDTUpdateConfig) Failed to execute szCmd=[/bin/cp -a /writeable/configs/* /writeable/logs/* "
          "/volume1/s@vedconfig], errno=(<E>)"}},
    };
    return cases;
}

// A message whose errno part is whatever system() left ("<E>"): the text from after the line
// number up to it.
bool logged(const std::string &pattern)
{
    const size_t e = pattern.find("<E>");
    if (e == std::string::npos)
        return syslog_has_pattern(pattern);
    const size_t l = pattern.find("<L>") + 3;
    return syslog_contains(pattern.substr(l, e - l));
}

class OldLayout : public testing::TestWithParam<OldLayoutCase> {};

TEST_P(OldLayout, FilesRemovedAndConfigurationsSaved)
{
    const OldLayoutCase &c = GetParam();
    updatertest::reset_run_state();
    strcpy(gszVolume, c.volume);
    make_dirs(c.volume);
    write_file("/etc/fstab", "/dev/hda3 /writeable ext3 defaults 0 0\n");
    if (c.fullRcFolder) {
        make_dirs("/etc/rc");
        write_file("/etc/rc/kept", "x");
    } else {
        write_file("/etc/rc", "#!/bin/sh\n");
    }
    make_dirs("/writeable/configs");
    if (c.configs) {
        write_file("/writeable/configs/korvinfo.conf", "hostname=\"unit\"\n");
        write_file("/writeable/logs/messages", "boot\n");
    } else {
        make_dirs("/writeable/logs");
    }
    if (c.mkdir) {
        make_dirs(std::string(c.volume) + "/s@vedconfig");
        install_program("/bin/mkdir", c.mkdir);
    }
    const std::string saved = std::string(c.volume) + "/s@vedconfig";
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run == 0 ? "first run" : "second run");
        syslog_clear();
        EXPECT_EQ(UPDTConfigOldLayout(), c.result) << syslog_dump();
        EXPECT_FALSE(file_exists("/etc/fstab"));
        EXPECT_EQ(file_exists("/etc/rc"), c.fullRcFolder);
        EXPECT_EQ(read_file(saved + "/korvinfo.conf"), c.copied ? "hostname=\"unit\"\n" : "");
        EXPECT_EQ(read_file(saved + "/messages"), c.copied ? "boot\n" : "");
        for (const std::string &m : c.messages)
            EXPECT_TRUE(logged(m)) << m << "\n" << syslog_dump();
        if (c.messages.empty()) {
            EXPECT_EQ(syslog_dump(), "");
        }
    }
    // A volume path is never split into words.
    EXPECT_FALSE(file_exists("/vol"));
    EXPECT_FALSE(file_exists("/one"));
}

INSTANTIATE_TEST_SUITE_P(Units, OldLayout, testing::ValuesIn(OldLayoutCases()),
                         [](const testing::TestParamInfo<OldLayoutCase> &i) { return std::string(i.param.name); });

// The stage's twenty steps as rows of the migration table, in the order they run.
TEST(ConfigurationRows, InTheStageOrder)
{
    const std::vector<std::string> expected = {
        "gfRemoveRcAtalk",   "gfRemovePapdConf",   "gfFtpSystemAccounts",     "gfRemoveProfile",
        "gfRemoveJumboFrameRc", "gfRemoveManutilConf", "gfOldLayout",          "gfRemovePhpIni",
        "gfCrontabFilters",  "gfMtuValueCap",      "gfMtuValueToEth0",        "gfPasswdHomes",
        "gfUserConfFile",    "gfMailAccounts",     "gfBond0Mtu",              "gfFtpWriteOnly",
        "gfBondAlbToActiveBackup", "gfFtpDenyToAutoBlock", "gfSqueezeErrmsgLinks", "gfRemoveEventTest",
    };
    std::vector<std::string> rows;
    for (int i = 0; i < gnUPDTMigrations; ++i)
        if (gUPDTMigrations[i].when == UPDT_STEP_CONFIG)
            rows.push_back(gUPDTMigrations[i].name);
    EXPECT_EQ(rows, expected);
}

// UPDTUpdateConfig fails only for a step that fails the stage, and runs the steps after it.
TEST(ConfigurationStage, RemembersAFailureAndRunsOn)
{
    struct Case {
        const char *name;
        const char *folder;  // made a full folder, so that its removal fails
        int result;
    };
    const Case cases[] = {
        {"NothingFails", nullptr, 0},
        {"ManutilFails", "/usr/korv/etc/manutil.conf", -1},
        {"PhpIniOnlyLogs", "/usr/korv/etc/php.ini", 0},
    };
    for (const Case &c : cases) {
        updatertest::reset_run_state();
        gUPDTFlags.gfRemoveManutilConf = gUPDTFlags.gfRemovePhpIni = 1;
        for (const char *path : {"/usr/korv/etc/manutil.conf", "/usr/korv/etc/php.ini"}) {
            remove_tree(path);
            if (c.folder && strcmp(c.folder, path) == 0) {
                make_dirs(path);
                write_file(std::string(path) + "/kept", "x");
            } else {
                write_file(path, "x");
            }
        }
        EXPECT_EQ(UPDTUpdateConfig(), c.result) << c.name;
        // php.ini, the later step, goes also after manutil.conf failed.
        EXPECT_EQ(file_exists("/usr/korv/etc/php.ini"), c.folder && strstr(c.folder, "php.ini")) << c.name;
        EXPECT_EQ(file_exists("/usr/korv/etc/manutil.conf"), c.folder && strstr(c.folder, "manutil")) << c.name;
    }
}

// Steps 1 to 7 fail the stage, the later ones only log.
TEST(ConfigurationRows, OnlyTheFirstSevenFailTheStage)
{
    int step = 0;
    for (int i = 0; i < gnUPDTMigrations; ++i) {
        const UPDTMIGRATION &row = gUPDTMigrations[i];
        if (row.when != UPDT_STEP_CONFIG)
            continue;
        ++step;
        EXPECT_EQ(row.failure, step <= 7 ? UPDT_FAIL_STAGE : UPDT_FAIL_LOGS) << row.name;
    }
}

}  // namespace
