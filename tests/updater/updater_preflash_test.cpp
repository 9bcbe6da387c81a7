// The service-setting migrations main runs before the flash: each step alone, on the files it
// edits, and a second run that finds nothing left to do.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "korv/backup.h"
#include "../group/group_test_util.h"
#include "korv/file.h"
#include "korv/wins.h"
#include "korvtest.h"
#include "updater_preflash.h"

using korvtest::read_file;
using korvtest::write_file;

namespace {

const char kInfo[] = "/etc/korvinfo.conf";

std::string InfoKey(const char *key)
{
    char buf[128] = {};
    if (KORLFileGetKeyValue(kInfo, key, buf, sizeof buf, 0) <= 0)
        return "<absent>";
    return buf;
}

// Runs a step twice: the second run must leave every file as the first left it.
template <typename Step>
void RunTwice(Step step, const std::vector<std::string> &files)
{
    step();
    std::vector<std::string> after;
    for (const auto &f : files)
        after.push_back(read_file(f));
    step();
    for (size_t i = 0; i < files.size(); ++i)
        EXPECT_EQ(read_file(files[i]), after[i]) << files[i] << " changed on the second run";
}

struct PortCase {
    const char *name;
    const char *conf;
    const char *high;  // "ftphighport" afterwards
};

class FtpPassiveRange : public testing::TestWithParam<PortCase> {};

TEST_P(FtpPassiveRange, HighEndWithin127OfTheLowEnd)
{
    write_file(kInfo, GetParam().conf);
    RunTwice([] { EXPECT_EQ(UpdateFTPPassivePortRange(), 0); }, {kInfo});
    EXPECT_EQ(InfoKey("ftphighport"), GetParam().high);
}

INSTANTIATE_TEST_SUITE_P(Ranges, FtpPassiveRange,
                         testing::Values(PortCase{"TooWide", "ftplowport=\"55536\"\nftphighport=\"55700\"\n", "55663"},
                                         PortCase{"Exactly127", "ftplowport=\"55536\"\nftphighport=\"55663\"\n",
                                                  "55663"},
                                         PortCase{"Narrow", "ftplowport=\"100\"\nftphighport=\"110\"\n", "110"},
                                         PortCase{"NoLowEnd", "ftphighport=\"500\"\n", "127"},
                                         PortCase{"NoKeys", "unique=\"x\"\n", "<absent>"}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(FtpPassiveRangeFailure, UnreadableSettingsEndTheRun)
{
    // A value longer than the 128-byte buffer is a read error, not a port.
    write_file(kInfo, "ftplowport=\"" + std::string(200, '1') + "\"\nftphighport=\"60000\"\n");
    EXPECT_EQ(UpdateFTPPassivePortRange(), -1);
    EXPECT_TRUE(korvtest::syslog_has_pattern(
        "updater.cpp:<L>(UpdateFTPPassivePortRange) KORLFileGetKeyValue(SZF_KORV_INFO, SZK_FTP_LOW_PORT) fail"))
        << korvtest::syslog_dump();
    EXPECT_EQ(InfoKey("ftphighport"), "60000");
}

struct CodepageCase {
    const char *name;
    const char *value;  // null: the key is absent
    const char *code;
};

class Codepage : public testing::TestWithParam<CodepageCase> {};

TEST_P(Codepage, NumberBecomesLanguageCode)
{
    std::string conf = "unique=\"x\"\ncodepage_apple=\"10000\"\n";
    if (GetParam().value)
        conf += std::string("codepage=\"") + GetParam().value + "\"\ncodepage_mediaservice=\"" + GetParam().value +
                "\"\n";
    write_file(kInfo, conf);
    RunTwice([] { UpdateCodepages(); }, {kInfo});
    EXPECT_EQ(InfoKey("codepage"), GetParam().code);
    EXPECT_EQ(InfoKey("codepage_mediaservice"), GetParam().code);
    EXPECT_EQ(InfoKey("codepage_apple"), "<absent>");
    EXPECT_EQ(InfoKey("unique"), "x");
}

INSTANTIATE_TEST_SUITE_P(Table, Codepage,
                         testing::Values(CodepageCase{"Polish", "852", "plk"}, CodepageCase{"Russian", "866", "rus"},
                                         CodepageCase{"Japanese", "932", "jpn"},
                                         CodepageCase{"ChineseSimplified", "936", "chs"},
                                         CodepageCase{"Korean", "949", "krn"},
                                         CodepageCase{"ChineseTraditional", "950", "cht"},
                                         CodepageCase{"Turkish", "1254", "trk"},
                                         CodepageCase{"Western", "850", "enu"},
                                         CodepageCase{"OtherNumber", "437", "enu"},
                                         // What an earlier run of the package wrote stays.
                                         CodepageCase{"AlreadyJapanese", "jpn", "jpn"},
                                         CodepageCase{"AlreadyTurkish", "trk", "trk"},
                                         CodepageCase{"AlreadyWestern", "enu", "enu"},
                                         CodepageCase{"OtherLetters", "xyz", "enu"},
                                         CodepageCase{"Absent", nullptr, "enu"}),
                         [](const auto &info) { return std::string(info.param.name); });

const char kRsyncConf[] = "/etc/rsyncd.conf";
const char kRsyncSecrets[] = "/etc/rsyncd.secrets";

mode_t ModeOf(const char *path)
{
    struct stat st = {};
    EXPECT_EQ(stat(path, &st), 0) << path;
    return st.st_mode & 07777;
}

TEST(RsyncdConf, NoChrootAfterTheLockFileLine)
{
    write_file(kRsyncConf, "uid = root\nlock file = /var/run/rsyncd.lock\nlog file = /var/log/rsyncd.log\n", 0600);
    write_file(kRsyncSecrets, "admin|c2VjcmV0AA==\n", 0666);
    RunTwice([] { EXPECT_EQ(UpdateRsyncdConf(), 0); }, {kRsyncConf, kRsyncSecrets});
    EXPECT_EQ(read_file(kRsyncConf),
              "uid = root\nlock file = /var/run/rsyncd.lock\nuse chroot = no\nlog file = /var/log/rsyncd.log\n");
    EXPECT_EQ(ModeOf(kRsyncConf), 0644u);
    EXPECT_EQ(ModeOf(kRsyncSecrets), 0640u);
    struct stat st = {};
    ASSERT_EQ(stat(kRsyncSecrets, &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_gid, 25u);
}

TEST(RsyncdConf, WithoutLockFileLineNothingIsAdded)
{
    const std::string conf = "uid = root\nlog file = /var/log/rsyncd.log\n";
    write_file(kRsyncConf, conf, 0600);
    write_file(kRsyncSecrets, "admin|c2VjcmV0AA==\n", 0666);
    EXPECT_EQ(UpdateRsyncdConf(), 0);
    EXPECT_EQ(read_file(kRsyncConf), conf);
    EXPECT_EQ(ModeOf(kRsyncConf), 0600u);
    EXPECT_EQ(ModeOf(kRsyncSecrets), 0640u);
    EXPECT_TRUE(korvtest::syslog_has_pattern("updater.cpp UpdateRsyncdConf(<L>) : KORLFileAddLine(szFile=[/etc/"
                                             "rsyncd.conf] szKey=[lock file =] szLine=[use chroot = no] "
                                             "flag=OP_FIND_PREFIX) fail"))
        << korvtest::syslog_dump();
}

TEST(RsyncdConf, AlreadyWithoutChrootIsLeftAlone)
{
    const std::string conf = "lock file = /var/run/rsyncd.lock\nuse chroot = no\n";
    write_file(kRsyncConf, conf, 0600);
    EXPECT_EQ(UpdateRsyncdConf(), 0);
    EXPECT_EQ(read_file(kRsyncConf), conf);
    EXPECT_EQ(ModeOf(kRsyncConf), 0600u);
}

struct GroupCase {
    const char *name;
    const char *before;
    const char *after;
};

class SmmspGroup : public testing::TestWithParam<GroupCase> {};

TEST_P(SmmspGroup, AdminJoinsBeforeNobody)
{
    const std::string others = "root:x:0:\nadministrators:x:101:admin\n";
    const char kGroup[] = "/etc/group";
    write_file(kGroup, others + GetParam().before + "\nusers:x:100:\n");
    RunTwice([] { EXPECT_EQ(CheckAndUpdateSmmspGroup(), 0); }, {kGroup});
    EXPECT_EQ(read_file(kGroup), others + GetParam().after + "\nusers:x:100:\n");
}

INSTANTIATE_TEST_SUITE_P(
    Lines, SmmspGroup,
    testing::Values(GroupCase{"BeforeNobody", "smmsp:x:25:smmsp,nobody", "smmsp:x:25:smmsp,admin,nobody"},
                    GroupCase{"Appended", "smmsp:x:25:smmsp", "smmsp:x:25:smmsp,admin"},
                    GroupCase{"NobodyAlone", "smmsp:x:25:nobody", "smmsp:x:25:admin,nobody"},
                    GroupCase{"AlreadyMember", "smmsp:x:25:admin,nobody", "smmsp:x:25:admin,nobody"},
                    // Membership is by exact name, and an empty list takes no comma.
                    GroupCase{"EmptyList", "smmsp:x:25:", "smmsp:x:25:admin"},
                    GroupCase{"SimilarName", "smmsp:x:25:sysadmin,admins", "smmsp:x:25:sysadmin,admins,admin"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(SmmspGroupFailure, NoSmmspLineChangesNothing)
{
    const std::string group = "root:x:0:\nusers:x:100:\n";
    write_file("/etc/group", group);
    EXPECT_EQ(CheckAndUpdateSmmspGroup(), 0);
    EXPECT_EQ(read_file("/etc/group"), group);
    EXPECT_TRUE(korvtest::syslog_has_pattern("updater.cpp (CheckAndUpdateSmmspGroup):<L> KORLFileGetLine() failed! "
                                             "file=[/etc/group] key=[smmsp:] errno=[0x<L>]"))
        << korvtest::syslog_dump();
}

}  // namespace

namespace {

TEST(RsyncdSecrets, EverySecretInBase64)
{
    // Not Base64: "abc!" with its NUL; "hunter2!" with its NUL inside the last group of three;
    // "passwd" (a length no Base64 text has), whose NUL would begin a group, without it.
    write_file(kRsyncSecrets,
               "alice:$1$salt$hash|abc!\n"
               "\n"
               "no bar on this line\n"
               "  bob:$1$x$y|YWJj  \n"
               "carol:h|hunter2!\n"
               "dave:h|passwd\n",
               0666);
    RunTwice([] { EXPECT_EQ(CheckAndUpdateRsyncdSecrets(), 0); }, {kRsyncSecrets});
    EXPECT_EQ(read_file(kRsyncSecrets), "alice:$1$salt$hash|YWJjIQA=\nbob:$1$x$y|YWJj\ncarol:h|aHVudGVyMiEA\n"
              "dave:h|cGFzc3dk\n");
    struct stat st = {};
    ASSERT_EQ(stat(kRsyncSecrets, &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_gid, 25u);
    EXPECT_FALSE(korvtest::file_exists("/etc/rsyncd.secrets.tmp"));
    // Lengths only: no secret, old or new, reaches the log.
    for (const char *secret : {"abc!", "YWJjIQA=", "YWJj", "hunter2!", "aHVudGVyMiEA", "passwd", "cGFzc3dk"})
        for (const auto &line : korvtest::syslog_lines())
            EXPECT_EQ(line.message.find(secret), std::string::npos) << line.message;
}

TEST(RsyncdSecrets, UnwritableTemporaryLeavesTheFile)
{
    const std::string secrets = "alice:h|abc!\n";
    write_file(kRsyncSecrets, secrets, 0600);
    // The place of the temporary file is taken by a folder: nothing is replaced.
    korvtest::make_dirs("/etc/rsyncd.secrets.tmp");
    EXPECT_EQ(CheckAndUpdateRsyncdSecrets(), 0);
    EXPECT_EQ(read_file(kRsyncSecrets), secrets);
    EXPECT_EQ(ModeOf(kRsyncSecrets), 0600u);
    EXPECT_TRUE(korvtest::syslog_has_pattern("updater.cpp (CheckAndUpdateRsyncdSecrets):<L> fail to open "
                                             "[/etc/rsyncd.secrets]! errno=<L>/Is a directory"))
        << korvtest::syslog_dump();
}

TEST(RsyncdSecrets, FullDiskLeavesTheFile)
{
    // A secrets file too large for the small disk the folder is on: the write fails, the old
    // file stays whole and no temporary file is left.
    std::string secrets;
    for (int i = 100; i < 350; ++i)
        secrets += "user" + std::to_string(i) + ":h|not base64 secret number " + std::to_string(i) + "\n";
    ASSERT_TRUE(korvtest::mount_small_disk("/etc", 20 * 1024));
    korvtest::write_file(kRsyncSecrets, secrets, 0600);
    EXPECT_EQ(CheckAndUpdateRsyncdSecrets(), 0);
    EXPECT_EQ(read_file(kRsyncSecrets), secrets);
    EXPECT_FALSE(korvtest::file_exists("/etc/rsyncd.secrets.tmp"));
    EXPECT_TRUE(korvtest::syslog_has_pattern("updater.cpp (CheckAndUpdateRsyncdSecrets):<L> fail to write "
                                             "[/etc/rsyncd.secrets.tmp]! errno=<L>/No space left on device"))
        << korvtest::syslog_dump();
}

}  // namespace

namespace {

TEST(NetBackupSets, SharesBecomeTheSetsName)
{
    const char kConf[] = "/etc/korvnetbkp.conf";
    write_file(kConf,
               "[nightly]\n\tbkp_server=\"nas2\"\n\tbkp_shares=\"public,photo\"\n\tcustom=\"kept\"\n"
               "[weekly]\n\tbkp_server=\"nas3\"\n",
               0600);
    RunTwice([] { EXPECT_EQ(UpdateNetBackupSets(), 0); }, {kConf});
    void **array = nullptr;
    int count = KORVBackupConfGetAll(&array, BACKUP_TYPE_NETBKP);
    ASSERT_EQ(count, 2);
    auto **sets = reinterpret_cast<KORVNETBKPCONF **>(array);
    EXPECT_STREQ(sets[0]->szSection, "nightly");
    EXPECT_STREQ(sets[0]->bkp_shares, "nightly");
    EXPECT_STREQ(sets[0]->bkp_server, "nas2");
    EXPECT_STREQ(sets[1]->bkp_shares, "weekly");
    KORVNetBkpConfArrayFree(sets, count);
    EXPECT_NE(read_file(kConf).find("\tcustom=\"kept\"\n"), std::string::npos) << read_file(kConf);
}

TEST(NetBackupSets, ConfigBackupMovesIntoApp)
{
    const std::string base = "/var/services/NetBackup/";
    // A set whose name a shell would run, one with its "@app" already there, one with nothing
    // to move, and a link that must not be followed.
    const std::string odd = "odd;touch pwned;'$(x)";
    korvtest::make_dirs(base + odd);
    write_file(base + odd + "/configbackup.dss", "odd");
    korvtest::make_dirs(base + "kept/@app");
    write_file(base + "kept/configbackup.dss", "kept");
    korvtest::make_dirs(base + "empty");
    korvtest::make_dirs("/tmp/elsewhere");
    write_file("/tmp/elsewhere/configbackup.dss", "elsewhere");
    ASSERT_EQ(symlink("/tmp/elsewhere", (base + "link").c_str()), 0);

    UpdateNetBackupConfigPath();
    UpdateNetBackupConfigPath();

    EXPECT_EQ(read_file(base + odd + "/@app/configbackup.dss"), "odd");
    EXPECT_FALSE(korvtest::file_exists(base + odd + "/configbackup.dss"));
    EXPECT_EQ(ModeOf((base + odd + "/@app").c_str()), 0777u);
    EXPECT_EQ(read_file(base + "kept/@app/configbackup.dss"), "kept");
    EXPECT_FALSE(korvtest::file_exists(base + "empty/@app"));
    EXPECT_EQ(read_file("/tmp/elsewhere/configbackup.dss"), "elsewhere");
    EXPECT_FALSE(korvtest::file_exists("/tmp/elsewhere/@app"));
    EXPECT_FALSE(korvtest::file_exists("pwned"));
    EXPECT_FALSE(korvtest::file_exists("/pwned"));
}

}  // namespace

namespace {

const char kCrontabHead[] = "#minute\thour\tmday\tmonth\twday\twho\tcommand\n";
const char kUsbLine[] = "30\t3\t*\t*\t*\troot\t/usr/korv/bin/korvusbbkp\n";

void UsbUnit(const std::string &shares, const std::string &id, const std::string &crontab)
{
    korvtest::make_dirs("/etc.defaults");
    write_file("/etc.defaults/korvinfo.conf", "maxshares=\"256\"\n");
    std::string info = "unique=\"x\"\n";
    if (!shares.empty())
        info += "usbbkpshares=\"" + shares + "\"\n";
    info += "usbbkpid=\"" + id + "\"\nusbbkpresult=\"done\"\nusbbkpsharesold=\"stays\"\n";
    write_file(kInfo, info);
    write_file("/etc/crontab", crontab);
}

struct LocalSet {
    int count = -1;
    KORVLOCALBKPCONF **sets = nullptr;
    LocalSet()
    {
        void **array = nullptr;
        count = KORVBackupConfGetAll(&array, BACKUP_TYPE_LOCALBKP);
        sets = reinterpret_cast<KORVLOCALBKPCONF **>(array);
    }
    ~LocalSet() { KORVLocalBkpConfArrayFree(sets, count); }
};

TEST(UsbBackup, BecomesMyBackupSetWithItsSchedule)
{
    UsbUnit("public,photo", "20080315142233-0011223344", kCrontabHead + std::string(kUsbLine));
    RunTwice([] { EXPECT_EQ(ConvertUSBBackupToLocalBackup(), 0); },
             {kInfo, "/etc/crontab", "/etc/korvlocalbkp.conf"});
    LocalSet local;
    ASSERT_EQ(local.count, 1);
    const KORVLOCALBKPCONF *set = local.sets[0];
    EXPECT_STREQ(set->szSection, "MyBackupSet");
    EXPECT_EQ(set->dest_type, 3);
    EXPECT_STREQ(set->dest_share, "usbbackup");
    EXPECT_STREQ(set->dest_id, "20080315142233-0011223344");
    EXPECT_STREQ(set->bkp_shares, "public,photo");
    EXPECT_STREQ(set->last_bkp_result, "done");
    EXPECT_STREQ(set->last_bkp_time, "2008/03/15 14:22");
    EXPECT_EQ(set->incrbkp, 0);
    EXPECT_EQ(read_file(kInfo), "unique=\"x\"\nusbbkpsharesold=\"stays\"\n");
    EXPECT_EQ(read_file("/etc/crontab"),
              kCrontabHead + std::string("30\t3\t*\t*\t*\troot\t/usr/korv/bin/korvlocalbkp -a \"MyBackupSet\"\n"));
}

TEST(UsbBackup, WithoutScheduleOrIdNoTimeAndNoLine)
{
    UsbUnit("public", "", kCrontabHead);
    EXPECT_EQ(ConvertUSBBackupToLocalBackup(), 0);
    LocalSet local;
    ASSERT_EQ(local.count, 1);
    EXPECT_STREQ(local.sets[0]->last_bkp_time, "");
    EXPECT_EQ(read_file(kInfo), "unique=\"x\"\nusbbkpsharesold=\"stays\"\n");
    EXPECT_EQ(read_file("/etc/crontab"), kCrontabHead);
}

TEST(UsbBackup, ExistingLocalSetsSkipEverything)
{
    UsbUnit("public", "20080315142233-1", kCrontabHead + std::string(kUsbLine));
    const std::string local = "[Other]\n\tdest_type=\"1\"\n";
    write_file("/etc/korvlocalbkp.conf", local, 0600);
    const std::string info = read_file(kInfo);
    EXPECT_EQ(ConvertUSBBackupToLocalBackup(), 0);
    EXPECT_EQ(read_file("/etc/korvlocalbkp.conf"), local);
    EXPECT_EQ(read_file(kInfo), info);
    EXPECT_EQ(read_file("/etc/crontab"), kCrontabHead + std::string(kUsbLine));
}

// A run killed after it wrote the set, before the USB settings and schedule were gone: the next
// run finds its own set and ends the conversion, the set as it was.
TEST(UsbBackup, SetMadeByAKilledRunIsCompleted)
{
    UsbUnit("public", "20080315142233-1", kCrontabHead + std::string(kUsbLine));
    const std::string local = "[MyBackupSet]\n\tdest_type=\"usbbkp\"\n\tdest_share=\"usbbackup\"\n"
                              "\tdest_id=\"20080315142233-1\"\n\tbkp_shares=\"public\"\n";
    write_file("/etc/korvlocalbkp.conf", local, 0600);
    RunTwice([] { EXPECT_EQ(ConvertUSBBackupToLocalBackup(), 0); },
             {kInfo, "/etc/crontab", "/etc/korvlocalbkp.conf"});
    EXPECT_EQ(read_file("/etc/korvlocalbkp.conf"), local);
    EXPECT_EQ(read_file(kInfo), "unique=\"x\"\nusbbkpsharesold=\"stays\"\n");
    EXPECT_EQ(read_file("/etc/crontab"),
              kCrontabHead + std::string("30\t3\t*\t*\t*\troot\t/usr/korv/bin/korvlocalbkp -a \"MyBackupSet\"\n"));
}

// Killed between the new schedule line and the old one's removal: the old one goes.
TEST(UsbBackup, ScheduleWrittenTwiceByAKilledRunEndsAsOneLine)
{
    const std::string both = kCrontabHead + std::string(kUsbLine) +
                             "30\t3\t*\t*\t*\troot\t/usr/korv/bin/korvlocalbkp -a \"MyBackupSet\"\n";
    UsbUnit("public", "", both);
    write_file(kInfo, "unique=\"x\"\n");
    write_file("/etc/korvlocalbkp.conf", "[MyBackupSet]\n\tdest_type=\"usbbkp\"\n\tdest_share=\"usbbackup\"\n", 0600);
    EXPECT_EQ(ConvertUSBBackupToLocalBackup(), 0);
    EXPECT_EQ(read_file("/etc/crontab"),
              kCrontabHead + std::string("30\t3\t*\t*\t*\troot\t/usr/korv/bin/korvlocalbkp -a \"MyBackupSet\"\n"));
}

TEST(UsbBackup, ScheduleTheSetterRefusesKeepsTheUsbLine)
{
    // A hand-edited line whose only weekday does not exist reads back with no day at all: the
    // new line cannot be written, so the old one must stay.
    const std::string crontab = kCrontabHead + std::string("30\t3\t*\t*\t9\troot\t/usr/korv/bin/korvusbbkp\n");
    UsbUnit("public", "20080315142233-1", crontab);
    EXPECT_EQ(ConvertUSBBackupToLocalBackup(), 0);
    EXPECT_EQ(read_file("/etc/crontab"), crontab);
    EXPECT_TRUE(korvtest::syslog_has_pattern("updater.cpp:<L> KORVScheduleSet() failed!! "
                                             "szCmd=[/usr/korv/bin/korvlocalbkp -a \"MyBackupSet\"], "
                                             "errno=[0x0D00]"))
        << korvtest::syslog_dump();
    LocalSet local;
    EXPECT_EQ(local.count, 1);
}

}  // namespace

namespace {

// A share section of smb.conf, as the share database reads it.
std::string ShareSection(const std::string &name, const std::string &path)
{
    return "[" + name + "]\n\tinvalid users=nobody,nobody\n\tcomment=\"\"\n\tpath=" + path +
           "\n\tguest ok=yes\n\tbrowseable=yes\n\tread list=nobody,nobody\n\twrite list=nobody,nobody\n"
           "\twriteable=yes\n";
}

struct UsbSharesCase {
    const char *name;
    bool keyPresent;       // "usbbkpshares" written, empty
    const char *smbConf;   // null: no smb.conf
    const char *shares;    // the set's shares afterwards
};

void PrintTo(const UsbSharesCase &c, std::ostream *os)
{
    *os << c.name;
}

class UsbBackupShares : public testing::TestWithParam<UsbSharesCase> {};

// Without shares of its own the set backs up every ordinary share: no USB or SATA disk's share.
TEST_P(UsbBackupShares, EmptyListTakesTheOrdinaryShares)
{
    const UsbSharesCase &c = GetParam();
    grouptest::install();
    if (c.smbConf)
        write_file(KORV_SMB_CONF, c.smbConf, 0644);
    UsbUnit("", "20080315142233-1", kCrontabHead);
    if (c.keyPresent)
        write_file(kInfo, read_file(kInfo) + "usbbkpshares=\"\"\n");
    EXPECT_EQ(ConvertUSBBackupToLocalBackup(), 0);
    LocalSet local;
    ASSERT_EQ(local.count, 1) << korvtest::syslog_dump();
    EXPECT_STREQ(local.sets[0]->bkp_shares, c.shares) << korvtest::syslog_dump();
    EXPECT_EQ(read_file(kInfo), "unique=\"x\"\nusbbkpsharesold=\"stays\"\n");
}

const std::string kMixedShares = "[global]\n\tworkgroup=WORKGROUP\n" + ShareSection("public", "/volume1/public") +
                                 ShareSection("usbshare1", "/volumeUSB1/usbshare") +
                                 ShareSection("Data", "/volume1/Data") +
                                 ShareSection("satashare", "/volumeSATA/satashare") +
                                 ShareSection("photo", "/volume1/photo");
const std::string kDiskSharesOnly = ShareSection("usbshare1", "/volumeUSB1/usbshare") +
                                    ShareSection("satashare", "/volumeSATA/satashare");

INSTANTIATE_TEST_SUITE_P(
    Shares, UsbBackupShares,
    testing::Values(UsbSharesCase{"KeyAbsent", false, kMixedShares.c_str(), "Data,photo,public"},
                    UsbSharesCase{"KeyEmpty", true, kMixedShares.c_str(), "Data,photo,public"},
                    UsbSharesCase{"OnlyDiskShares", false, kDiskSharesOnly.c_str(), ""},
                    UsbSharesCase{"NoSmbConf", false, nullptr, ""}),
    [](const testing::TestParamInfo<UsbSharesCase> &i) { return std::string(i.param.name); });

}  // namespace
