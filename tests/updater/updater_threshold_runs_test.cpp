// Whole updater runs on units of the installed builds around every migration flag's threshold:
// the builds just inside and just outside the flag's range. The unit carries something for every
// step to change; each row checks the exit code, the progress as it moved and the final value,
// the message file and the update log, and then the files of its own flag's step: changed as
// the step changes them when the build sets the flag, untouched when it does not.
//
// The thresholds are this test's own table, written from what each migration is for, not read
// from the updater's.
#include <dirent.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "device_tree.h"
#include "korv/autoblock.h"
#include "korv/backup.h"
#include "korv/file.h"
#include "korv/ftp.h"
#include "korvtest.h"
#include "updater.h"
#include "updater_run.h"
#include "updater_unit.h"

using korvtest::file_exists;
using korvtest::read_file;
using korvtest::write_file;

using namespace updatertest;

namespace {

constexpr int kAny = INT_MIN;

// Does the build set the flag, by this test's table.
bool sets(const char *flag, int build);

// Each flag's check of its step's files after the run.
using Check = void (*)(bool set, int build, const updatertest::RunResult &run);

void removed(const char *path, bool set)
{
    EXPECT_EQ(file_exists(path), !set) << path;
}

// The analysis clears the flag for old builds: no transfer buffer is asked for or given back.
void check_driver_buffer(bool set, int, const updatertest::RunResult &run)
{
    const std::vector<std::string> buffer = {"SYS405 arg=1 -> 0", "SYS405 arg=0 -> 0"};
    EXPECT_EQ(run.sys405, set ? std::vector<std::string>{} : buffer);
}

void check_rc_atalk(bool set, int, const updatertest::RunResult &)
{
    removed(kRcAtalk, set);
}
void check_papd_conf(bool set, int, const updatertest::RunResult &)
{
    removed(kPapdConf, set);
}
void check_profile(bool set, int, const updatertest::RunResult &)
{
    removed(kProfile, set);
}
void check_jumbo_rc(bool set, int, const updatertest::RunResult &)
{
    removed(kJumboRc, set);
}

// "MTUValue" 9000 is capped to 8000, wherever the later step leaves it.
void check_mtu_cap(bool set, int build, const updatertest::RunResult &)
{
    const char *where = sets("gfMtuValueToEth0", build) ? "eth0_mtu" : "MTUValue";
    EXPECT_EQ(setting(where), set ? "8000" : "9000") << where;
}

void check_mtu_to_eth0(bool set, int build, const updatertest::RunResult &)
{
    std::string value = sets("gfMtuValueCap", build) ? "8000" : "9000";
    EXPECT_EQ(setting("MTUValue"), set ? "<absent>" : value);
    EXPECT_EQ(setting("eth0_mtu"), set ? value : "1500");
}

// The unit's only interface up is bond0, without an MTU of its own before the run.
void check_bond0_mtu(bool set, int, const updatertest::RunResult &)
{
    EXPECT_EQ(setting("bond0_mtu"), set ? setting("eth0_mtu") : "<absent>");
}

// samba's own reading of smb.conf: it must load, and this is the configuration it makes of it.
std::string samba_view(const std::string &path)
{
    // testparm wants samba's own folders, which the tree has no other use for.
    for (const char *dir : {"/run/samba", "/var/lib/samba", "/var/cache/samba"})
        korvtest::make_dirs(dir);
    std::string out;
    int status = korvtest::run_shell("testparm -s " + korvtest::shell_quote(path), &out);
    EXPECT_EQ(status, 0) << "testparm -s " << path << ":\n" << out << "\n" << read_file(path);
    EXPECT_NE(out.find("Loaded services file OK."), std::string::npos) << out;
    size_t dump = out.find("# Global parameters");
    return dump == std::string::npos ? out : out.substr(dump);
}

void check_ftp_write_only(bool set, int, const updatertest::RunResult &)
{
    EXPECT_EQ(read_file(kSmbConf), set ? kSmbAfter : kSmbBefore);
    // samba ignores the FTP options: the converted file must load and mean what the old one meant.
    write_file("/tmp/smb.conf.before", kSmbBefore);
    std::string view = samba_view(kSmbConf);
    EXPECT_EQ(view, samba_view("/tmp/smb.conf.before"));
    EXPECT_NE(view.find("[public]"), std::string::npos) << view;
    EXPECT_FALSE(file_exists(std::string(kSmbConf) + ".tmp"));
}

std::vector<std::string> blocked()
{
    std::string bytes = read_file(KORV_AUTOBLOCK_LIST);
    std::vector<std::string> out;
    for (size_t at = 0; at + KORV_AUTOBLOCK_REC_SIZE <= bytes.size(); at += KORV_AUTOBLOCK_REC_SIZE) {
        const auto *b = reinterpret_cast<const unsigned char *>(bytes.data() + at + 4);
        out.push_back(std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
                      std::to_string(b[3]));
    }
    return out;
}

void check_ftp_deny(bool set, int, const updatertest::RunResult &)
{
    EXPECT_EQ(blocked(), set ? std::vector<std::string>{"10.0.0.7"} : std::vector<std::string>{});
    EXPECT_EQ(read_file(KORV_HOSTS_DENY).find("10.0.0.7") == std::string::npos, set) << read_file(KORV_HOSTS_DENY);
    EXPECT_EQ(setting("ftpipautodeny"), set ? "<absent>" : "yes");
    if (set) {
        EXPECT_EQ(setting("autoblock_attempts"), "5");
    }
}

void check_event_test(bool set, int, const updatertest::RunResult &)
{
    EXPECT_EQ(setting("eventtest"), set ? "<absent>" : "yes");
}

// shadow-utils reads the account files as the steps left them; the homes and shells it looks for
// are laid out first, and the group file's index line is left out of its copy.
void accounts_pass_shadow_utils()
{
    std::istringstream users(read_file("/etc/passwd"));
    for (std::string line; std::getline(users, line);) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string x; std::getline(fields, x, ':');)
            f.push_back(x);
        if (f.size() < 7)
            continue;
        korvtest::make_dirs(f[5]);
        if (!file_exists(f[6]))
            korvtest::install_program(f[6], "#!/bin/sh\nexit 0\n");
    }
    std::string out;
    EXPECT_EQ(korvtest::run_shell("pwck -r /etc/passwd /etc/shadow 2>&1", &out), 0) << out;
    std::string groups;
    std::istringstream in(read_file("/etc/group"));
    for (std::string line; std::getline(in, line);)
        if (line.rfind("#", 0) != 0)
            groups += line + "\n";
    write_file("/tmp/group.checked", groups);
    EXPECT_EQ(korvtest::run_shell("grpck -r /tmp/group.checked 2>&1", &out), 0) << out;
}

// The FTP server's system group and accounts, uid and gid 21, added where the build is old.
void check_ftp_accounts(bool set, int, const updatertest::RunResult &)
{
    const std::string group = read_file("/etc/group"), passwd = read_file("/etc/passwd");
    EXPECT_EQ(group.find("ftp:x:21:") != std::string::npos, set) << group;
    for (const char *line : {"ftp:x:21:21:Anonymous FTP User:/nonexist:/sbin/nologin\n",
                             "anonymous:x:21:21:Anonymous FTP User:/nonexist:/sbin/nologin\n"})
        EXPECT_EQ(passwd.find(line) != std::string::npos, set) << passwd;
    EXPECT_EQ(read_file("/etc/shadow").find("anonymous:*:10933:0:99999:7:::\n") != std::string::npos, set);
    accounts_pass_shadow_utils();
}

void check_passwd_homes(bool set, int, const updatertest::RunResult &)
{
    const std::string passwd = read_file("/etc/passwd");
    EXPECT_NE(passwd.find(set ? kBobAfter : kBobBefore), std::string::npos) << passwd;
    accounts_pass_shadow_utils();
}

void check_user_conf(bool set, int, const updatertest::RunResult &)
{
    EXPECT_EQ(read_file("/etc/korvuser.conf"), set ? "bob:3:\n" : kUserConfBefore);
}

void check_mail_accounts(bool set, int, const updatertest::RunResult &)
{
    EXPECT_EQ(read_file("/etc/group").find("postfix:x:125:postfix\n") != std::string::npos, set);
    EXPECT_EQ(read_file("/etc/passwd").find("dovecot:x:143:143:Dovecot User:/nonexist:/sbin/nologin\n") !=
                  std::string::npos,
              set);
    EXPECT_EQ(read_file("/etc/shadow").find("dovecot:*:10933:0:99999:7:::\n") != std::string::npos, set);
    accounts_pass_shadow_utils();
}

void check_bond_alb(bool set, int, const updatertest::RunResult &)
{
    const std::string bond = korvtest::network_scripts()["ifcfg-bond0"];
    EXPECT_EQ(bond.find("mode=active-backup") != std::string::npos, set) << bond;
    EXPECT_EQ(bond.find("mode=balance-alb") != std::string::npos, !set) << bond;
}

void check_squeeze_links(bool set, int, const updatertest::RunResult &)
{
    struct stat st = {};
    EXPECT_EQ(lstat(kSqueezeSys, &st) == 0 && S_ISLNK(st.st_mode), set);
}

void check_ftp_ports(bool set, int, const updatertest::RunResult &)
{
    EXPECT_EQ(setting("ftphighport"), set ? "55663" : "55700");
    EXPECT_EQ(setting("ftplowport"), "55536");
}

void check_rsyncd_conf(bool set, int, const updatertest::RunResult &)
{
    EXPECT_EQ(read_file(kRsyncConf), set ? kRsyncConfAfter : kRsyncConfBefore);
    EXPECT_EQ(mode_of(kRsyncConf), set ? 0644u : 0600u);
}

void check_rsyncd_secrets(bool set, int build, const updatertest::RunResult &)
{
    EXPECT_EQ(read_file(kSecrets), set ? kSecretsAfter : kSecretsBefore);
    // Either step leaves the secrets readable by root and group 25 only.
    EXPECT_EQ(mode_of(kSecrets), set || sets("gfRsyncdConf", build) ? 0640u : 0600u);
}

void check_smmsp(bool set, int, const updatertest::RunResult &)
{
    std::string group = read_file("/etc/group");
    EXPECT_NE(group.find(set ? kGroupSmmspAfter : kGroupSmmsp), std::string::npos) << group;
}

void check_usb_backup(bool set, int, const updatertest::RunResult &)
{
    EXPECT_EQ(file_exists("/etc/korvlocalbkp.conf"), set);
    EXPECT_EQ(read_file("/etc/crontab"), kCrontabHead + std::string(set ? kLocalLine : kUsbLine));
    for (const char *key : {"usbbkpshares", "usbbkpid", "usbbkpresult"})
        EXPECT_EQ(setting(key) == "<absent>", set) << key;
    if (!set)
        return;
    void **array = nullptr;
    int count = KORVBackupConfGetAll(&array, BACKUP_TYPE_LOCALBKP);
    ASSERT_EQ(count, 1);
    auto **local = reinterpret_cast<KORVLOCALBKPCONF **>(array);
    EXPECT_STREQ(local[0]->szSection, "MyBackupSet");
    EXPECT_STREQ(local[0]->bkp_shares, "public");
    EXPECT_STREQ(local[0]->dest_id, "20080315142233-0011");
    EXPECT_STREQ(local[0]->last_bkp_time, "2008/03/15 14:22");
    KORVLocalBkpConfArrayFree(local, count);
}

void check_net_backup(bool set, int, const updatertest::RunResult &)
{
    void **array = nullptr;
    int count = KORVBackupConfGetAll(&array, BACKUP_TYPE_NETBKP);
    ASSERT_EQ(count, 1);
    auto **net = reinterpret_cast<KORVNETBKPCONF **>(array);
    EXPECT_STREQ(net[0]->bkp_shares, set ? "nightly" : "public,photo");
    EXPECT_STREQ(net[0]->bkp_server, "nas2");
    KORVNetBkpConfArrayFree(net, count);
    const std::string dir = kNetSetDir;
    EXPECT_EQ(read_file(dir + (set ? "/@app/configbackup.dss" : "/configbackup.dss")), "set");
    EXPECT_EQ(file_exists(dir + "/@app"), set);
}

void check_codepage(bool set, int, const updatertest::RunResult &)
{
    EXPECT_EQ(setting("codepage"), set ? "jpn" : "932");
    EXPECT_EQ(setting("codepage_mediaservice"), set ? "rus" : "866");
    EXPECT_EQ(setting("codepage_apple"), set ? "<absent>" : "10000");
}

// The photo steps run through the shell; their programs record each run (the su line, then the
// tool's own), and the log read back gives their order in the run.
const char kStartDb[] = "S20pgsql.sh start";
const char kReindex[] = "korvindex -R all";
const char kDumpDir[] = "/volume1/.@pgsql_upgrade";
const char *const kDumpedDbs[] = {"photo", "download", "surveillance", "roundcubemail"};
const char *const kDatabaseFlags[] = {"gfPhotoDbUpgrade_tables", "gfPhotoDbUpgrade_video", "gfDropMediaServerDb",
                                      "gfDumpPgsqlDbs"};

std::vector<std::string> photo_runs()
{
    std::vector<std::string> out;
    for (const auto &line : korvtest::program_runs()) {
        std::string name = line.substr(0, line.find(' '));
        for (const char *tool : {"find", "S20pgsql.sh", "su", "psql", "dropdb", "pg_dump", "korvindex"})
            if (name == tool)
                out.push_back(line);
    }
    return out;
}

std::vector<std::string> sql_runs(std::initializer_list<const char *> statements)
{
    std::vector<std::string> out;
    for (const char *sql : statements) {
        out.push_back(std::string("su -l admin -c /usr/korv/pgsql/bin/psql photo -c '") + sql + "'");
        out.push_back(std::string("psql photo -c ") + sql);
    }
    return out;
}

// Each photo step's runs, in the order the steps come.
std::vector<std::string> photo_step_runs(const std::string &flag)
{
    if (flag == "gfPhotoEaDir")
        return {"find /var/services/photo/ -type d -name @eaDir -exec /bin/chmod -R 777 {} ;"};
    if (flag == "gfPhotoDbUpgrade_tables")
        return sql_runs({"ALTER TABLE photo_image ALTER timetaken TYPE varchar(64)",
                         "ALTER TABLE photo_user ADD COLUMN admin bool DEFAULT false"});
    if (flag == "gfPhotoDbUpgrade_video")
        // As psql gets them: the shell has taken the double quotes around "comment".
        return sql_runs({"CREATE TABLE video_comment(id serial NOT NULL,path text NOT NULL,name varchar(100),email "
                         "varchar(128),comment text,date timestamp,updated char(1),CONSTRAINT video_comment_pkey "
                         "PRIMARY KEY (id)) WITH OIDS;ALTER TABLE video_comment OWNER TO admin;",
                         "CREATE TABLE video_desc(id serial NOT NULL,path text NOT NULL, title text, description "
                         "text,updated char(1),CONSTRAINT video_pkey PRIMARY KEY (id),CONSTRAINT video_path_key "
                         "UNIQUE (path)) WITH OIDS;ALTER TABLE video_desc OWNER TO admin;"});
    if (flag == "gfDropMediaServerDb")
        return {"su -l admin -c /usr/korv/pgsql/bin/dropdb mediaserver", "dropdb mediaserver"};
    std::vector<std::string> dumps;
    for (const char *db : kDumpedDbs)
        dumps.push_back(std::string("pg_dump -C -o -U admin ") + db);
    return dumps;
}

// The step's runs come in one piece exactly when the build sets its flag: after the runs of the
// steps before it and the database service's start, before those of the steps after it and the
// re-index, which ends the photo runs. The service starts and the re-index runs exactly when one
// of the database flags is set.
void check_photo_runs(const char *flag, bool set, int build)
{
    const std::vector<std::string> runs = photo_runs();
    const std::vector<std::string> own = photo_step_runs(flag);
    bool database = false;
    for (const char *f : kDatabaseFlags)
        database = database || sets(f, build);
    EXPECT_EQ(std::count(runs.begin(), runs.end(), kStartDb), database ? 1 : 0) << testing::PrintToString(runs);
    EXPECT_EQ(std::count(runs.begin(), runs.end(), kReindex), database ? 1 : 0) << testing::PrintToString(runs);
    if (database) {
        EXPECT_EQ(runs.back(), kReindex) << testing::PrintToString(runs);
    }
    auto at = std::search(runs.begin(), runs.end(), own.begin(), own.end());
    if (!set) {
        for (const auto &line : own)
            EXPECT_EQ(std::count(runs.begin(), runs.end(), line), 0) << line;
        return;
    }
    ASSERT_NE(at, runs.end()) << testing::PrintToString(runs);
    for (const auto &line : own)
        EXPECT_EQ(std::count(runs.begin(), runs.end(), line), 1) << line;
    const std::vector<std::string> before(runs.begin(), at), after(at + own.size(), runs.end());
    bool earlier = true;
    for (const char *step :
         {"gfPhotoEaDir", "gfPhotoDbUpgrade_tables", "gfPhotoDbUpgrade_video", "gfDropMediaServerDb", "gfDumpPgsqlDbs"}) {
        if (std::string(step) == flag) {
            earlier = false;
            continue;
        }
        const std::vector<std::string> &wrong_side = earlier ? after : before;
        for (const auto &line : photo_step_runs(step))
            EXPECT_EQ(std::count(wrong_side.begin(), wrong_side.end(), line), 0)
                << line << " on the wrong side of " << flag;
    }
    if (std::string(flag) != "gfPhotoEaDir") {
        EXPECT_EQ(std::count(before.begin(), before.end(), kStartDb), 1) << testing::PrintToString(runs);
    }
}

// chmod -R 777 opens up every "@eaDir" and what it holds; other folders keep their rights.
void check_photo_ea_dir(bool set, int build, const updatertest::RunResult &)
{
    check_photo_runs("gfPhotoEaDir", set, build);
    const std::string ea = std::string(kPhotoDir) + "/@eaDir";
    EXPECT_EQ(mode_of(ea.c_str()), set ? 0777u : 0700u);
    EXPECT_EQ(mode_of((ea + "/a.jpg").c_str()), set ? 0777u : 0600u);
    EXPECT_EQ(mode_of(kPhotoDir), 0750u);
}

void check_photo_tables(bool set, int build, const updatertest::RunResult &)
{
    check_photo_runs("gfPhotoDbUpgrade_tables", set, build);
}

void check_photo_video(bool set, int build, const updatertest::RunResult &)
{
    check_photo_runs("gfPhotoDbUpgrade_video", set, build);
    EXPECT_EQ(korvtest::syslog_contains("Update photo db to add video tables"), set) << korvtest::syslog_dump();
}

void check_drop_media_server(bool set, int build, const updatertest::RunResult &)
{
    check_photo_runs("gfDropMediaServerDb", set, build);
}

// The dumps, one file a database, stay in the data volume's folder for the new firmware.
void check_pgsql_dumps(bool set, int build, const updatertest::RunResult &)
{
    check_photo_runs("gfDumpPgsqlDbs", set, build);
    EXPECT_EQ(file_exists(kDumpDir), set);
    for (const char *db : kDumpedDbs)
        EXPECT_EQ(file_exists(std::string(kDumpDir) + "/" + db + ".sql"), set) << db;
}

// A flag, the installed builds that set it (both included), and its step's check.
struct Flag {
    const char *name;
    int from, to;
    Check check;
};

// Of the analysis' own flags, the flash-directory repair (one build of one junior model) is
// tested with the flash, and the old layout needs a "/writeable" with room for the package.
const Flag kFlags[] = {
    {"gfDriverBuffer_cleared", kAny, 350, check_driver_buffer},
    {"gfPhotoDbUpgrade_tables", 401, 424, check_photo_tables},
    {"gfPhotoDbUpgrade_video", 401, 481, check_photo_video},
    {"gfDropMediaServerDb", kAny, 867, check_drop_media_server},
    {"gfDumpPgsqlDbs", kAny, 882, check_pgsql_dumps},
    {"gfRemoveRcAtalk", kAny, 107, check_rc_atalk},
    {"gfRemovePapdConf", kAny, 210, check_papd_conf},
    {"gfFtpSystemAccounts", kAny, 229, check_ftp_accounts},
    {"gfRemoveProfile", kAny, 250, check_profile},
    {"gfRemoveJumboFrameRc", kAny, 251, check_jumbo_rc},
    {"gfMtuValueCap", kAny, 308, check_mtu_cap},
    {"gfMtuValueToEth0", kAny, 547, check_mtu_to_eth0},
    {"gfPasswdHomes", kAny, 770, check_passwd_homes},
    {"gfUserConfFile", kAny, 770, check_user_conf},
    {"gfMailAccounts", kAny, 775, check_mail_accounts},
    {"gfBond0Mtu", kAny, 865, check_bond0_mtu},
    {"gfFtpWriteOnly", kAny, 867, check_ftp_write_only},
    {"gfBondAlbToActiveBackup", kAny, 886, check_bond_alb},
    {"gfFtpDenyToAutoBlock", kAny, 886, check_ftp_deny},
    {"gfSqueezeErrmsgLinks", kAny, 887, check_squeeze_links},
    {"gfRemoveEventTest", kAny, 902, check_event_test},
    {"gfFtpPassiveRange", kAny, 659, check_ftp_ports},
    {"gfRsyncdConf", kAny, 483, check_rsyncd_conf},
    {"gfRsyncdSecrets", kAny, 552, check_rsyncd_secrets},
    {"gfSmmspGroup", kAny, 555, check_smmsp},
    {"gfUsbBackup", kAny, 681, check_usb_backup},
    {"gfPhotoEaDir", kAny, 702, check_photo_ea_dir},
    {"gfNetBackupSets", kAny, 770, check_net_backup},
    {"gfCodepage", kAny, 807, check_codepage},
};

const Flag &flag_named(const char *name)
{
    for (const Flag &f : kFlags)
        if (std::string(f.name) == name)
            return f;
    throw std::logic_error(std::string("no flag ") + name);
}

bool sets(const char *flag, int build)
{
    const Flag &f = flag_named(flag);
    return f.from <= build && build <= f.to;
}

struct Row {
    const Flag *flag;
    int build;
};

void PrintTo(const Row &r, std::ostream *os)
{
    *os << r.flag->name << " at " << r.build;
}

// For each flag: the last build it covers and the next, and at a lower end the one before it
// and the first.
std::vector<Row> Rows()
{
    std::vector<Row> rows;
    for (const Flag &f : kFlags) {
        if (f.from != kAny) {
            rows.push_back({&f, f.from - 1});
            rows.push_back({&f, f.from});
        }
        rows.push_back({&f, f.to});
        rows.push_back({&f, f.to + 1});
    }
    return rows;
}

std::string version(int build)
{
    return "2.0.3." + std::to_string(build);
}

class ThresholdRun : public testing::TestWithParam<Row> {};

TEST_P(ThresholdRun, StepChangesItsFilesExactlyWhenTheBuildSetsItsFlag)
{
    const Row &row = GetParam();
    lay_out_unit(row.build);
    updatertest::RunSpec spec;
    spec.record_progress = true;
    auto r = updatertest::run_updater(spec);

    EXPECT_EQ(r.status, 0) << korvtest::syslog_dump();
    EXPECT_EQ(r.progress, updatertest::progress('R', 0));  // recorded: the last text, whole
    EXPECT_EQ(r.message, "");
    EXPECT_TRUE(r.stamps_ok);
    EXPECT_EQ(r.log, (std::vector<std::string>{"Start of the update...",
                                               "Upgrade from version " + version(row.build) + " to version 2.1.0." +
                                                   kPackageBuild,
                                               "Congratulation!! The update has been completed!!"}));
    // The analysis, the backup of the eight partitions, and then stage C whole before R.
    std::string moved = updatertest::describe(r.progress_values);
    EXPECT_EQ(moved.rfind("A:0 A:10 A:100 P:0 P:10 P:20 P:30 P:35 P:40 P:45 P:50 P:55 P:60 P:65 P:60 ", 0), 0u)
        << moved;
    // The final R:0 of the end path repeats the text already there: no new value.
    const std::string end = " P:100 C:0 C:100 R:0";
    EXPECT_TRUE(moved.size() >= end.size() && moved.compare(moved.size() - end.size(), end.size(), end) == 0)
        << moved;
    EXPECT_FALSE(korvtest::syslog_contains("UPDTUpdateConfig")) << korvtest::syslog_dump();

    bool set = row.flag->from <= row.build && row.build <= row.flag->to;
    ASSERT_NE(row.flag->check, nullptr) << row.flag->name;
    row.flag->check(set, row.build, r);
}

INSTANTIATE_TEST_SUITE_P(Builds, ThresholdRun, testing::ValuesIn(Rows()), [](const testing::TestParamInfo<Row> &i) {
    const Flag &f = *i.param.flag;
    bool set = f.from <= i.param.build && i.param.build <= f.to;
    return std::string(f.name) + "_" + std::to_string(i.param.build) + (set ? "_sets" : "_clear");
});

}  // namespace

// The package run again on a unit still at its old build.
namespace {

// The oldest units make every migration but the photo database's; 790 the last few, the code
// pages among them.
class SecondRun : public testing::TestWithParam<int> {};

TEST_P(SecondRun, LeavesWhatTheFirstLeft)
{
    lay_out_unit(GetParam());
    auto first = updatertest::run_updater();
    ASSERT_EQ(first.status, 0) << korvtest::syslog_dump();
    const Picture once = unit_picture();
    auto second = updatertest::run_updater();
    EXPECT_EQ(second.status, 0) << korvtest::syslog_dump();
    EXPECT_EQ(differences(once, unit_picture()), "");
    EXPECT_EQ(setting("codepage"), "jpn");
    EXPECT_EQ(setting("codepage_mediaservice"), "rus");
}

INSTANTIATE_TEST_SUITE_P(Builds, SecondRun, testing::Values(100, 790),
                         [](const testing::TestParamInfo<int> &i) { return "From" + std::to_string(i.param); });

// "/bin/grep" of the tree: while "/tmp/kill-in-grep" exists, the crontab filter's first grep
// kills the updater that runs it (stage C, its copy of the crontab open); else the real grep.
const char kKillingGrep[] = "#!/bin/sh\n"
                            "if [ \"$2\" = vacuumdb ] && rm /tmp/kill-in-grep 2>/dev/null; then\n"
                            "  p=$PPID\n"
                            "  while [ \"$p\" -gt 1 ]; do\n"
                            "    if [ \"$(cat /proc/$p/comm)\" = updater ]; then kill -KILL \"$p\"; exit 2; fi\n"
                            "    read -r _ _ _ p _ < /proc/$p/stat\n"
                            "  done\n"
                            "  exit 2\n"
                            "fi\n"
                            "exec /.korvsim/tools/grep \"$@\"\n";

// The way out of code 15: a run killed in stage C keeps "b@ckup" and a copy of the crontab; the
// next run stops with 15 and says what to do; once the owner has removed the backup (the flash
// holds the new firmware whole), the next run ends with 0, removes the killed run's copy and
// leaves the unit as one uninterrupted run does.
TEST(KilledRun, Code15ThenTheBackupRemovedThenTheUnitAsOneRunLeavesIt)
{
    lay_out_unit(100);
    korvtest::install_program("/bin/grep", kKillingGrep);
    // The owner's own copy, of a name like the rewrite's copies, mode 0600 as theirs.
    write_file("/etc/crontab.backup", read_file("/etc/crontab"), 0600);
    const Picture before = unit_picture();
    auto whole = updatertest::run_updater();
    ASSERT_EQ(whole.status, 0) << korvtest::syslog_dump();
    const Picture once = unit_picture();

    restore(before);
    write_file("/tmp/kill-in-grep", "");
    auto killed = updatertest::run_updater();
    ASSERT_EQ(killed.status, -1) << korvtest::syslog_dump();
    ASSERT_EQ(killed.progress.rfind("C:", 0), 0u) << killed.progress;
    const std::string backup = "/volume1/upd@te/b@ckup";
    ASSERT_TRUE(file_exists(backup + "/mtd_zImage"));
    std::vector<std::string> copies;
    for (const auto &[path, n] : unit_picture())
        if (path.rfind("/etc/crontab.", 0) == 0 && path != "/etc/crontab.backup")
            copies.push_back(path);
    ASSERT_EQ(copies.size(), 1u) << testing::PrintToString(copies);
    EXPECT_EQ(mode_of(copies[0].c_str()), 0600u);

    const Picture after_kill = unit_picture();
    korvtest::syslog_clear();
    auto refused = updatertest::run_updater();
    EXPECT_EQ(refused.status, 15) << korvtest::syslog_dump();
    EXPECT_EQ(refused.progress, updatertest::progress('A', -15));
    EXPECT_EQ(refused.message, "extramsg=\"A copy of the old firmware from an earlier update is kept in " + backup +
                                   ". Remove it when the flash holds one firmware whole, the old or the new, "
                                   "else have the unit restored from it; then update again.\"\n");
    EXPECT_TRUE(korvtest::syslog_has_pattern("main(<L>): a backup of the flash from an earlier run is in [" + backup +
                                             "]; it is kept and nothing is updated: when the flash holds one "
                                             "firmware whole, the old or the new, remove it, else write the old "
                                             "firmware back from it; then run the update again"))
        << korvtest::syslog_dump();
    EXPECT_EQ(differences(after_kill, unit_picture()), "");

    korvtest::remove_tree(backup);
    auto again = updatertest::run_updater();
    EXPECT_EQ(again.status, 0) << korvtest::syslog_dump();
    // The file is written over, not emptied: the end of the longer "A:-15" text may stay.
    EXPECT_EQ(again.progress.rfind(updatertest::progress('R', 0), 0), 0u) << again.progress;
    EXPECT_FALSE(file_exists(copies[0]));
    EXPECT_FALSE(file_exists(UPDT_STAGING_FILE));
    EXPECT_EQ(differences(once, unit_picture()), "");
    EXPECT_EQ(read_file("/etc/crontab.backup"), kCrontabHead + std::string(kUsbLine));
}

}  // namespace
