// Users created, updated and renamed with every file and daemon that names them, and password
// hashes stored, checked against the device's files afterwards and by the peers that read them.
#include <crypt.h>
#include <errno.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <optional>
#include <set>
#include <sstream>

#include "../share/share_test_util.h"
#include "korv/file_lock.h"
#include "korv/ftp.h"
#include "korv/backup.h"
#include "korv/crypt.h"
#include "korv/simctl.h"
#include "korv/string.h"
#include "korv_crypt.h"
#include "lock_holder.h"
#include "user/user_set_internal.h"
#include "signal_recorder.h"

using namespace korvtest;
using usertest::mark_error;

namespace {

constexpr int kScemd = 47;
constexpr const char *kHomes = "/var/services/homes";
constexpr const char *kAfpd = "/usr/korv/etc/afpd.conf";
const std::string kAfpdNoGuest =
    "# afpd\n"
    "- -tcp -noddp -uamlist uams_dhx.so,uams_noguest.so -nosavepassword\n";
const std::string kAfpdGuest =
    "# afpd\n"
    "- -tcp -noddp -uamlist uams_dhx.so,uams_guest.so -nosavepassword\n";
const std::string kChroot = "alice\nbob\n";
const std::string kRsyncdConf = "auth users = root\nsecrets file = /etc/rsyncd.secrets\n";
const std::string kSecrets = "root:stored|secret\n";
const char *const kNtPassword = "8846F7EAEE8FB117AD06BDD830B7586C";
const char *const kLmPassword = "E52CAC67419A9A224A3B108F3FA6CB6D";

// A line edit: the first line beginning with `at` becomes `to` ("" drops it); a `to` beginning
// with "+" is inserted after that line instead.
struct Edit {
    std::string at, to;
};

std::string edited(const std::string &text, const std::vector<Edit> &edits)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    for (const Edit &e : edits) {
        auto it = std::find_if(lines.begin(), lines.end(), [&](const std::string &l) { return l.rfind(e.at, 0) == 0; });
        if (it == lines.end()) {
            ADD_FAILURE() << "no line begins with " << e.at;
            continue;
        }
        if (!e.to.empty() && e.to[0] == '+')
            lines.insert(it + 1, e.to.substr(1));
        else if (e.to.empty())
            lines.erase(it);
        else
            *it = e.to;
    }
    std::string out;
    for (const std::string &l : lines)
        out += l + "\n";
    return out;
}

// A device with users, groups, shares, their homes, afpd's settings, and user homes enabled.
void install(const std::string &korvinfo = "codepage=\"enu\"\nuserHomeEnable=\"yes\"\n",
             const usertest::Accounts &accounts = usertest::Accounts())
{
    grouptest::GroupFiles g;
    g.group = edited(g.group, {{"users:", "+nogroup:x:65534:"}});
    usertest::install(accounts);
    write_file(KORV_GROUP_FILE, g.group);
    write_file(KORV_GROUP_DESC_FILE, g.desc);
    write_file(KORV_SMB_CONF, sharetest::kSmbConf);
    write_file("/etc/korvinfo.conf", korvinfo);
    {
        // The device's group and share caches are built before anything changes.
        grouptest::Db groups;
        sharetest::Db shares;
        ASSERT_TRUE(groups && shares);
    }
    make_dirs("/root");
    make_dirs("/nonexistent");
    for (const char *u : {"admin", "alice", "bob", "guest"})
        make_dirs(std::string(kHomes) + "/" + u);
    write_file(std::string(kHomes) + "/alice/notes", "alice's\n");
    install_program("/bin/csh", "#!/bin/sh\nexit 0\n");
    write_file(kAfpd, kAfpdNoGuest);
    write_file(KORV_FTP_CHROOT_CONF, kChroot);
    write_file(KORV_RSYNCD_CONF, kRsyncdConf);
    write_file(KORV_RSYNCD_SECRETS, kSecrets, 0600);
    write_file("/etc.defaults/korvinfo.conf", "support_download=\"yes\"\n");
}

// A record as a caller fills it: the strings not named stay null.
struct Change {
    const char *old;
    const char *name;
    const char *passwd;
    int uid = -1;
    int gid = -1;
};

KORVUSER record(const Change &c)
{
    KORVUSER u{};
    u.szName = const_cast<char *>(c.name);
    u.szPasswd = const_cast<char *>(c.passwd);
    u.uid = c.uid;
    u.gid = c.gid;
    u.expireDay = -1;
    u.userType = KORV_USER_TYPE_LOCAL;
    return u;
}

std::vector<std::string> fields(const std::string &line)
{
    std::vector<std::string> f;
    size_t from = 0;
    for (size_t at; (at = line.find(':', from)) != std::string::npos; from = at + 1)
        f.push_back(line.substr(from, at - from));
    f.push_back(line.substr(from));
    return f;
}

std::string joined(const std::vector<std::string> &f)
{
    std::string out;
    for (size_t i = 0; i < f.size(); i++)
        out += (i ? ":" : "") + f[i];
    return out;
}

// What differs by the clock and the salt made stable: today's day in the shadow file becomes
// "<DAY>", a new MD5 crypt hash "<MD5 of PW>" when it is the hash of PW, and a change time in
// the SMB password file "LCT-<NOW>" when it is the test's.
std::string stable(const std::string &text, bool shadow, time_t since, const std::vector<std::string> &passwords)
{
    static const std::set<std::string> known = [] {
        std::set<std::string> k;
        for (const std::string &l : fields(usertest::Accounts().shadow))
            if (l.rfind("$1$", 0) == 0)
                k.insert(l);
        return k;
    }();
    std::string out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) {
        std::vector<std::string> f = fields(l);
        if (shadow && f.size() == 9) {
            if (f[2] == std::to_string(time(nullptr) / 86400))
                f[2] = "<DAY>";
            if (f[1].rfind("$1$", 0) == 0 && !known.count(f[1])) {
                std::string what = "<MD5?>";
                for (const std::string &pw : passwords) {
                    const char *again = SzSDKIWrapMD5Encrypt(pw.c_str(), f[1].c_str());
                    if (again && f[1] == again)
                        what = "<MD5 of " + pw + ">";
                }
                f[1] = what;
            }
        }
        if (!shadow && f.size() == 7 && f[5].rfind("LCT-", 0) == 0 &&
            strtoul(f[5].c_str() + 4, nullptr, 16) >= static_cast<unsigned long>(since))
            f[5] = "LCT-<NOW>";
        out += joined(f) + "\n";
    }
    return out;
}

// The password a fresh rsync secret was made of: "<crypt hash>|<Base64 of the scrambled
// password>", both halves checked; none when it is no such secret of any of them.
std::optional<std::string> secretOf(const std::string &secret, const std::vector<std::string> &passwords)
{
    size_t bar = secret.find('|');
    if (bar == std::string::npos)
        return std::nullopt;
    const std::string hash = secret.substr(0, bar), text = secret.substr(bar + 1);
    unsigned char bytes[2048];
    int n = sizeof bytes;
    if (Base64Decode(text.c_str(), static_cast<int>(text.size()), bytes, &n) != 1)
        return std::nullopt;
    for (const std::string &pw : passwords) {
        struct crypt_data data {};
        const char *des = crypt_r(pw.c_str(), "ktaw", &data);
        unsigned char plain[2048];
        if (des && hash == des && n == static_cast<int>(pw.size()) &&
            KORVStrCryptBytes(bytes, n, plain, sizeof plain) == 0 && memcmp(plain, pw.data(), pw.size()) == 0)
            return pw;
    }
    return std::nullopt;
}

// Each fresh secret of the secrets file as "<secret of PW>".
std::string stableSecrets(const std::string &text, const std::vector<std::string> &passwords)
{
    std::string out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) {
        size_t colon = l.find(':');
        std::optional<std::string> pw;
        if (colon != std::string::npos)
            pw = secretOf(l.substr(colon + 1), passwords);
        out += (pw ? l.substr(0, colon + 1) + "<secret of " + *pw + ">" : l) + "\n";
    }
    return out;
}

std::vector<std::string> homes()
{
    std::string out;
    run_shell(std::string("ls -A ") + kHomes, &out);
    std::vector<std::string> names;
    std::istringstream in(out);
    for (std::string l; std::getline(in, l);)
        names.push_back(l);
    std::sort(names.begin(), names.end());
    return names;
}

int32_t currentUid()
{
    usertest::Db db;
    return db ? usertest::marker(db->pPWDUID, KORV_BDB_KEY_CURRENT_UID, KORV_BDB_KEY_CURRENT_ID_LEN) : -999;
}

// shadow-utils and samba read what was written without a complaint. The gid index line that
// the device keeps first in /etc/group is no group entry: the group check reads the groups.
void expectPeersAccept()
{
    std::string out;
    EXPECT_EQ(0, run_shell("pwck -r /etc/passwd /etc/shadow 2>&1", &out)) << out;
    // Where samba keeps its own state.
    for (const char *dir : {"/run/samba", "/var/lib/samba", "/var/cache/samba"})
        make_dirs(dir);
    const std::string group = read_file(KORV_GROUP_FILE);
    ASSERT_EQ(0u, group.rfind("#$_@GID__INDEX@_$", 0)) << group;
    write_file("/tmp/group.checked", group.substr(group.find('\n') + 1));
    EXPECT_EQ(0, run_shell("grpck -r /tmp/group.checked 2>&1", &out)) << out;
    EXPECT_EQ(0, run_shell(std::string("testparm -s ") + KORV_SMB_CONF + " 2>&1", &out)) << out;
    EXPECT_NE(std::string::npos, out.find("Loaded services file OK.")) << out;
}

struct SetCase {
    const char *label;
    std::vector<Change> batch = {};
    int result;
    unsigned error = 0;  // the code of a failed call
    std::vector<Edit> passwd = {}, shadow = {}, conf = {}, smbpasswd = {}, group = {}, smbConf = {};
    std::string afpdBefore = kAfpdNoGuest, afpd = kAfpdNoGuest;
    std::string ftpBefore = kChroot, ftp = kChroot;  // "" for a folder in the list's place
    std::string rsyncdConf = kRsyncdConf, secrets = kSecrets;
    std::vector<std::string> homes = {"admin", "alice", "bob", "guest"};
    int homeUid = -1, homeGid = -1;  // the owner of the created user's home
    int32_t currentUid = 1031;
    std::string logged = "";  // a message the call leaves
    // A fault of the uid store during the call: "PUT" or "DEL" fails with EIO after `uidSkip`
    // such requests passed, once or always; `uidStopped` requests are stopped in all.
    const char *uidFault = nullptr;
    uint64_t uidSkip = 0;
    bool uidAlways = false;
    int uidStopped = 0;
};

// bob renamed robert (uid 1031): his lines in the account files, the groups, smb.conf and his
// home, besides what the case has of its own.
SetCase bobRenamedRobert(SetCase c)
{
    c.passwd = {{"bob:", "robert:x:1031:100::/var/services/homes/robert:/bin/csh"}};
    c.shadow = {{"bob:", "robert:<MD5 of password>:<DAY>:0:99999:7:::"}};
    c.conf = {{"bob:", "robert:0:"}};
    c.smbpasswd = {{"bob:", std::string("robert:1031:") + kLmPassword + ":" + kNtPassword + ":[U          ]:LCT-<NOW>:"}};
    c.group = {{"staff:", "staff:x:65600:alice,robert"}, {"devs:", "devs:x:65601:robert"}};
    c.smbConf = {{"\tinvalid users=nobody,bob", "\tinvalid users=nobody,robert,nobody"}};
    c.homes = {"admin", "alice", "robert", "guest"};
    return c;
}

constexpr const char *kUidStore = KORV_USER_DB_PREFIX ".uid.0947";

// carol created with the free uid 1032: her lines in the account files and her home, after the
// edits the case has of its own.
SetCase carolCreated(SetCase c)
{
    c.batch = {{nullptr, "carol", "password"}};
    c.passwd = {{"bob:", "+carol:x:1032:100::/var/services/homes/carol:/bin/csh"}};
    c.shadow = {{"bob:", "+carol:<MD5 of password>:<DAY>:0:99999:7:::"}};
    c.conf.push_back({"bob:", "+carol:0:"});
    c.smbpasswd = {{"bob:", std::string("+carol:1032:") + kLmPassword + ":" + kNtPassword + ":[U          ]:LCT-<NOW>:"}};
    c.homes = {"admin", "alice", "bob", "guest", "carol"};
    c.homeUid = 1032;
    c.homeGid = 100;
    return c;
}

const Edit kUidIndex1032 = {"#$", "#$_@UID__INDEX@_$1032$"};

const std::vector<SetCase> kSetCases = {
    carolCreated({.label = "CreateWithFreeUid", .result = 0, .conf = {kUidIndex1032}, .currentUid = 1032}),
    // The user's own records are stored first; moving the marker after them is only logged.
    carolCreated({.label = "CreateMarkerNotSet",
                  .result = 0,
                  .currentUid = 1031,
                  .logged = "set #CURRENT_UID to 1032 failed. korverr=0xB300",
                  .uidFault = "PUT",
                  .uidSkip = 1,
                  .uidStopped = 1}),
    carolCreated({.label = "CreateMarkerNotDeleted",
                  .result = 0,
                  .conf = {kUidIndex1032},
                  .currentUid = 1032,
                  .logged = "delete #CURRENT_UID failed. korverr=0xB400",
                  .uidFault = "DEL",
                  .uidStopped = 1}),
    // A store that takes no marker at all cannot be published: nothing of the text files changes.
    {.label = "CreateMarkerLost",
     .batch = {{nullptr, "carol", "password"}},
     .result = -1,
     .currentUid = -999,
     .logged = "set #CURRENT_UID back to 1031 failed. korverr=0x6C00",
     .uidFault = "PUT",
     .uidSkip = 1,
     .uidAlways = true,
     .uidStopped = 2},
    {.label = "CreateUidRecordNotStored",
     .batch = {{nullptr, "carol", "password"}},
     .result = -1,
     .logged = "UserSetNew() failed. korverr=0x6C00",
     .uidFault = "PUT",
     .uidStopped = 1},
    {.label = "CreateReservedName",
     .batch = {{nullptr, "rsync", "password"}},
     .result = 0,
     .passwd = {{"bob:", "+rsync:x:1032:100::/var/services/homes/rsync:/bin/csh"}},
     .shadow = {{"bob:", "+rsync:<MD5 of password>:<DAY>:0:99999:7:::"}},
     .conf = {{"#$", "#$_@UID__INDEX@_$1032$"}, {"bob:", "+rsync:0:"}},
     .smbpasswd = {{"bob:", std::string("+rsync:1032:") + kLmPassword + ":" + kNtPassword + ":[U          ]:LCT-<NOW>:"}},
     .group = {{"smmsp:", "smmsp:x:25:admin,rsync"}},
     .rsyncdConf = "auth users = root,rsync\nsecrets file = /etc/rsyncd.secrets\n",
     .secrets = kSecrets + "rsync:<secret of password>\n",
     .homes = {"admin", "alice", "bob", "guest", "rsync"},
     .homeUid = 1032,
     .homeGid = 100,
     .currentUid = 1032},
    {.label = "CreateWithChosenUid",
     .batch = {{nullptr, "dave", "password", 2000, 25}},
     .result = 0,
     .passwd = {{"bob:", "+dave:x:2000:25::/var/services/homes/dave:/bin/csh"}},
     .shadow = {{"bob:", "+dave:<MD5 of password>:<DAY>:0:99999:7:::"}},
     .conf = {{"bob:", "+dave:0:"}},
     .smbpasswd = {{"bob:", std::string("+dave:2000:") + kLmPassword + ":" + kNtPassword + ":[U          ]:LCT-<NOW>:"}},
     .homes = {"admin", "alice", "bob", "guest", "dave"},
     .homeUid = 2000,
     .homeGid = 25},
    {.label = "UpdateSameName",
     .batch = {{"bob", "bob", "password"}},
     .result = 0,
     .shadow = {{"bob:", "bob:<MD5 of password>:<DAY>:0:99999:7:::"}},
     .smbpasswd = {{"bob:", std::string("bob:1031:") + kLmPassword + ":" + kNtPassword + ":[U          ]:LCT-<NOW>:"}}},
    {.label = "RenameCaseOnly",
     .batch = {{"alice", "Alice", "password"}},
     .result = 0,
     .passwd = {{"alice:", "Alice:x:1030:100::/var/services/homes/Alice:/bin/csh"}},
     .shadow = {{"alice:", "Alice:<MD5 of password>:<DAY>:0:99999:7:::"}},
     .conf = {{"alice:", "Alice:0:"}},
     .smbpasswd = {{"alice:", std::string("Alice:1030:") + kLmPassword + ":" + kNtPassword + ":[U          ]:LCT-<NOW>:"}},
     .group = {{"staff:", "staff:x:65600:Alice,bob"}},
     .smbConf = {{"\tvalid users=nobody,alice", "\tvalid users=nobody,Alice,nobody"},
                 {"\twrite list=nobody,alice", "\twrite list=nobody,Alice,nobody"}},
     .ftp = "bob\nAlice\n",
     .homes = {"admin", "Alice", "bob", "guest"}},
    {.label = "RenameToNewName",
     .batch = {{"bob", "bob.smith", "password"}},
     .result = 0,
     .passwd = {{"bob:", "bob.smith:x:1031:100::/var/services/homes/bob.smith:/bin/csh"}},
     .shadow = {{"bob:", "bob.smith:<MD5 of password>:<DAY>:0:99999:7:::"}},
     .conf = {{"bob:", "bob.smith:0:"}},
     .smbpasswd = {{"bob:", std::string("bob.smith:1031:") + kLmPassword + ":" + kNtPassword +
                                ":[U          ]:LCT-<NOW>:"}},
     .group = {{"staff:", "staff:x:65600:alice,bob.smith"}, {"devs:", "devs:x:65601:bob.smith"}},
     .smbConf = {{"\tinvalid users=nobody,bob", "\tinvalid users=nobody,bob.smith,nobody"}},
     .ftp = "alice\nbob.smith\n",
     .homes = {"admin", "alice", "bob.smith", "guest"}},
    {.label = "RenameOntoExisting",
     .batch = {{"bob", "alice", "password"}},
     .result = -1,
     .error = KORV_ERR_USER_EXISTS,
     .logged = "pUser->szName[alice] is EXIST."},
    {.label = "UpdateOfMissingUser",
     .batch = {{"ghost", "ghost", "password"}},
     .result = -1,
     .logged = "szOldName=[ghost] is NOT EXIST."},
    bobRenamedRobert({.label = "SameUserTwice",
                      .batch = {{"bob", "robert", "password"}, {"bob", "bobby", "password"}},
                      .result = 0,
                      .ftp = "alice\nrobert\n",
                      .logged = "Duplicated key:[BOB]"}),
    bobRenamedRobert({.label = "FtpListUnreadable",
                      .batch = {{"bob", "robert", "password"}},
                      .result = -1,
                      .ftpBefore = "",
                      .ftp = "",
                      .logged = ""}),
    {.label = "GuestEmptyPassword",
     .batch = {{"guest", "guest", ""}},
     .result = 0,
     .passwd = {{"guest:", "guest:x:1025:100::/var/services/homes/guest:/bin/csh"}},
     .shadow = {{"guest:", "guest:<MD5 of >:<DAY>:0:99999:7:::"}},
     .conf = {{"admin:", "+guest:0:"}},
     .smbpasswd = {{"admin:", "+guest:1025:AAD3B435B51404EEAAD3B435B51404EE:31D6CFE0D16AE931B73C59D7E0C089C0:"
                              "[U          ]:LCT-<NOW>:"}},
     .afpd = kAfpdGuest},
    {.label = "GuestWithPassword",
     .batch = {{"guest", "guest", "password"}},
     .result = 0,
     .passwd = {{"guest:", "guest:x:1025:100::/var/services/homes/guest:/bin/csh"}},
     .shadow = {{"guest:", "guest:<MD5 of password>:<DAY>:0:99999:7:::"}},
     .conf = {{"admin:", "+guest:0:"}},
     .smbpasswd = {{"admin:", std::string("+guest:1025:") + kLmPassword + ":" + kNtPassword + ":[U          ]:LCT-<NOW>:"}},
     .afpdBefore = kAfpdGuest},
};

void PrintTo(const SetCase &c, std::ostream *os)
{
    *os << c.label;
}

class UserSetTable : public ::testing::TestWithParam<SetCase> {};

TEST_P(UserSetTable, FilesAndSignalsAfterTheChange)
{
    const SetCase &c = GetParam();
    install();
    write_file(kAfpd, c.afpdBefore);
    if (c.ftpBefore.empty()) {
        remove_tree(KORV_FTP_CHROOT_CONF);
        make_dirs(KORV_FTP_CHROOT_CONF);
    } else {
        write_file(KORV_FTP_CHROOT_CONF, c.ftpBefore);
    }
    const usertest::Accounts before = usertest::installed();
    const std::string groupBefore = read_file(KORV_GROUP_FILE);
    const std::string smbBefore = read_file(KORV_SMB_CONF);
    const time_t since = time(nullptr);

    std::vector<KORVUSER> records, copies;
    std::vector<const char *> olds;
    std::vector<std::string> passwords;
    for (const Change &ch : c.batch) {
        records.push_back(record(ch));
        olds.push_back(ch.old);
        passwords.push_back(ch.passwd);
    }
    copies = records;
    std::vector<KORVUSER *> pointers;
    for (KORVUSER &r : records)
        pointers.push_back(&r);

    if (c.uidFault) {
        // The stores are built before the fault waits for the call's own requests.
        ASSERT_EQ(1031, currentUid());
        korvsim::ctl::clear_requests();
        korvsim::ctl::fail_request(kUidStore, c.uidFault, EIO, !c.uidAlways, c.uidSkip);
    }
    syslog_clear();
    SignalRecorder scemd("/var/run/scemd.pid", {kScemd}), scheduler("/var/run/scheduler.pid", {SIGUSR1});
    mark_error();
    EXPECT_EQ(c.result, KORVUserSetList(olds.data(), pointers.data(), static_cast<int>(c.batch.size())));
    if (c.uidFault) {
        const auto stopped = korvsim::ctl::requests(kUidStore, c.uidFault);
        EXPECT_EQ(static_cast<size_t>(c.uidStopped), stopped.size());
        for (const auto &r : stopped)
            EXPECT_EQ(EIO, r.err) << r.line;
        korvsim::ctl::clear_faults();
    }
    if (c.result != 0 && c.error) {
        EXPECT_EQ(c.error, KORLErrGet());
    }
    EXPECT_EQ(std::vector<int>{kScemd}, scemd.Received());
    EXPECT_EQ(std::vector<int>{SIGUSR1}, scheduler.Received());

    for (size_t i = 0; i < records.size(); i++)
        EXPECT_EQ(0, memcmp(&copies[i], &records[i], sizeof(KORVUSER))) << "record " << i << " was changed";

    const usertest::Accounts now = usertest::installed();
    EXPECT_EQ(edited(before.passwd, c.passwd), now.passwd);
    EXPECT_EQ(edited(before.shadow, c.shadow), stable(now.shadow, true, since, passwords));
    EXPECT_EQ(edited(before.conf, c.conf), now.conf);
    EXPECT_EQ(edited(before.smbpasswd, c.smbpasswd), stable(now.smbpasswd, false, since, passwords));
    EXPECT_EQ(edited(groupBefore, c.group), read_file(KORV_GROUP_FILE));
    EXPECT_EQ(edited(smbBefore, c.smbConf), read_file(KORV_SMB_CONF));
    EXPECT_EQ(c.afpd, read_file(kAfpd));
    EXPECT_FALSE(file_exists("/usr/korv/etc/afpd.conf.tmp"));
    EXPECT_EQ(c.ftp, read_file(KORV_FTP_CHROOT_CONF));
    EXPECT_EQ(c.rsyncdConf, read_file(KORV_RSYNCD_CONF));
    EXPECT_EQ(c.secrets, stableSecrets(read_file(KORV_RSYNCD_SECRETS), passwords));
    std::vector<std::string> want = c.homes, got = homes();
    std::sort(want.begin(), want.end());
    std::sort(got.begin(), got.end());
    EXPECT_EQ(want, got);
    if (c.homeUid >= 0) {
        struct stat st = usertest::stat_of(std::string(kHomes) + "/" + c.batch[0].name);
        EXPECT_EQ(static_cast<uid_t>(c.homeUid), st.st_uid);
        EXPECT_EQ(static_cast<gid_t>(c.homeGid), st.st_gid);
        EXPECT_EQ(0755u, st.st_mode & 07777);
    }
    EXPECT_EQ(c.currentUid, currentUid());
    if (!c.logged.empty()) {
        EXPECT_TRUE(syslog_has_pattern("user_set_entry.cpp:<L> " + c.logged)) << syslog_dump();
    }
    expectPeersAccept();
}

INSTANTIATE_TEST_SUITE_P(Changes, UserSetTable, ::testing::ValuesIn(kSetCases),
                         [](const auto &info) { return std::string(info.param.label); });

}  // namespace

namespace {

// A batch for KORVUserSet with one record; the result, and the signals scemd got.
int setOne(const char *old, const Change &c, std::vector<int> *signals = nullptr)
{
    SignalRecorder scemd("/var/run/scemd.pid", {kScemd});
    KORVUSER r = record(c);
    int result = KORVUserSet(old, &r);
    std::vector<int> got = scemd.Received();
    if (signals)
        *signals = got;
    return result;
}

TEST(UserSet, BadParametersStillSignalScemd)
{
    install();
    const usertest::Accounts before = usertest::installed();
    KORVUSER r = record({nullptr, "carol", "password"});
    KORVUSER *users[] = {&r};
    const char *olds[] = {nullptr};
    struct Call {
        const char *label;
        int (*call)(const char **, KORVUSER **);
        int result;
        unsigned error;
    };
    const Call calls[] = {
        {"no old names", [](const char **, KORVUSER **u) { return KORVUserSetList(nullptr, u, 1); }, -1, KORL_ERR_BAD_PARAM},
        {"no records", [](const char **o, KORVUSER **) { return KORVUserSetList(o, nullptr, 1); }, -1, KORL_ERR_BAD_PARAM},
        {"negative count", [](const char **o, KORVUSER **u) { return KORVUserSetList(o, u, -1); }, -1, KORL_ERR_BAD_PARAM},
        {"empty batch", [](const char **o, KORVUSER **u) { return KORVUserSetList(o, u, 0); }, 0, kUntouched},
    };
    for (const Call &c : calls) {
        SignalRecorder scemd("/var/run/scemd.pid", {kScemd});
        mark_error();
        EXPECT_EQ(c.result, c.call(olds, users)) << c.label;
        EXPECT_EQ(c.error, KORLErrGet()) << c.label;
        EXPECT_EQ(std::vector<int>{kScemd}, scemd.Received()) << c.label;
    }
    // The one-user form refuses a missing record before anything else: no signal either.
    SignalRecorder scemd("/var/run/scemd.pid", {kScemd});
    mark_error();
    EXPECT_EQ(-1, KORVUserSet(nullptr, nullptr));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    EXPECT_TRUE(scemd.Received().empty());
    EXPECT_EQ(before, usertest::installed());

    // A null record in a batch is skipped; the others take effect.
    KORVUSER *mixed[] = {nullptr, &r};
    const char *mixedOlds[] = {nullptr, nullptr};
    EXPECT_EQ(0, KORVUserSetList(mixedOlds, mixed, 2));
    EXPECT_NE(std::string::npos, read_file(KORV_PASSWD_FILE).find("\ncarol:x:1032:100:"));
}

TEST(UserSet, SchedulerOnlyWithDownloadSupport)
{
    install();
    const std::pair<const char *, const char *> cases[] = {{"no", "carol"}, {"", "dave"}, {"YES", "erin"}};
    for (const auto &[value, name] : cases) {
        write_file("/etc.defaults/korvinfo.conf", std::string("support_download=\"") + value + "\"\n");
        SignalRecorder scheduler("/var/run/scheduler.pid", {SIGUSR1});
        EXPECT_EQ(0, setOne(nullptr, {nullptr, name, "password"})) << value;
        EXPECT_EQ(value[0] == 'Y' ? std::vector<int>{SIGUSR1} : std::vector<int>{}, scheduler.Received()) << value;
    }
    // Bad parameters end the call before the scheduler is told.
    SignalRecorder scheduler("/var/run/scheduler.pid", {SIGUSR1});
    EXPECT_EQ(-1, KORVUserSetList(nullptr, nullptr, 1));
    EXPECT_TRUE(scheduler.Received().empty());
}

TEST(UserSet, LocksHeldElsewhereChangeNothing)
{
    install();
    const usertest::Accounts before = usertest::installed();
    Holder other(KORL_LOCK_SMB | LOCK_SH);
    ASSERT_TRUE(other.obtained());
    std::vector<int> signals;
    mark_error();
    EXPECT_EQ(-1, setOne(nullptr, {nullptr, "carol", "password"}, &signals));
    EXPECT_EQ(KORL_ERR_LOCK, KORLErrGet());
    EXPECT_EQ(std::vector<int>{kScemd}, signals);
    EXPECT_EQ(before, usertest::installed());
    EXPECT_FALSE(file_exists(std::string(kHomes) + "/carol"));
}

TEST(UserSet, HomesOnlyWhenEnabled)
{
    install("codepage=\"enu\"\nuserHomeEnable=\"no\"\n");
    ASSERT_EQ(0, setOne(nullptr, {nullptr, "carol", "password"}));
    ASSERT_EQ(0, setOne("alice", {"alice", "Alice", "password"}));
    EXPECT_EQ((std::vector<std::string>{"admin", "alice", "bob", "guest"}), homes());
    EXPECT_EQ("alice's\n", read_file(std::string(kHomes) + "/alice/notes"));
}

// "." and ".." are valid user names, but no home folder of theirs may be the homes' root or its
// parent.
TEST(UserSet, DotNamesTakeNoHomeStep)
{
    install();
    const struct stat root = usertest::stat_of(kHomes);
    const struct stat parent = usertest::stat_of("/var/services");
    ASSERT_EQ(0, setOne(nullptr, {nullptr, ".", "password"}));
    ASSERT_EQ(0, setOne(nullptr, {nullptr, "..", "password"}));
    ASSERT_EQ(0, setOne("bob", {"bob", "...", "password"}));
    ASSERT_EQ(0, setOne("..", {"..", "dots", "password"}));
    for (const auto &[path, was] : {std::pair{kHomes, root}, std::pair{"/var/services", parent}}) {
        struct stat st = usertest::stat_of(path);
        EXPECT_EQ(was.st_uid, st.st_uid) << path;
        EXPECT_EQ(was.st_gid, st.st_gid) << path;
        EXPECT_EQ(was.st_mode, st.st_mode) << path;
    }
    EXPECT_EQ((std::vector<std::string>{"...", "admin", "alice", "guest"}), homes());
}

// A home that is already there as a link keeps the owner of what it leads to.
TEST(UserSet, HomeLinkIsNotFollowed)
{
    install();
    make_dirs("/tmp/elsewhere");
    ASSERT_EQ(0, symlink("/tmp/elsewhere", (std::string(kHomes) + "/carol").c_str()));
    ASSERT_EQ(0, setOne(nullptr, {nullptr, "carol", "password"}));
    struct stat st = usertest::stat_of("/tmp/elsewhere");
    EXPECT_EQ(0u, st.st_uid);
    EXPECT_EQ(0u, st.st_gid);
    struct stat link {};
    ASSERT_EQ(0, lstat((std::string(kHomes) + "/carol").c_str(), &link));
    EXPECT_EQ(1032u, link.st_uid);
}

// The guest switch never puts a copy in place that did not complete, and a file without a
// module list is left alone without a failure.
struct AfpdCase {
    const char *label;
    const char *passwd;    // the guest's
    std::string before;    // "" for no afpd.conf
    std::string cp;        // a /bin/cp of the tree's own, or "" for the host's
    std::string after;
    std::string logged;    // "" when the switch may not fail
};

const std::vector<AfpdCase> kAfpdCases = {
    {"NoModuleList", "", "# afpd\n- -tcp -noddp\n", "", "# afpd\n- -tcp -noddp\n", ""},
    {"Missing", "", "", "", "", "user_set_guest_afpd.cpp:<L> /usr/korv/etc/afpd.conf not found!"},
    {"CopyFailsAfterPartOfIt", "",
     kAfpdNoGuest,
     "#!/bin/sh\nhead -c 10 \"$2\" > \"$3\"\nexit 1\n",
     kAfpdNoGuest,
     "user_set_guest_afpd.cpp:<L> /bin/cp -Rf /usr/korv/etc/afpd.conf /usr/korv/etc/afpd.conf.tmp failed!"},
    {"NoPassword", nullptr, kAfpdNoGuest, "", kAfpdNoGuest,
     "user_set_guest_afpd.cpp:<L> SDKISetGuestAfpd failed. korverr=0x0D00"},
};

void PrintTo(const AfpdCase &c, std::ostream *os)
{
    *os << c.label;
}

class GuestAfpd : public ::testing::TestWithParam<AfpdCase> {};

TEST_P(GuestAfpd, FileWholeOrSwitched)
{
    const AfpdCase &c = GetParam();
    install();
    if (c.before.empty())
        remove_tree(kAfpd);
    else
        write_file(kAfpd, c.before);
    if (!c.cp.empty())
        install_program("/bin/cp", c.cp);
    syslog_clear();
    EXPECT_EQ(0, setOne("guest", {"guest", "guest", c.passwd}));
    EXPECT_EQ(c.after, read_file(kAfpd));
    EXPECT_FALSE(file_exists("/usr/korv/etc/afpd.conf.tmp"));
    if (c.logged.empty()) {
        EXPECT_FALSE(syslog_contains("SDKISetGuestAfpd failed")) << syslog_dump();
    } else {
        EXPECT_TRUE(syslog_has_pattern(c.logged)) << syslog_dump();
        EXPECT_TRUE(syslog_contains("SDKISetGuestAfpd failed. korverr=0x")) << syslog_dump();
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, GuestAfpd, ::testing::ValuesIn(kAfpdCases),
                         [](const auto &info) { return std::string(info.param.label); });

// Given hashes for a batch: the shadow and SMB lines rewritten field by field, or the entry
// skipped.
struct PasswdEntry {
    const char *name, *hash, *lm, *nt;
};

struct PasswdCase {
    const char *label;
    std::vector<PasswdEntry> batch;
    int result;
    unsigned error;
    std::vector<Edit> shadow = {}, smbpasswd = {};
    std::string logged = "";
    std::vector<Edit> shadowBefore = {};
};

const char *const kLmX = "0123456789ABCDEF0123456789ABCDEF";
const char *const kNtX = "FEDCBA9876543210FEDCBA9876543210";

const std::vector<PasswdCase> kPasswdCases = {
    {"StoresBoth", {{"alice", "$1$Ne$w", kLmX, kNtX}}, 0, 0,
     {{"alice:", "alice:$1$Ne$w:15500:100000:99999:7::20000:"}},
     {{"alice:", std::string("alice:1030:") + kLmX + ":" + kNtX + ":[U          ]:LCT-5F000001:"}}},
    {"NameInOtherCase", {{"ALICE", "$1$Ne$w", kLmX, kNtX}}, 0, 0,
     {{"alice:", "alice:$1$Ne$w:15500:100000:99999:7::20000:"}},
     {{"alice:", std::string("alice:1030:") + kLmX + ":" + kNtX + ":[U          ]:LCT-5F000001:"}}},
    {"LowerCaseHexStoredUpper", {{"bob", "$1$Ne$w", "0123456789abcdef0123456789abcdef", kNtX}}, 0, 0,
     {{"bob:", "bob:$1$Ne$w:15500:0:99999:7:::"}},
     {{"bob:", std::string("bob:1031:") + kLmX + ":" + kNtX + ":[U          ]:LCT-5F000002:"}}},
    {"DisabledFormKept", {{"bob", "$1$Ne$w", "XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX", kNtX}}, 0, 0,
     {{"bob:", "bob:$1$Ne$w:15500:0:99999:7:::"}},
     {{"bob:", std::string("bob:1031:XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX:") + kNtX + ":[U          ]:LCT-5F000002:"}}},
    {"HashWithColon", {{"alice", "$1$Ne$w:0:0", kLmX, kNtX}}, -1, KORL_ERR_BAD_PARAM, {}, {},
     "user_set_passwd.cpp:<L> bad password hashes of [alice], skipped"},
    {"HashWithNewline", {{"alice", "$1$Ne$w\nroot::0:0:99999:7:::", kLmX, kNtX}}, -1, KORL_ERR_BAD_PARAM, {}, {}},
    {"HashWithReturn", {{"alice", "$1$Ne$w\r", kLmX, kNtX}}, -1, KORL_ERR_BAD_PARAM, {}, {}},
    {"LmOf31Digits", {{"alice", "$1$Ne$w", "0123456789ABCDEF0123456789ABCDE", kNtX}}, -1, KORL_ERR_BAD_PARAM, {}, {}},
    {"NtNotHex", {{"alice", "$1$Ne$w", kLmX, "FEDCBA9876543210FEDCBA987654321G"}}, -1, KORL_ERR_BAD_PARAM, {}, {}},
    {"NtWithColon", {{"alice", "$1$Ne$w", kLmX, "FEDCBA9876543210:EDCBA9876543210"}}, -1, KORL_ERR_BAD_PARAM, {}, {}},
    {"BadEntrySkippedOthersStored", {{"bob", "$1$a:b", kLmX, kNtX}, {"alice", "$1$Ne$w", kLmX, kNtX}}, 0,
     0, {{"alice:", "alice:$1$Ne$w:15500:100000:99999:7::20000:"}},
     {{"alice:", std::string("alice:1030:") + kLmX + ":" + kNtX + ":[U          ]:LCT-5F000001:"}}},
    {"MissingEntriesSkipped", {{"alice", nullptr, kLmX, kNtX}, {nullptr, "$1$Ne$w", kLmX, kNtX}}, -1, 0, {}, {}},
    {"NoSuchUser", {{"ghost", "$1$Ne$w", kLmX, kNtX}}, -1, KORL_ERR_NOT_FOUND, {}, {},
     "user_set_passwd.cpp:<L> KORVBDbGet pPWDShadow [GHOST] failed. korverr=0x2000"},
    {"ShadowLineOfEightFields", {{"alice", "$1$Ne$w", kLmX, kNtX}}, -1, 0, {}, {}, "",
     {{"alice:", "alice:$1$Al$bH3p8p6N0B5p3a9iQ2Yw1.:15500:100000:99999:7::"}}},
    // guest has no SMB line: its shadow line is stored and published, but the user is not changed.
    {"NoSmbLine", {{"guest", "$1$Ne$w", kLmX, kNtX}}, -1, 0, {{"guest:", "guest:$1$Ne$w:15000:0:99999:7:::"}},
     {}, "user_set_passwd.cpp:<L> KORVBDbGet pPWDSMB [GUEST] failed. korverr=0x2000"},
    // A batch that stops still publishes the users it wrote before.
    {"StopAfterOneWritten", {{"alice", "$1$Ne$w", kLmX, kNtX}, {"\xff\xfe", "$1$Ne$w", kLmX, kNtX}}, -1, 0,
     {{"alice:", "alice:$1$Ne$w:15500:100000:99999:7::20000:"}},
     {{"alice:", std::string("alice:1030:") + kLmX + ":" + kNtX + ":[U          ]:LCT-5F000001:"}},
     "user_set_passwd.cpp:<L> KORLUnicodeUTF8StrUpper failed [\xff\xfe]"},
};

void PrintTo(const PasswdCase &c, std::ostream *os)
{
    *os << c.label;
}

class UserSetPasswdTable : public ::testing::TestWithParam<PasswdCase> {};

TEST_P(UserSetPasswdTable, LinesAfterTheCall)
{
    const PasswdCase &c = GetParam();
    usertest::Accounts a;
    a.shadow = edited(a.shadow, c.shadowBefore);
    install("codepage=\"enu\"\nuserHomeEnable=\"yes\"\n", a);
    std::vector<KORVUSER> records;
    std::vector<const char *> hashes, lms, nts;
    for (const PasswdEntry &e : c.batch) {
        records.push_back(record({nullptr, e.name, nullptr}));
        hashes.push_back(e.hash);
        lms.push_back(e.lm);
        nts.push_back(e.nt);
    }
    std::vector<KORVUSER *> users;
    for (size_t i = 0; i < records.size(); i++)
        users.push_back(c.batch[i].name ? &records[i] : nullptr);
    syslog_clear();
    SignalRecorder scemd("/var/run/scemd.pid", {kScemd});
    mark_error();
    EXPECT_EQ(c.result, KORVUserSetPasswd(users.data(), hashes.data(), lms.data(), nts.data(),
                                          static_cast<int>(users.size())));
    if (c.error) {
        EXPECT_EQ(c.error, KORLErrGet());
    }
    EXPECT_EQ(std::vector<int>{kScemd}, scemd.Received());
    usertest::Accounts want = a;
    want.shadow = edited(a.shadow, c.shadow);
    want.smbpasswd = edited(a.smbpasswd, c.smbpasswd);
    EXPECT_EQ(want, usertest::installed());
    if (!c.logged.empty()) {
        EXPECT_TRUE(syslog_has_pattern(c.logged)) << syslog_dump();
    }
    // The stores say what the files say.
    usertest::Db db;
    ASSERT_TRUE(db);
    for (const auto &[file, store] : {std::pair{KORV_SHADOW_FILE, db->pPWDShadow}, std::pair{KORV_SMBPASSWD_FILE, db->pPWDSMB}}) {
        std::istringstream in(read_file(file));
        for (std::string l; std::getline(in, l);) {
            std::string key = l.substr(0, l.find(':'));
            for (char &ch : key)
                ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));
            EXPECT_EQ(l, usertest::stored(store, key)) << file;
        }
    }
    std::string out;
    if (c.shadowBefore.empty()) {
        EXPECT_EQ(0, run_shell("pwck -r /etc/passwd /etc/shadow 2>&1", &out)) << out;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, UserSetPasswdTable, ::testing::ValuesIn(kPasswdCases),
                         [](const auto &info) { return std::string(info.param.label); });

TEST(UserSetPasswd, BadParametersStillSignalScemd)
{
    usertest::install();
    const char *texts[] = {"$1$Ne$w"};
    KORVUSER r = record({nullptr, "alice", nullptr});
    KORVUSER *users[] = {&r};
    for (int n : {-1, 0}) {
        SignalRecorder scemd("/var/run/scemd.pid", {kScemd});
        mark_error();
        EXPECT_EQ(n ? -1 : 0, KORVUserSetPasswd(users, texts, texts, texts, n));
        EXPECT_EQ(n ? KORL_ERR_BAD_PARAM : kUntouched, KORLErrGet());
        EXPECT_EQ(std::vector<int>{kScemd}, scemd.Received());
    }
    SignalRecorder scemd("/var/run/scemd.pid", {kScemd});
    mark_error();
    EXPECT_EQ(-1, KORVUserSetPasswd(users, texts, nullptr, texts, 1));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    EXPECT_EQ(std::vector<int>{kScemd}, scemd.Received());
}

}  // namespace

namespace {

// A password whose scrambled form holds a 0 byte that begins no group of three: strlen of the
// scrambled bytes would cut its secret short.
std::string passwordScrambledWithZero()
{
    for (unsigned i = 0; i < 1000000; i++) {
        // Any bytes but NUL: a password is a text.
        std::string pw;
        for (unsigned v = i, k = 0; k < 4; k++, v /= 255)
            pw += static_cast<char>(1 + v % 255);
        unsigned char out[64];
        if (KORVStrCrypt(pw.c_str(), out, sizeof out) != 0)
            continue;
        for (size_t k = 0; k < pw.size(); k++) {
            if (out[k] == 0 && k % 3 != 0)
                return pw;
        }
    }
    return "";
}

std::string smmspLine()
{
    std::istringstream in(read_file(KORV_GROUP_FILE));
    for (std::string l; std::getline(in, l);)
        if (l.rfind("smmsp:", 0) == 0)
            return l;
    return "";
}

// The reserved names in turn: created, updated with the stored hash, renamed away, and the
// steps' own failures, which leave the change itself in place.
TEST(UserSetReserved, SmmspAndRsyncFollow)
{
    install();
    const std::string pw = passwordScrambledWithZero();
    ASSERT_FALSE(pw.empty());

    ASSERT_EQ(0, setOne(nullptr, {nullptr, "rsync", pw.c_str()}));
    EXPECT_EQ("smmsp:x:25:admin,rsync", smmspLine());
    EXPECT_EQ("auth users = root,rsync\nsecrets file = /etc/rsyncd.secrets\n", read_file(KORV_RSYNCD_CONF));
    EXPECT_EQ(kSecrets + "rsync:<secret of " + pw + ">\n", stableSecrets(read_file(KORV_RSYNCD_SECRETS), {pw}));
    const std::string secrets = read_file(KORV_RSYNCD_SECRETS);

    // The stored hash given back: the secret cannot be made anew and is kept.
    usertest::User stored;
    ASSERT_EQ(0, KORVUserGet("rsync", &stored.p));
    ASSERT_EQ(0, setOne("rsync", {"rsync", "rsync", stored->szPasswd}));
    EXPECT_EQ("smmsp:x:25:admin,rsync", smmspLine());
    EXPECT_EQ("auth users = root,rsync\nsecrets file = /etc/rsyncd.secrets\n", read_file(KORV_RSYNCD_CONF));
    EXPECT_EQ(secrets, read_file(KORV_RSYNCD_SECRETS));

    ASSERT_EQ(0, setOne("rsync", {"rsync", "joe", "password"}));
    EXPECT_EQ("smmsp:x:25:admin", smmspLine()) << syslog_dump();
    EXPECT_EQ("auth users = root\nsecrets file = /etc/rsyncd.secrets\n", read_file(KORV_RSYNCD_CONF));
    EXPECT_EQ(kSecrets, read_file(KORV_RSYNCD_SECRETS));

    // A password too long for the cipher gets no rsync account (the account files cannot hold
    // one that long either: crypt refuses it, so the step is called on its own here).
    syslog_clear();
    const std::string longPassword(800, 'p');
    KORVUSER longOne = record({nullptr, "rsync", longPassword.c_str()});
    EXPECT_EQ(-1, korv::user::NetBackupAuthUserSet(nullptr, &longOne));
    EXPECT_TRUE(syslog_contains("NetBackupAuthUserSet [rsync] failed.")) << syslog_dump();
    EXPECT_EQ("smmsp:x:25:admin", smmspLine());
    EXPECT_EQ("auth users = root\nsecrets file = /etc/rsyncd.secrets\n", read_file(KORV_RSYNCD_CONF));
    EXPECT_EQ(kSecrets, read_file(KORV_RSYNCD_SECRETS));

    // Without a password the step fails; the update stands.
    syslog_clear();
    ASSERT_EQ(0, setOne("bob", {"bob", "bob", nullptr}));
    EXPECT_TRUE(syslog_has_pattern("user_set_rsync.cpp:<L> NetBackupAuthUserSet [bob] failed. korverr=0x0D00"))
        << syslog_dump();
}

}  // namespace
