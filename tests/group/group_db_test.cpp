// The group stores: built from /etc/group and /etc/group_desc, written back, and changed.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "group_test_util.h"

using namespace grouptest;
using korvtest::file_exists;
using korvtest::read_file;
using korvtest::syslog_contains;
using korvtest::write_file;

namespace {

std::vector<std::string> temp_files()
{
    std::vector<std::string> out;
    for (const char *name : {"/etc/group_tmp", "/etc/group_desc.tmp"}) {
        if (file_exists(name))
            out.push_back(name);
    }
    return out;
}

TEST(GroupFiles, BuildThenDumpIsByteForByte)
{
    install();
    Db db;
    ASSERT_TRUE(db);
    EXPECT_EQ("staff:x:65600:alice,bob", stored(db->pGRPName, "STAFF"));
    EXPECT_EQ("STAFF", stored(db->pGRPGID, "065600"));
    EXPECT_EQ("devs:Developers: all of them", stored(db->pGRPDesc, "DEVS"));
    EXPECT_EQ(65601, usertest::marker(db->pGRPGID, KORV_BDB_KEY_CURRENT_GID, KORV_BDB_KEY_CURRENT_ID_LEN));
    ASSERT_EQ(0, KORVGroupDBDump(db.get()));
    EXPECT_EQ(GroupFiles(), installed());
    EXPECT_TRUE(temp_files().empty());
    // The stores hold the files' new times: the next check finds them fresh.
    EXPECT_EQ(0, KORVGroupDBCheckAndRebuild(db.addr()));
}

struct NormalCase {
    const char *name;
    GroupFiles in;
    GroupFiles out;
};

GroupFiles files(const std::string &group, const std::string &desc = GroupFiles().desc)
{
    GroupFiles g;
    g.group = group;
    g.desc = desc;
    return g;
}

// What a build and a dump make of files that are not as the dump writes them.
std::vector<NormalCase> normalCases()
{
    const std::string head = "#$_@GID__INDEX@_$65601$\n";
    return {
        {"SortedByGidWithIndexFirst",
         files("devs:x:65601:bob\nstaff:x:65600:alice,bob\n" + head + "users:x:100:\nsmmsp:x:25:admin\n"
               "root:x:0:\nftp:x:21:\n"),
         GroupFiles()},
        {"MembersNormalised",
         files(head + "root:x:0:\nftp:x:21:\nsmmsp:x:25:admin,nobody,ghost\nusers:x:100:\n"
                      "staff:*:65600:Alice,,bob,ALICE\ndevs:x:65601:bob\n"),
         files(head + "root:x:0:\nftp:x:21:\nsmmsp:x:25:admin\nusers:x:100:\n"
                      "staff:*:65600:alice,bob\ndevs:x:65601:bob\n")},
        {"CommentsShortLinesAndEmptyNamesDropped",
         files(head + "# a comment\nroot:x:0:\nshort:x:1\n:x:70000:\nftp:x:21:\nsmmsp:x:25:admin\n"
                      "users:x:100:\nstaff:x:65600:alice,bob\ndevs:x:65601:bob"),
         GroupFiles()},
        {"RepeatedNameKeepsItsLastLine",
         files(head + "root:x:0:\nftp:x:21:\nsmmsp:x:25:admin\nusers:x:100:\nstaff:x:65600:alice,bob\n"
                      "devs:x:65601:bob\nDevs:x:70000:alice\n"),
         files(head + "root:x:0:\nftp:x:21:\nsmmsp:x:25:admin\nusers:x:100:\nstaff:x:65600:alice,bob\n"
                      "Devs:x:70000:alice\n")},
        {"DescriptionsOfMissingGroupsAndBadLinesDropped",
         files(GroupFiles().group, "# comment\nnone:No such group\nno colon here\n:empty name\nstaff:The staff\n"
                                   "DEVS:Developers: all of them\n"),
         files(GroupFiles().group, "staff:The staff\nDEVS:Developers: all of them\n")},
        {"NameTooLongForItsKeyIsSkipped",
         files(GroupFiles().group + std::string(130, 'g') + ":x:70001:\n"),
         GroupFiles()},
        {"SharedGidsKeepTheirOrder",
         files(head + "root:x:0:\nftp:x:21:\nsmmsp:x:25:admin\nusers:x:100:\nstaff:x:65600:alice,bob\n"
                      "twin:x:65600:bob\ndevs:x:65601:bob\n"),
         files(head + "root:x:0:\nftp:x:21:\nsmmsp:x:25:admin\nusers:x:100:\nstaff:x:65600:alice,bob\n"
                      "twin:x:65600:bob\ndevs:x:65601:bob\n")},
    };
}

class GroupFilesNormal : public testing::TestWithParam<NormalCase> {};

TEST_P(GroupFilesNormal, BuildThenDump)
{
    install(GetParam().in);
    Db db;
    ASSERT_TRUE(db);
    ASSERT_EQ(0, KORVGroupDBDump(db.get()));
    EXPECT_EQ(GetParam().out, installed());
}

void PrintTo(const NormalCase &c, std::ostream *os)
{
    *os << c.name;
}

INSTANTIATE_TEST_SUITE_P(Cases, GroupFilesNormal, testing::ValuesIn(normalCases()),
                         [](const auto &info) { return info.param.name; });

TEST(GroupFilesBuild, NextGid)
{
    struct {
        const char *name;
        std::string group;
        int current;
        int next;
    } cases[] = {
        // The index wins even below groups above it; the next free gid is looked for from it.
        {"index", "#$_@GID__INDEX@_$65600$\nstaff:x:65600:\nb:x:65601:\nc:x:65603:\n", 65600, 65602},
        // An index outside the range, or none: the highest gid in the file.
        {"outside", "#$_@GID__INDEX@_$100$\nstaff:x:70000:\n", 70000, 70001},
        {"none", "users:x:100:\nstaff:x:65700:\n", 65700, 65701},
        {"only system groups", "root:x:0:\nusers:x:100:\n", 100, 65536},
        // A number not closed by "$" is kept while the search goes on.
        {"unclosed", "#$_@GID__INDEX@_$65700\nstaff:x:70000:\n", 65700, 65701},
        {"last closed wins", "#$_@GID__INDEX@_$65700\n#$_@GID__INDEX@_$65800$\n#$_@GID__INDEX@_$65900$\n", 65800,
         65801},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        GroupFiles g;
        g.group = c.group;
        install(g);
        Db db;
        ASSERT_TRUE(db);
        EXPECT_EQ(c.current, usertest::marker(db->pGRPGID, KORV_BDB_KEY_CURRENT_GID, KORV_BDB_KEY_CURRENT_ID_LEN));
        EXPECT_EQ(c.next, KORVGroupGetFreeGid(db.get()));
        db.close();
        korvtest::remove_tree("/tmp");
        korvtest::make_dirs("/tmp", 01777);
    }
}

TEST(GroupFilesBuild, Failures)
{
    struct {
        const char *name;
        std::string group;
        bool descMissing;
        int code;
    } cases[] = {
        {"gid of letters", "staff:x:abc:\n", false, KORL_ERR_MALFORMED},
        {"missing description file", GroupFiles().group, true, KORL_ERR_OPEN},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        GroupFiles g;
        g.group = c.group;
        install(g);
        if (c.descMissing)
            unlink(KORV_GROUP_DESC_FILE);
        KORVGROUPDB *set = nullptr;
        mark_error();
        EXPECT_EQ(-1, KORVGroupDBOpenFile(&set, KORV_GROUP_DB_PREFIX));
        EXPECT_EQ(c.code, KORLErrGet());
        EXPECT_EQ(nullptr, set);
        EXPECT_FALSE(file_exists("/tmp/.db.group.name.0947"));
    }
    // A gid of 0 is gid 0.
    GroupFiles g;
    g.group = "wheel:x:0:alice\n";
    install(g);
    Db db;
    ASSERT_TRUE(db);
    EXPECT_EQ("WHEEL", stored(db->pGRPGID, "000000"));
}

TEST(GroupFilesBuild, FormatErrorsAreLogged)
{
    GroupFiles g;
    g.desc += "no colon here\n";
    g.group += std::string(130, 'g') + ":x:70001:\n";
    install(g);
    Db db;
    ASSERT_TRUE(db);
    EXPECT_TRUE(syslog_contains("/etc/group_desc format error, group name = no colon here"));
    EXPECT_TRUE(syslog_contains("KORLUnicodeUTF8StrUpper failed, str=" + std::string(130, 'g') + "."));
    // Nothing is stored under an empty or cut key.
    EXPECT_EQ(6u, records(db->pGRPName).size());
    EXPECT_EQ("<absent>", stored(db->pGRPGID, "070001"));
}

TEST(GroupFilesBuild, DomainGroupsStayInTheStores)
{
    install();
    write_file("/usr/korv/etc/smb.conf", "[global]\n\tworkgroup=CORP\n\tsecurity=domain\n");
    write_file("/etc/korvinfo.conf", "codepage=\"enu\"\nrunsamba=\"yes\"\n");
    write_file(KORV_DOMAIN_GROUP_FILE, "CORP\\admins:1\nno separator\nCORP\\domain users:x:2\n:3\nCORP\\x");
    Db db;
    ASSERT_TRUE(db);
    EXPECT_EQ("CORP\\admins:x:-1:", stored(db->pGRPName, "CORP\\ADMINS"));
    // The name is the text before the line's last ":"; a line without a name is left out.
    EXPECT_EQ("CORP\\domain users:x:x:-1:", stored(db->pGRPName, "CORP\\DOMAIN USERS:X"));
    EXPECT_EQ(8u, records(db->pGRPName).size());
    ASSERT_EQ(0, KORVBDbDelete(db->pGRPName, "CORP\\DOMAIN USERS:X", 20));
    EXPECT_EQ(0, KORVBDbDomainIsNeedToRebuild(db->pGRPName));
    Group g;
    ASSERT_EQ(0, KORVGroupGet("corp\\admins", &g.p));
    EXPECT_EQ(-1, g->gid);
    EXPECT_EQ(KORV_GROUP_TYPE_DOMAIN, g->groupType);
    // Never written to the files.
    ASSERT_EQ(0, KORVGroupDBDump(db.get()));
    EXPECT_EQ(GroupFiles(), installed());
    // A walk of the domain kind (on a fresh set: its cursor starts at the first group) finds them only.
    Db fresh;
    int n = 0;
    while (KORVGroupDBGetByCursor(fresh.get(), &g.p, KORV_GROUP_TYPE_DOMAIN, 1) == 0) {
        EXPECT_EQ(KORV_GROUP_TYPE_DOMAIN, g->groupType);
        ++n;
    }
    EXPECT_EQ(1, n);
}

TEST(GroupFilesDump, OwnersModesAndTemporaryNames)
{
    install();
    ASSERT_EQ(0, chown(KORV_GROUP_FILE, 1030, 100));
    ASSERT_EQ(0, chmod(KORV_GROUP_FILE, 0640));
    unlink(KORV_GROUP_DESC_FILE);
    // A link at a temporary name is never written through.
    write_file("/etc/victim", "precious\n");
    ASSERT_EQ(0, symlink("/etc/victim", "/etc/group_tmp"));
    Db db(false);
    {
        // The description file must exist for a build; the dump makes it anew.
        write_file(KORV_GROUP_DESC_FILE, GroupFiles().desc);
        db.open();
        ASSERT_TRUE(db);
        unlink(KORV_GROUP_DESC_FILE);
    }
    mode_t old = umask(077);
    ASSERT_EQ(0, KORVGroupDBDump(db.get()));
    umask(old);
    struct stat st = usertest::stat_of(KORV_GROUP_FILE);
    EXPECT_EQ(0640u, st.st_mode & 07777);
    EXPECT_EQ(1030u, st.st_uid);
    EXPECT_EQ(100u, st.st_gid);
    EXPECT_EQ(0644u, usertest::stat_of(KORV_GROUP_DESC_FILE).st_mode & 07777);
    EXPECT_EQ("precious\n", read_file("/etc/victim"));
    EXPECT_EQ(GroupFiles(), installed());
    EXPECT_TRUE(temp_files().empty());
}

TEST(GroupFilesDump, FullDiskLeavesBothFilesAsTheyWere)
{
    ASSERT_TRUE(korvtest::mount_small_disk("/etc", 64 * 1024));
    install();
    Db db;
    ASSERT_TRUE(db);
    for (int i = 0; i < 600; i++) {
        std::string name = "group" + std::to_string(i);
        Group g = make(name.c_str(), 70000 + i, {"alice", "bob"});
        ASSERT_EQ(0, KORVGroupDBSet(db.get(), nullptr, 0, g.p)) << name;
        std::string upper = "GROUP" + std::to_string(i);
        std::string desc = name + ":" + std::string(100, 'd');
        ASSERT_EQ(0, KORVBDbSet(db->pGRPDesc, upper.c_str(), static_cast<int>(upper.size()) + 1, desc.c_str(),
                                static_cast<int>(desc.size()) + 1));
    }
    const GroupFiles before = installed();
    const ino_t ino = usertest::stat_of(KORV_GROUP_FILE).st_ino;
    mark_error();
    EXPECT_EQ(-1, KORVGroupDBDump(db.get()));
    EXPECT_EQ(KORL_ERR_NO_SPACE, KORLErrGet());
    EXPECT_EQ(before, installed());
    EXPECT_EQ(ino, usertest::stat_of(KORV_GROUP_FILE).st_ino);
    EXPECT_TRUE(temp_files().empty());
}

TEST(GroupFilesDump, GroupWithoutItsLineFailsBeforeAnyRename)
{
    install();
    Db db;
    ASSERT_TRUE(db);
    ASSERT_EQ(0, KORVBDbSet(db->pGRPGID, "070000", 7, "GHOST", 6));
    mark_error();
    EXPECT_EQ(-1, KORVGroupDBDump(db.get()));
    EXPECT_EQ(KORL_ERR_NOT_FOUND, KORLErrGet());
    EXPECT_TRUE(syslog_contains("SzKORLSzHashGetValue(GHOST) failed"));
    EXPECT_EQ(GroupFiles(), installed());
    EXPECT_TRUE(temp_files().empty());
}

class GroupDbSet : public testing::Test {
protected:
    void SetUp() override
    {
        GroupFiles g;
        // Two groups share a gid.
        g.group = "#$_@GID__INDEX@_$65601$\nroot:x:0:\nftp:x:21:\nsmmsp:x:25:admin\nusers:x:100:\n"
                  "staff:x:65600:alice,bob\ntwin:x:65600:bob\ndevs:x:65601:bob\n";
        install(g);
        db_.open();
        ASSERT_TRUE(db_);
    }
    // Every record of every store, to see that a refused call changed nothing.
    std::string everything()
    {
        return walk(db_->pGRPName) + "--\n" + walk(db_->pGRPGID) + "--\n" + walk(db_->pGRPDesc);
    }
    Db db_{false};
};

TEST_F(GroupDbSet, CreateUpdateRenameAndDeleteKeepGroupsSharingTheGid)
{
    Group team = make("team", 65600, {"alice", "ghost", "nobody"});
    ASSERT_EQ(0, KORVGroupDBSet(db_.get(), nullptr, 0, team.p));
    EXPECT_EQ("team:x:65600:alice", stored(db_->pGRPName, "TEAM"));
    // Update in place with another gid: only this group's id record moves.
    Group staff = make("staff", 65700, {"bob"});
    ASSERT_EQ(0, KORVGroupDBSet(db_.get(), "STAFF", 5, staff.p));
    EXPECT_EQ("staff:x:65700:bob", stored(db_->pGRPName, "STAFF"));
    EXPECT_EQ("The staff", stored(db_->pGRPDesc, "STAFF").substr(6));
    // Rename: the description follows, the other groups of gid 65600 stay.
    Group crew = make("Crew", 65700, {"alice"});
    ASSERT_EQ(0, KORVGroupDBSet(db_.get(), "STAFF", 5, crew.p));
    EXPECT_EQ("<absent>", stored(db_->pGRPName, "STAFF"));
    EXPECT_EQ("<absent>", stored(db_->pGRPDesc, "STAFF"));
    EXPECT_EQ("Crew:The staff", stored(db_->pGRPDesc, "CREW"));
    ASSERT_EQ(0, KORVGroupDBDelete(db_.get(), "TEAM", 4));
    EXPECT_EQ(
        "065600=TWIN\n"
        "065601=DEVS\n"
        "065700=CREW\n",
        walk(db_->pGRPGID).substr(walk(db_->pGRPGID).find("065600")));
    ASSERT_EQ(0, KORVGroupDBDump(db_.get()));
    EXPECT_EQ(
        "#$_@GID__INDEX@_$65601$\nroot:x:0:\nftp:x:21:\nsmmsp:x:25:admin\nusers:x:100:\n"
        "twin:x:65600:bob\ndevs:x:65601:bob\nCrew:x:65700:alice\n",
        read_file(KORV_GROUP_FILE));
    EXPECT_EQ("devs:Developers: all of them\nCrew:The staff\n", read_file(KORV_GROUP_DESC_FILE));
}

TEST_F(GroupDbSet, SystemGroups)
{
    // Updated in place under their own name, keeping their id record.
    Group ftp = make("ftp", 22, {"alice"});
    ASSERT_EQ(0, KORVGroupDBSet(db_.get(), "FTP", 3, ftp.p));
    EXPECT_EQ("ftp:x:22:alice", stored(db_->pGRPName, "FTP"));
    EXPECT_EQ("FTP", stored(db_->pGRPGID, "000021"));
    EXPECT_EQ("<absent>", stored(db_->pGRPGID, "000022"));

    const std::string before = everything();
    struct {
        const char *name;
        const char *old;
        int gid;
        int code;
    } refused[] = {
        {"Renamed", "FTP", 21, KORV_ERR_GROUP_SYSTEM},
        {"users", "USERS", 100, KORV_ERR_GROUP_SYSTEM},
        {"bad+name", "DEVS", 65601, KORV_ERR_GROUP_INVALID_NAME},
        {"CORP\\x", "DEVS", 65601, KORV_ERR_GROUP_INVALID_NAME},
        {"devs", "GHOST", 65601, KORV_ERR_GROUP_NOT_FOUND},
    };
    for (const auto &c : refused) {
        Group g = make(c.name, c.gid);
        mark_error();
        EXPECT_EQ(-1, KORVGroupDBSet(db_.get(), c.old, static_cast<int>(strlen(c.old)), g.p)) << c.name;
        EXPECT_EQ(c.code, KORLErrGet()) << c.name;
        EXPECT_EQ(before, everything()) << c.name;
    }
    mark_error();
    EXPECT_EQ(-1, KORVGroupDBDelete(db_.get(), "USERS", 5));
    EXPECT_EQ(KORV_ERR_GROUP_SYSTEM, KORLErrGet());
    mark_error();
    EXPECT_EQ(-1, KORVGroupDBDelete(db_.get(), "GHOST", 5));
    EXPECT_EQ(KORV_ERR_GROUP_NOT_FOUND, KORLErrGet());
    EXPECT_EQ(before, everything());
}

TEST_F(GroupDbSet, NewLineIsMadeBeforeTheOldGroupGoes)
{
    // A description that cannot be carried to the new name: nothing is removed.
    ASSERT_EQ(0, KORVBDbSet(db_->pGRPDesc, "DEVS", 5, "broken", 7));
    const std::string before = everything();
    Group g = make("coders", 65601);
    mark_error();
    EXPECT_EQ(-1, KORVGroupDBSet(db_.get(), "DEVS", 4, g.p));
    EXPECT_EQ(KORL_ERR_MALFORMED, KORLErrGet());
    EXPECT_EQ(before, everything());
}

TEST_F(GroupDbSet, CheckExistsAndWalk)
{
    char name[16];
    EXPECT_EQ(1, KORVGroupDBCheckExists(db_.get(), "STAFF", 5, name, sizeof name));
    EXPECT_STREQ("staff", name);
    EXPECT_EQ(1, KORVGroupDBCheckExists(db_.get(), "STAFF", 5, nullptr, 0));
    mark_error();
    EXPECT_EQ(0, KORVGroupDBCheckExists(db_.get(), "NOPE", 4, name, sizeof name));
    EXPECT_EQ(KORV_ERR_GROUP_NOT_FOUND, KORLErrGet());
    // Too small a buffer: nothing usable is copied.
    mark_error();
    EXPECT_EQ(0, KORVGroupDBCheckExists(db_.get(), "STAFF", 5, name, 5));
    EXPECT_EQ(usertest::kUntouched, KORLErrGet());
    EXPECT_STREQ("", name);
    ASSERT_EQ(0, KORVBDbSet(db_->pGRPName, "BROKEN", 7, "broken", 7));
    mark_error();
    EXPECT_EQ(0, KORVGroupDBCheckExists(db_.get(), "BROKEN", 6, name, sizeof name));
    EXPECT_EQ(KORL_ERR_MALFORMED, KORLErrGet());
    ASSERT_EQ(0, KORVBDbDelete(db_->pGRPName, "BROKEN", 7));

    // Without system groups the walk shows "users" but not ftp, root or smmsp.
    auto names = [&](int includeSystem) {
        Db fresh;
        Group g;
        std::vector<std::string> out;
        while (KORVGroupDBGetByCursor(fresh.get(), &g.p, KORV_GROUP_TYPE_LOCAL, includeSystem) == 0)
            out.push_back(g->szName);
        EXPECT_EQ(KORL_ERR_BDB_END, KORLErrGet());
        return out;
    };
    db_.close();
    EXPECT_EQ((std::vector<std::string>{"devs", "staff", "twin", "users"}), names(0));
    EXPECT_EQ((std::vector<std::string>{"devs", "ftp", "root", "smmsp", "staff", "twin", "users"}), names(1));
}

TEST(GroupStoreSet, EditedFileRebuildsTheSet)
{
    install();
    Db db;
    ASSERT_TRUE(db);
    GroupFiles g;
    g.group += "extra:x:70000:alice\n";
    write_file(KORV_GROUP_FILE, g.group);
    struct timeval tv[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(0, utimes(KORV_GROUP_FILE, tv));
    EXPECT_EQ(1, KORVGroupDBCheckAndRebuild(db.addr()));
    EXPECT_EQ("extra:x:70000:alice", stored(db->pGRPName, "EXTRA"));
    // Store files of the device's mode; an empty one counts as missing.
    for (const char *s : {".name.0947", ".id.0947", ".desc.0947"})
        EXPECT_EQ(0644u, usertest::stat_of(std::string(KORV_GROUP_DB_PREFIX) + s).st_mode & 07777) << s;
    db.close();
    ASSERT_EQ(0, truncate("/tmp/.db.group.desc.0947", 0));
    KORVGROUPDB *set = nullptr;
    EXPECT_EQ(1, KORVGroupDBOpenFile(&set, KORV_GROUP_DB_PREFIX));
    EXPECT_EQ("staff:The staff", stored(set->pGRPDesc, "STAFF"));
    KORVGroupDBClose(set);
}

}  // namespace
