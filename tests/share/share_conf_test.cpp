// smb.conf built into the share store and written back from it; the samba settings.
#include <sys/stat.h>
#include <unistd.h>

#include "share/share_internal.h"
#include "share_test_util.h"

using namespace sharetest;
using korvtest::file_exists;
using korvtest::read_file;
using korvtest::syslog_contains;
using korvtest::write_file;

namespace {

// The section of a share as the dump writes it, its valid users given.
std::string section(const std::string &name, const std::string &invalid, const std::string &valid,
                    const std::string &comment, const std::string &path, const char *guest, const char *browse,
                    const char *ftp[3], const std::string &read, const std::string &write, const char *writeable)
{
    auto guard = [](const std::string &l) { return "nobody," + l + (l.empty() ? "" : ",") + "nobody"; };
    return "[" + name + "]\n\tinvalid users=" + guard(invalid) + "\n\tvalid users=" + guard(valid) +
           "\n\tcomment=\"" + comment + "\"\n\tpath=" + path + "\n\tguest ok=" + guest + "\n\tbrowseable=" + browse +
           "\n\tftp disable list=" + ftp[0] + "\n\tftp disable modify=" + ftp[1] + "\n\tftp disable download=" +
           ftp[2] + "\n\tread list=" + guard(read) + "\n\twrite list=" + guard(write) + "\n\twriteable=" + writeable +
           "\n";
}

// The names joined in the slot order of a string hash that holds them.
std::string hashOrder(const std::vector<std::string> &names)
{
    PKORLSZHASH h = PshKORLSzHashAlloc(1024);
    for (const std::string &n : names)
        KORLSzHashSetValue(&h, n.c_str(), "1");
    std::string out;
    for (int i = 0; i < h->nSlot; i++) {
        if (const char *k = SzKORLSzHashSlotKey(h, i))
            out += (out.empty() ? "" : ",") + std::string(k);
    }
    KORLSzHashFree(h);
    return out;
}

const char *kNoFtp[3] = {"no", "no", "no"};
const char *kModifyOnly[3] = {"no", "yes", "no"};

// Builds the store from smb.conf, dumps it, and gives the new smb.conf.
std::string buildAndDump()
{
    Db db;
    EXPECT_TRUE(db);
    if (!db)
        return "<no database>";
    EXPECT_EQ(0, KORVShareDBDump(db.get()));
    return read_file(KORV_SMB_CONF);
}

TEST(SmbConf, RoundTripByteForByte)
{
    install();
    const ino_t before = usertest::stat_of(KORV_SMB_CONF).st_ino;
    Db db;
    ASSERT_TRUE(db);
    ASSERT_EQ(0, KORVShareDBDump(db.get()));
    EXPECT_EQ(kSmbConf, read_file(KORV_SMB_CONF));
    EXPECT_NE(before, usertest::stat_of(KORV_SMB_CONF).st_ino);
    EXPECT_FALSE(file_exists("/usr/korv/etc/smb.conf.tmp"));
    // The store holds the new file's time: nothing is rebuilt at the next check.
    EXPECT_EQ(0, KORVShareDBCheckAndRebuild(db.addr()));
}

struct ConfCase {
    const char *name;
    std::string in;
    std::string out;
};

void PrintTo(const ConfCase &c, std::ostream *os)
{
    *os << c.name;
}

std::vector<ConfCase> confCases()
{
    const std::string global = "[global]\n\tsecurity=user\n";
    const std::string data = section("Data", "", "", "", "/volume1/Data", "yes", "yes", kNoFtp, "", "", "no");
    return {
        {"LinesBeforeTheFirstHeaderIgnored", "stray=line\n# comment\n" + global + "[Data]\npath=/volume1/Data\n",
         global + data},
        {"ReservedSectionsKeepBlankAndCommentLines",
         "[Printers]\n  load printers = no\n\n[global]\n\tsecurity=user\n  # note\n\n",
         "[global]\n\tsecurity=user\n\t# note\n\t\n[Printers]\n\tload printers = no\n\t\n"},
        {"LineWithoutEqualsDropsItsSection",
         "[Data]\npath=/volume1/Data\n[Bad]\npath=/volume1/Bad\n# a comment\n[Other]\npath=/volume1/Other\n",
         data + section("Other", "", "", "", "/volume1/Other", "yes", "yes", kNoFtp, "", "", "no")},
        {"SectionWithoutKeysNotStored", "[Empty]\n\n[Data]\npath=/volume1/Data\n", data},
        {"SecondSectionOfTheSameNameRefused",
         "[Data]\npath=/volume1/Data\n[data]\npath=/volume1/other\n", data},
        {"ExactWordsOnly",
         "[Data]\npath=/volume1/Data\nbrowseable=No\nftp disable list=YES\nftp disable modify=yes\n",
         section("Data", "", "", "", "/volume1/Data", "yes", "yes", kModifyOnly, "", "", "no")},
        {"ListsNormalised",
         "[Data]\npath=/volume1/Data\ninvalid users=nobody,GHOST,Bob,bob\nwrite list=nobody,ALICE,@STAFF,nobody\n"
         "read list=alice\nguest ok=no\nwriteable=no\n",
         section("Data", "bob", hashOrder({"alice", "@staff"}), "", "/volume1/Data", "no", "yes", kNoFtp, "alice",
                 "alice,@staff", "no")},
        {"AllUsersInTheReadListMeansReadOnly",
         "[Data]\npath=/volume1/Data\nread list=@users\nguest ok=no\nwriteable=no\n",
         section("Data", "", "@users", "", "/volume1/Data", "yes", "yes", kNoFtp, "@users", "", "no")},
        {"AllUsersInTheDenyListWinsOverTheOthers",
         "[Data]\npath=/volume1/Data\ninvalid users=@users\nwrite list=@users\nguest ok=yes\nwriteable=yes\n",
         section("Data", "@users", "@users", "", "/volume1/Data", "no", "yes", kNoFtp, "", "@users", "no")},
        {"AnotherGroupBeginningWithUsersIsNotAllUsers",
         "[Data]\npath=/volume1/Data\nwrite list=@users_rw\nguest ok=no\nwriteable=no\n",
         section("Data", "", "@users_rw", "", "/volume1/Data", "no", "yes", kNoFtp, "", "@users_rw", "no")},
        {"UnknownPermissionsReadOnly", "[Data]\npath=/volume1/Data\nguest ok=no\nwriteable=yes\n", data},
        {"RelativePathDropsTheShare", "[Data]\npath=/volume1/Data\n[Rel]\npath=volume1/rel\n", data},
    };
}

class SmbConfBuild : public testing::TestWithParam<ConfCase> {};

TEST_P(SmbConfBuild, ThenDump)
{
    grouptest::GroupFiles g;
    g.group += "users_rw:x:70000:alice\n";
    grouptest::install(g);
    write_file(KORV_SMB_CONF, GetParam().in);
    EXPECT_EQ(GetParam().out, buildAndDump());
    // What the dump wrote builds into the same store again.
    EXPECT_EQ(GetParam().out, buildAndDump());
}

INSTANTIATE_TEST_SUITE_P(Cases, SmbConfBuild, testing::ValuesIn(confCases()),
                         [](const auto &info) { return info.param.name; });

TEST(SmbConfBuild, RefusedSectionsAreLogged)
{
    install("[Data]\npath=/volume1/Data\n[data]\npath=/x\n[Bad]\npath=/b\nno equals\n[Rel]\npath=rel\n");
    Db db;
    ASSERT_TRUE(db);
    EXPECT_TRUE(syslog_contains("KORVShareDBSet failed. korverr=0x1300"));
    EXPECT_TRUE(syslog_contains("Failed to set section data. section[Bad], korverr=0x0D00"));
    EXPECT_TRUE(syslog_contains("ShareAllocFromConf [Rel] failed. korverr=0x9900"));
    EXPECT_EQ((std::vector<std::string>{"Data"}), names(db.get()));
}

TEST(SmbConfDump, ValidUsersAreTheUnionOfWriteAndRead)
{
    install("[Data]\npath=/volume1/Data\nwrite list=alice,bob\nread list=bob,admin\n");
    std::string out = buildAndDump();
    const std::string valid = hashOrder({"alice", "bob", "admin"});
    EXPECT_NE(std::string::npos, out.find("\tvalid users=nobody," + valid + ",nobody\n")) << out;
    EXPECT_NE(std::string::npos, out.find("\tread list=nobody,bob,admin,nobody\n")) << out;
    EXPECT_NE(std::string::npos, out.find("\twrite list=nobody,alice,bob,nobody\n")) << out;
}

TEST(SmbConfDump, PermissionsOfEveryType)
{
    struct {
        int fType;
        const char *guest, *writeable;
        int code;
    } cases[] = {
        {4, "no", "no", 0}, {2, "yes", "yes", 0}, {1, "yes", "no", 0}, {6, "no", "no", 0},
        {0, nullptr, nullptr, KORL_ERR_BAD_PARAM}, {8, nullptr, nullptr, KORV_ERR_SHARE_PERMISSION},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.fType);
        install();
        Db db;
        ASSERT_TRUE(db);
        KORVSHARE r = in({.name = "Data", .path = "/volume1/Data", .fType = c.fType});
        ASSERT_EQ(0, KORVShareDBSet(db.get(), "Data", &r));
        mark_error();
        if (c.code) {
            EXPECT_EQ(-1, KORVShareDBDump(db.get()));
            EXPECT_EQ(c.code, KORLErrGet());
            EXPECT_TRUE(syslog_contains("GeneralSectionDump() failed!! key=DATA"));
            EXPECT_EQ(kSmbConf, read_file(KORV_SMB_CONF));
            EXPECT_FALSE(file_exists("/usr/korv/etc/smb.conf.tmp"));
            continue;
        }
        ASSERT_EQ(0, KORVShareDBDump(db.get()));
        std::string out = read_file(KORV_SMB_CONF);
        EXPECT_NE(std::string::npos, out.find("\tguest ok=" + std::string(c.guest) + "\n\tbrowseable")) << out;
        EXPECT_NE(std::string::npos, out.find("\twriteable=" + std::string(c.writeable) + "\n[public]")) << out;
    }
}

TEST(SmbConfDump, OwnerModeAndLinks)
{
    install();
    ASSERT_EQ(0, chown(KORV_SMB_CONF, 1030, 100));
    ASSERT_EQ(0, chmod(KORV_SMB_CONF, 0640));
    Db db;
    ASSERT_TRUE(db);
    ASSERT_EQ(0, KORVShareDBDump(db.get()));
    struct stat st = usertest::stat_of(KORV_SMB_CONF);
    EXPECT_EQ(0640u, st.st_mode & 07777);
    EXPECT_EQ(1030u, st.st_uid);
    // A link of our own is followed: the file it leads to is replaced, the link stays.
    korvtest::make_dirs("/usr/korv/etc/real");
    ASSERT_EQ(0, rename(KORV_SMB_CONF, "/usr/korv/etc/real/smb.conf"));
    ASSERT_EQ(0, symlink("real/smb.conf", KORV_SMB_CONF));
    ASSERT_EQ(0, KORVShareDBDump(db.get()));
    struct stat l;
    ASSERT_EQ(0, lstat(KORV_SMB_CONF, &l));
    EXPECT_TRUE(S_ISLNK(l.st_mode));
    EXPECT_EQ(kSmbConf, read_file("/usr/korv/etc/real/smb.conf"));
    EXPECT_FALSE(file_exists("/usr/korv/etc/real/smb.conf.tmp"));
    // Another user's link is refused and left as it is.
    ASSERT_EQ(0, lchown(KORV_SMB_CONF, 1030, 100));
    mark_error();
    EXPECT_EQ(-1, KORVShareDBDump(db.get()));
    EXPECT_EQ(KORL_ERR_OPEN, KORLErrGet());
    ASSERT_EQ(0, lstat(KORV_SMB_CONF, &l));
    EXPECT_TRUE(S_ISLNK(l.st_mode));
    // A link at the temporary name is never written through.
    ASSERT_EQ(0, unlink(KORV_SMB_CONF));
    ASSERT_EQ(0, rename("/usr/korv/etc/real/smb.conf", KORV_SMB_CONF));
    write_file("/etc/victim", "precious\n");
    ASSERT_EQ(0, symlink("/etc/victim", "/usr/korv/etc/smb.conf.tmp"));
    ASSERT_EQ(0, KORVShareDBDump(db.get()));
    EXPECT_EQ("precious\n", read_file("/etc/victim"));
    EXPECT_EQ(kSmbConf, read_file(KORV_SMB_CONF));
}

TEST(SmbConfDump, FullDiskLeavesSmbConfAsItWas)
{
    ASSERT_TRUE(korvtest::mount_small_disk("/usr/korv/etc", 16 * 1024));
    install();
    Db db;
    ASSERT_TRUE(db);
    for (int i = 0; i < 100; i++) {
        std::string name = "Share" + std::to_string(i);
        std::string comment(100, 'c');
        KORVSHARE r = in({.name = name.c_str(), .comment = comment.c_str(), .path = "/volume1/x"});
        ASSERT_EQ(0, KORVShareDBSet(db.get(), nullptr, &r));
    }
    const ino_t ino = usertest::stat_of(KORV_SMB_CONF).st_ino;
    mark_error();
    EXPECT_EQ(-1, KORVShareDBDump(db.get()));
    EXPECT_EQ(KORL_ERR_WRITE, KORLErrGet());
    EXPECT_EQ(kSmbConf, read_file(KORV_SMB_CONF));
    EXPECT_EQ(ino, usertest::stat_of(KORV_SMB_CONF).st_ino);
    EXPECT_FALSE(file_exists("/usr/korv/etc/smb.conf.tmp"));
}

TEST(SmbConfParts, RemoveSameUsers)
{
    struct {
        const char *in;
        int result;
        std::vector<std::string> names;
    } cases[] = {
        {"", 0, {}},
        {"alice", 1, {"alice"}},
        {"alice,,bob,alice,", 1, {"alice", "bob"}},
        {",,", 1, {}},
        {"Alice,alice", 1, {"Alice", "alice"}},
    };
    for (const auto &c : cases) {
        std::string buf = c.in;
        EXPECT_EQ(c.result, korv::share::RemoveSameUsers(buf.data())) << c.in;
        EXPECT_EQ(c.result ? hashOrder(c.names) : "", std::string(buf.c_str())) << c.in;
    }
    mark_error();
    EXPECT_EQ(-1, korv::share::RemoveSameUsers(nullptr));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
}

TEST(SmbConfParts, PermissionWords)
{
    using korv::share::ShareFTypeGetFromConf;
    EXPECT_EQ(2, ShareFTypeGetFromConf("yes", "yes"));
    EXPECT_EQ(1, ShareFTypeGetFromConf("yes", "no"));
    EXPECT_EQ(4, ShareFTypeGetFromConf("no", "no"));
    mark_error();
    EXPECT_EQ(-1, ShareFTypeGetFromConf("no", "yes"));
    EXPECT_EQ(KORL_ERR_OTHER, KORLErrGet());
    EXPECT_EQ(-1, ShareFTypeGetFromConf("Yes", "yes"));
    mark_error();
    EXPECT_EQ(-1, ShareFTypeGetFromConf(nullptr, "yes"));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    char g[4], w[4];
    mark_error();
    EXPECT_EQ(-1, korv::share::ShareFTypeSetToConf(1, g, w, 3, sizeof w));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
}

TEST(SmbConfParts, SectionNames)
{
    struct {
        const char *line;
        int size;
        const char *name;
    } cases[] = {
        {"[Data]", 495, "Data"},
        {"  [Data] ", 495, "Data"},
        {"[a]b]", 495, "a]b"},
        {"no bracket", 495, "no bracket"},
        {"[Data]", 4, "Dat"},
        {"[Long name]", 6, "Long "},
    };
    for (const auto &c : cases) {
        char name[495];
        ASSERT_EQ(0, KORVShareParseSectionName(c.line, name, c.size)) << c.line;
        EXPECT_STREQ(c.name, name) << c.line;
    }
    char name[4];
    mark_error();
    EXPECT_EQ(-1, KORVShareParseSectionName("[x]", name, 0));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
}

TEST(SambaSettings, WinsQuery)
{
    struct {
        const char *what;
        std::string global;
        int result;
        const char *name;
        int domain;
    } cases[] = {
        {"ads", "security=ads\nrealm=CORP.EXAMPLE\nworkgroup=CORP\n", 0, "CORP.EXAMPLE", 1},
        {"domain", "security=domain\nworkgroup=CORP\n", 0, "CORP", 1},
        {"user", "security = user\nworkgroup = HOME\n", 0, "HOME", 0},
        {"no security", "workgroup=HOME\n", -1, "", 0},
        {"ads without realm", "security=ads\nworkgroup=CORP\n", -1, "", 0},
        {"user without workgroup", "security=user\n", -1, "", 0},
    };
    for (const auto &c : cases) {
        write_file(KORV_SMB_CONF, "[global]\n" + c.global + "[Data]\npath=/x\n");
        char name[8] = "old";
        int domain = -5, running = -5;
        EXPECT_EQ(c.result, KORVWinsQuery1(name, sizeof name, &domain, &running)) << c.what;
        if (c.result == 0) {
            // Cut to the buffer.
            EXPECT_EQ(std::string(c.name).substr(0, 7), name) << c.what;
            EXPECT_EQ(c.domain, domain) << c.what;
            EXPECT_EQ(0, running) << c.what;
        }
    }
    char name[8];
    int domain;
    for (int size : {0, -1}) {
        mark_error();
        EXPECT_EQ(-1, KORVWinsQuery1(name, size, &domain, nullptr));
        EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    }
    mark_error();
    EXPECT_EQ(-1, KORVWinsQuery1(nullptr, 8, &domain, nullptr));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
}

TEST(SambaSettings, RunSamba)
{
    for (const auto &[conf, running] : std::vector<std::pair<std::string, int>>{
             {"runsamba=\"Yes\"\n", 1}, {"runsamba=yes\n", 1}, {"runsamba=\"no\"\n", 0}, {"other=1\n", 0}}) {
        write_file("/etc/korvinfo.conf", conf);
        EXPECT_EQ(running, SambaIsRunning()) << conf;
    }
    unlink("/etc/korvinfo.conf");
    EXPECT_EQ(0, SambaIsRunning());
}

}  // namespace
