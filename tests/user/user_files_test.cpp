// The account text files loaded into the user stores and written back from them.
#include <ctype.h>
#include <dirent.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>

#include "user_test_util.h"

using namespace korvtest;
using namespace usertest;

namespace {

std::vector<std::string> temp_files()
{
    std::vector<std::string> out;
    for (const char *dir : {"/etc", "/usr/korv/etc/private"}) {
        if (DIR *d = opendir(dir)) {
            while (struct dirent *e = readdir(d)) {
                std::string n = e->d_name;
                if (n.size() > 4 && n.compare(n.size() - 4, 4, ".tmp") == 0)
                    out.push_back(std::string(dir) + "/" + n);
            }
            closedir(d);
        }
    }
    return out;
}

TEST(UserFiles, RoundTripByteForByte)
{
    install();
    const Accounts before = installed();
    Db db;
    ASSERT_TRUE(db);
    ASSERT_EQ(0, KORVUserDBDump(db.get()));
    EXPECT_EQ(before, installed());
    EXPECT_TRUE(temp_files().empty());
    // The stores now hold the files' new times: nothing is rebuilt at the next open.
    EXPECT_EQ(0, KORVUserDBCheckAndRebuild(db.addr()));
}

struct NormalCase {
    const char *name;
    Accounts in;
    Accounts out;
};

Accounts with(std::string Accounts::*field, const std::string &text)
{
    Accounts a;
    a.*field = text;
    return a;
}

// What a build and a dump make of files that are not as the dump writes them.
std::vector<NormalCase> normalCases()
{
    Accounts base;
    std::vector<NormalCase> cases;
    cases.push_back({"LastLineWithoutNewline",
                     with(&Accounts::passwd, base.passwd.substr(0, base.passwd.size() - 1)), base});
    {
        // Comments, blank and malformed lines do not survive; users come out in uid order.
        NormalCase c{"CommentsDroppedAndUidOrder", base, base};
        c.in.passwd = "# local accounts\n" + base.passwd.substr(base.passwd.find("bob:")) +
                      base.passwd.substr(0, base.passwd.find("bob:")) + "short:x\n";
        c.in.shadow = base.shadow + "no colon here\n\n";
        c.in.smbpasswd = "#comment\n" + base.smbpasswd;
        cases.push_back(c);
    }
    {
        // A name met twice keeps its last line, listed once.
        NormalCase c{"RepeatedNameKeepsLastLine", base, base};
        c.in.passwd = base.passwd + "alice:x:1040:100:Again:/home/alice:/bin/sh\n";
        c.out.passwd = "root:x:0:0:root:/root:/bin/sh\n"
                       "admin:x:1024:100:System default user:/var/services/homes/admin:/bin/sh\n"
                       "guest:x:1025:100:Guest:/nonexistent:/bin/false\n"
                       "bob:x:1031:100::/var/services/homes/bob:/bin/csh\n"
                       "alice:x:1040:100:Again:/home/alice:/bin/sh\n"
                       "nobody:x:65534:65534:nobody:/nonexistent:/bin/false\n";
        c.out.shadow = "root:$1$rt$YZfLEgYL5jQd0NeE1dJbF/:15000:0:99999:7:::\n"
                       "admin:$1$ad$gXqZ2oNhQ9h0uQ5oX9ZlE1:15000:0:99999:7:::\n"
                       "guest:*:15000:0:99999:7:::\n"
                       "bob:$1$Bo$3k9bqV5w7Wn8Bq0b1x4mT/:15500:0:99999:7:::\n"
                       "alice:$1$Al$bH3p8p6N0B5p3a9iQ2Yw1.:15500:100000:99999:7::20000:\n"
                       "nobody:*:15000:0:99999:7:::\n";
        c.out.conf = "#$_@UID__INDEX@_$1031$\n"
                     "# record user misc, format \"user_name:user_privilege:user_mail\"\n"
                     "admin:7:admin@example.com\n"
                     "bob:0:\n"
                     "alice:1:alice@example.com\n";
        c.out.smbpasswd = base.smbpasswd.substr(0, base.smbpasswd.find("alice:")) +
                          base.smbpasswd.substr(base.smbpasswd.find("bob:")) +
                          base.smbpasswd.substr(base.smbpasswd.find("alice:"),
                                                base.smbpasswd.find("bob:") - base.smbpasswd.find("alice:"));
        cases.push_back(c);
    }
    {
        // A user without a misc record is left out of korvuser.conf only.
        NormalCase c{"MissingMiscRecord", base, base};
        c.in.conf = "#$_@UID__INDEX@_$1031$\n"
                    "# record user misc, format \"user_name:user_privilege:user_mail\"\n"
                    "admin:7:admin@example.com\n"
                    "bob:0:\n";
        c.out.conf = c.in.conf;
        cases.push_back(c);
    }
    {
        // No usable uid index: the highest uid in use stands in.
        NormalCase c{"UidIndexOutOfRange", base, base};
        c.in.conf = "#$_@UID__INDEX@_$5000$\n" + base.conf.substr(base.conf.find('\n') + 1);
        c.out.conf = "#$_@UID__INDEX@_$65534$\n" + base.conf.substr(base.conf.find('\n') + 1);
        cases.push_back(c);
    }
    return cases;
}

void PrintTo(const NormalCase &c, std::ostream *os)
{
    *os << c.name;
}

class UserFilesNormal : public testing::TestWithParam<NormalCase> {};

TEST_P(UserFilesNormal, BuildThenDump)
{
    install(GetParam().in);
    Db db;
    ASSERT_TRUE(db);
    ASSERT_EQ(0, KORVUserDBDump(db.get()));
    EXPECT_EQ(GetParam().out, installed());
}

INSTANTIATE_TEST_SUITE_P(Cases, UserFilesNormal, testing::ValuesIn(normalCases()),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(UserFilesBuild, UidIndexAndUpperCasedKeys)
{
    Accounts a;
    a.conf = "# a comment first\n#$_@UID__INDEX@_$1500$\n";
    a.passwd += "\xC3\xA9mile:x:1040:100:::\n";
    install(a);
    Db db;
    ASSERT_TRUE(db);
    EXPECT_EQ(1500, marker(db->pPWDUID, KORV_BDB_KEY_CURRENT_UID, KORV_BDB_KEY_CURRENT_ID_LEN));
    // Keys are the upper-cased names (ICU's, beyond ASCII too); the lines keep the name's case.
    EXPECT_EQ("\xC3\xA9mile:x:1040:100:::", stored(db->pPWDName, "\xC3\x89MILE"));
    EXPECT_EQ("\xC3\x89MILE", stored(db->pPWDUID, "001040"));
    EXPECT_EQ("<absent>", stored(db->pPWDName, "alice"));
    // Every store remembers its file's time; the uid store that of /etc/passwd.
    struct {
        KORVBDB *store;
        const char *file;
    } pairs[] = {{db->pPWDName, KORV_PASSWD_FILE}, {db->pPWDUID, KORV_PASSWD_FILE}, {db->pPWDShadow, KORV_SHADOW_FILE},
                 {db->pPWDKorvser, KORV_USER_CONF_FILE}, {db->pPWDSMB, KORV_SMBPASSWD_FILE}};
    for (const auto &p : pairs) {
        EXPECT_EQ(static_cast<int32_t>(stat_of(p.file).st_mtime),
                  marker(p.store, KORV_BDB_KEY_SYNC_TIME, KORV_BDB_KEY_SYNC_TIME_LEN))
            << p.file;
        EXPECT_EQ(0, KORVBDbDeprecatedGet(p.store)) << p.file;
    }
}

// Thousands of names, some met again (in another case, under another uid) long after the
// first meeting: each name is stored once with its last line, and only its last uid lists it.
TEST(UserFilesBuild, NamesMetAgainAmongMany)
{
    Accounts a;
    std::map<std::string, std::string> names;  // upper-cased name -> last line
    auto add = [&](const std::string &name, int uid) {
        std::string line = name + ":x:" + std::to_string(uid) + ":100::/var/services/homes/" + name + ":/bin/csh";
        a.passwd += line + "\n";
        std::string key = name;
        for (char &c : key)
            c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        names[key] = line;
    };
    for (size_t at = 0, nl; (nl = a.passwd.find('\n', at)) != std::string::npos; at = nl + 1) {
        std::string line = a.passwd.substr(at, nl - at), name = line.substr(0, line.find(':'));
        for (char &c : name)
            c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        names[name] = line;
    }
    for (int i = 0; i < 3000; i++)
        add("user" + std::to_string(i), 2000 + i);
    for (int i = 0; i < 3000; i += 7)
        add("User" + std::to_string(i), 6000 + i);
    add("USER14", 9999);
    add("Alice", 9998);
    install(a);
    Db db;
    ASSERT_TRUE(db);

    std::multimap<std::string, std::string> wantNames, wantIds;
    for (const auto &[key, line] : names) {
        wantNames.emplace(key, line);
        size_t c1 = line.find(':'), c2 = line.find(':', c1 + 1), c3 = line.find(':', c2 + 1);
        char id[16];
        snprintf(id, sizeof id, "%06d", atoi(line.substr(c2 + 1, c3 - c2 - 1).c_str()));
        wantIds.emplace(id, key);
    }
    EXPECT_EQ(wantNames, records(db->pPWDName));
    EXPECT_EQ(wantIds, records(db->pPWDUID));
}

TEST(UserFilesBuild, NameThatCannotBeUpperCasedIsSkipped)
{
    Accounts a;
    a.passwd += "\xff\xfe:x:1060:100:::\n";
    a.shadow += "\xff\xfe:*:1:0:99999:7:::\n";
    install(a);
    Db db;
    ASSERT_TRUE(db);
    EXPECT_TRUE(syslog_contains("KORLUnicodeUTF8StrUpper failed [\xff\xfe]"));
    // Never stored under an empty key, nor listed under its uid.
    EXPECT_EQ("<absent>", stored(db->pPWDUID, "001060"));
    EXPECT_EQ(6u, records(db->pPWDName).size());
    EXPECT_EQ(6u, records(db->pPWDShadow).size());
    ASSERT_EQ(0, KORVUserDBDump(db.get()));
    EXPECT_EQ(Accounts(), installed());
}

TEST(UserFilesBuild, BadUidFailsTheOpen)
{
    Accounts a;
    a.passwd += "mallory:x:abc:100:::\n";
    install(a);
    mark_error();
    KORVUSERDB *set = nullptr;
    EXPECT_EQ(-1, KORVUserDBOpenFile(&set, KORV_USER_DB_PREFIX));
    EXPECT_EQ(KORL_ERR_MALFORMED, KORLErrGet());
    EXPECT_EQ(nullptr, set);
    EXPECT_TRUE(syslog_contains("UserDBPasswdBuild() failed! korverr=0x4000"));
    // Nothing half-built is left under the live or the staging names.
    for (const std::string &f : store_files())
        EXPECT_FALSE(file_exists(f)) << f;
    for (const std::string &f : store_files(std::string(KORV_USER_DB_PREFIX) + ".tmp"))
        EXPECT_FALSE(file_exists(f)) << f;
}

TEST(UserFilesBuild, MissingTextFileFailsTheOpen)
{
    install();
    unlink(KORV_SMBPASSWD_FILE);
    mark_error();
    KORVUSERDB *set = nullptr;
    EXPECT_EQ(-1, KORVUserDBOpenFile(&set, KORV_USER_DB_PREFIX));
    EXPECT_EQ(KORL_ERR_OPEN, KORLErrGet());
    EXPECT_TRUE(syslog_contains("UserDBGetLineBuild() failed! korverr=0x0900"));
}

TEST(UserFilesDump, ModesAndOwnersOfTheFiles)
{
    install();
    ASSERT_EQ(0, chown(KORV_USER_CONF_FILE, 1030, 100));
    ASSERT_EQ(0, chmod(KORV_USER_CONF_FILE, 0640));
    Db db;
    ASSERT_TRUE(db);
    // Files that are new get the modes of their kind.
    unlink(KORV_SMBPASSWD_FILE);
    unlink(KORV_PASSWD_FILE);
    mode_t old = umask(0);
    ASSERT_EQ(0, KORVUserDBDump(db.get()));
    umask(old);
    EXPECT_EQ(0600u, stat_of(KORV_SMBPASSWD_FILE).st_mode & 07777);
    EXPECT_EQ(0644u, stat_of(KORV_PASSWD_FILE).st_mode & 07777);
    EXPECT_EQ(0600u, stat_of(KORV_SHADOW_FILE).st_mode & 07777);
    struct stat conf = stat_of(KORV_USER_CONF_FILE);
    EXPECT_EQ(0640u, conf.st_mode & 07777);
    EXPECT_EQ(1030u, conf.st_uid);
    EXPECT_EQ(100u, conf.st_gid);
    EXPECT_EQ(Accounts(), installed());
    // The stores hold password hashes: only their owner reads them.
    for (const std::string &f : store_files())
        EXPECT_EQ(0600u, stat_of(f).st_mode & 07777) << f;
}

TEST(UserFilesDump, TemporaryNameHeldByALink)
{
    install();
    write_file("/etc/victim", "precious\n");
    ASSERT_EQ(0, symlink("/etc/victim", "/etc/shadow.tmp"));
    ASSERT_EQ(0, symlink("/etc/victim-new", "/etc/passwd.tmp"));
    Db db;
    ASSERT_TRUE(db);
    ASSERT_EQ(0, KORVUserDBDump(db.get()));
    EXPECT_EQ("precious\n", read_file("/etc/victim"));
    EXPECT_FALSE(file_exists("/etc/victim-new"));
    EXPECT_EQ(Accounts(), installed());
    EXPECT_TRUE(temp_files().empty());
}

TEST(UserFilesDump, FullDiskLeavesEveryFileAsItWas)
{
    // /etc on a small disk: the new files do not fit beside the old ones.
    ASSERT_TRUE(mount_small_disk("/etc", 64 * 1024));
    install();
    Db db;
    ASSERT_TRUE(db);
    for (int i = 0; i < 400; i++) {
        User u;
        std::string name = "user" + std::to_string(i);
        ASSERT_EQ(0, KORVUserAlloc(&u.p, name.c_str(), "$1$xx$abcdefghijklmnopqrstuv", 2000 + i, 100,
                                   std::string(100, 'g').c_str(), nullptr, nullptr, -1, 0, nullptr, 0));
        ASSERT_EQ(0, KORVUserDBSet(db.get(), nullptr, 0, u.p)) << name;
    }
    const Accounts before = installed();
    const ino_t passwdIno = stat_of(KORV_PASSWD_FILE).st_ino;
    mark_error();
    EXPECT_EQ(-1, KORVUserDBDump(db.get()));
    EXPECT_EQ(KORL_ERR_WRITE, KORLErrGet());
    EXPECT_EQ(before, installed());
    EXPECT_EQ(passwdIno, stat_of(KORV_PASSWD_FILE).st_ino);
    EXPECT_TRUE(temp_files().empty());
}

TEST(UserFilesDump, DamagedRecordFailsBeforeAnyRename)
{
    install();
    const Accounts before = installed();
    Db db;
    ASSERT_TRUE(db);
    // A uid record whose value is no text: the walk cannot go on, so nothing is published.
    ASSERT_EQ(0, KORVBDbSet(db->pPWDUID, "001027", 7, "ZED", 3));
    mark_error();
    EXPECT_EQ(-1, KORVUserDBDump(db.get()));
    EXPECT_EQ(KORL_ERR_MALFORMED, KORLErrGet());
    EXPECT_EQ(before, installed());
    EXPECT_TRUE(temp_files().empty());
}

TEST(UserFilesDump, DomainUsersStayInTheStores)
{
    install();
    write_file("/usr/korv/etc/smb.conf", "[global]\n\tworkgroup = CORP\n\tsecurity = domain\n");
    write_file("/etc/korvinfo.conf", "codepage=\"enu\"\nrunsamba=\"yes\"\n");
    write_file(KORV_DOMAIN_USER_FILE, "CORP\\dave:1\nCORP\\erin:x:2\nno separator\nCORP\\frank:3");
    Db db;
    ASSERT_TRUE(db);
    EXPECT_EQ("CORP\\dave:x:-1:-1:::", stored(db->pPWDName, "CORP\\DAVE"));
    // The name is the text before the line's last ":".
    EXPECT_EQ("CORP\\erin:x:x:-1:-1:::", stored(db->pPWDName, "CORP\\ERIN:X"));
    EXPECT_EQ("CORP\\frank:x:-1:-1:::", stored(db->pPWDName, "CORP\\FRANK"));
    EXPECT_EQ(0, KORVBDbDomainIsNeedToRebuild(db->pPWDName));
    User u;
    ASSERT_EQ(0, KORVUserDBGet(db.get(), "CORP\\DAVE", &u.p));
    EXPECT_EQ(-1, u->uid);
    EXPECT_EQ(3, u->privilege);
    EXPECT_STREQ("", u->szPasswd);
    EXPECT_EQ(KORV_USER_TYPE_DOMAIN, u->userType);

    ASSERT_EQ(0, KORVUserDBDump(db.get()));
    EXPECT_EQ(Accounts().passwd, read_file(KORV_PASSWD_FILE));

    PKORLSZLIST list = PslKORLSzListAlloc(0);
    // erin's record reads as uid 0 under a name that is not root, and is skipped.
    EXPECT_EQ(2, KORVUserEnum(&list, KORV_USER_ENUM_DOMAIN));
    EXPECT_STREQ("CORP\\dave", SzKORLSzListGet(list, 0));
    EXPECT_STREQ("CORP\\frank", SzKORLSzListGet(list, 1));
    KORLSzListFree(list);
}

}  // namespace
