// A batch of user renames carried into the groups and the shares, and the domain users that the
// shares' write lists name.
#include <unistd.h>

#include "../share/share_test_util.h"

using namespace korvtest;
using usertest::mark_error;

namespace {

// Accounts with robert beside bob, so that bob can become robert.
void installWithRobert(const std::string &smbConf = sharetest::kSmbConf)
{
    usertest::Accounts a;
    a.passwd += "robert:x:1040:100::/h:/bin/csh\n";
    a.shadow += "robert:*:1:0:99999:7:::\n";
    usertest::install(a);
    grouptest::GroupFiles g;
    write_file(KORV_GROUP_FILE, g.group);
    write_file(KORV_GROUP_DESC_FILE, g.desc);
    write_file(KORV_SMB_CONF, smbConf);
}

struct Table {
    PKORLSZHASH h = PshKORLSzHashAlloc(0);
    Table(std::initializer_list<std::pair<const char *, const char *>> pairs)
    {
        for (const auto &[from, to] : pairs)
            KORLSzHashSetValue(&h, from, to);
    }
    ~Table() { KORLSzHashFree(h); }
};

TEST(UserModifyGroup, MembersRenamedAndDropped)
{
    installWithRobert();
    Table renames{{"BOB", "robert"}, {"ALICE", ""}};
    ASSERT_EQ(0, KORVUserModifyGroup(renames.h));
    EXPECT_EQ("#$_@GID__INDEX@_$65601$\nroot:x:0:\nftp:x:21:\nsmmsp:x:25:admin\nusers:x:100:\n"
              "staff:x:65600:robert\ndevs:x:65601:robert\n",
              read_file(KORV_GROUP_FILE));
    EXPECT_EQ(grouptest::GroupFiles().desc, read_file(KORV_GROUP_DESC_FILE));
}

TEST(UserModifyGroup, TableNamingNoMemberLeavesTheFilesAlone)
{
    installWithRobert();
    const ino_t ino = usertest::stat_of(KORV_GROUP_FILE).st_ino;
    Table renames{{"CAROL", "dora"}};
    ASSERT_EQ(0, KORVUserModifyGroup(renames.h));
    EXPECT_EQ(ino, usertest::stat_of(KORV_GROUP_FILE).st_ino);
    mark_error();
    EXPECT_EQ(-1, KORVUserModifyGroup(nullptr));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
}

TEST(UserModifySmbConf, ListsRenamedAndSmbConfWritten)
{
    installWithRobert();
    Table renames{{"BOB", "robert"}, {"ALICE", ""}};
    ASSERT_EQ(0, KORVUserModifySmbConf(renames.h));
    sharetest::Share data = sharetest::get("Data");
    EXPECT_STREQ("robert", data->szInvalidUsers);
    EXPECT_STREQ("", data->szWriteList);
    const std::string conf = read_file(KORV_SMB_CONF);
    EXPECT_NE(std::string::npos, conf.find("[Data]\n\tinvalid users=nobody,robert,nobody\n"
                                           "\tvalid users=nobody,nobody\n"))
        << conf;
    EXPECT_NE(std::string::npos, conf.find("\twrite list=nobody,nobody\n\twriteable=no\n[public]")) << conf;
    // A table that names no listed user still writes smb.conf anew.
    const ino_t ino = usertest::stat_of(KORV_SMB_CONF).st_ino;
    Table none{{"CAROL", "dora"}};
    ASSERT_EQ(0, KORVUserModifySmbConf(none.h));
    EXPECT_NE(ino, usertest::stat_of(KORV_SMB_CONF).st_ino);
    EXPECT_EQ(conf, read_file(KORV_SMB_CONF));
}

TEST(UserModifySmbConf, ListThatCannotBeRenamedKeepsItsText)
{
    installWithRobert();
    {
        sharetest::Db db;
        ASSERT_TRUE(db);
        // A deny list holding a name that cannot be upper-cased, beside a write list that would change.
        KORVSHARE r = sharetest::in({.name = "Data", .path = "/volume1/Data", .invalid = "bob,\xff\xfe",
                                     .write = "bob", .fType = KORV_SHARE_NO_ACCESS});
        ASSERT_EQ(0, KORVShareDBSet(db.get(), "Data", &r));
        ASSERT_EQ(0, KORVShareDBDump(db.get()));
    }
    const std::string before = read_file(KORV_SMB_CONF);
    Table renames{{"BOB", "robert"}};
    mark_error();
    EXPECT_EQ(-1, KORVUserModifySmbConf(renames.h));
    sharetest::Share data = sharetest::get("Data");
    EXPECT_STREQ("bob,\xff\xfe", data->szInvalidUsers);
    EXPECT_STREQ("bob", data->szWriteList);
    EXPECT_EQ(before, read_file(KORV_SMB_CONF));
}

// smb.conf whose shares' write lists name domain users, directly and through groups.
void installDomain(const std::string &writeLists)
{
    usertest::install();
    grouptest::GroupFiles g;
    write_file(KORV_GROUP_FILE, g.group);
    write_file(KORV_GROUP_DESC_FILE, g.desc);
    write_file(KORV_SMB_CONF, "[global]\n\tworkgroup=CORP\n\tsecurity=domain\n");
    write_file("/etc/korvinfo.conf", "codepage=\"enu\"\nrunsamba=\"yes\"\n");
    write_file(KORV_DOMAIN_USER_FILE, "CORP\\dave:1\nCORP\\erin:2\nCORP\\frank:3\n");
    sharetest::Db db;
    ASSERT_TRUE(db);
    size_t from = 0;
    for (int i = 0; from <= writeLists.size(); i++) {
        size_t at = writeLists.find('|', from);
        std::string list = writeLists.substr(from, at == std::string::npos ? std::string::npos : at - from);
        std::string name = "Share" + std::to_string(i);
        KORVSHARE r = sharetest::in({.name = name.c_str(), .path = "/volume1/x", .write = list.c_str()});
        ASSERT_EQ(0, KORVShareDBSet(db.get(), nullptr, &r));
        if (at == std::string::npos)
            break;
        from = at + 1;
    }
    ASSERT_EQ(0, KORVShareDBDump(db.get()));
}

std::vector<std::string> pushed(int *count, int kinds = 0)
{
    PKORLSZLIST list = PslKORLSzListAlloc(0);
    *count = kinds ? KORVUserEnum(&list, kinds) : KORVUserPushDUserUsed(&list);
    std::vector<std::string> out;
    for (int i = 0; i < list->nItem; i++)
        out.push_back(SzKORLSzListGet(list, i));
    KORLSzListFree(list);
    return out;
}

TEST(UserPushDUserUsed, EachDomainUserOnce)
{
    installDomain("CORP\\dave,alice,@staff|CORP\\erin,CORP\\dave");
    int count;
    EXPECT_EQ((std::vector<std::string>{"CORP\\dave", "CORP\\erin"}), pushed(&count));
    EXPECT_EQ(2, count);
    // Through KORVUserEnum: the domain users in use first, then the local users.
    std::vector<std::string> all = pushed(&count, KORV_USER_ENUM_DOMAIN_USED | KORV_USER_ENUM_LOCAL);
    EXPECT_EQ(7, count);
    ASSERT_EQ(7u, all.size());
    EXPECT_EQ("CORP\\dave", all[0]);
    EXPECT_EQ("admin", all[2]);
}

TEST(UserPushDUserUsed, DomainUsersGroupBringsThemAll)
{
    installDomain("CORP\\erin|@CORP\\domain users,CORP\\ghost|CORP\\zed");
    int count;
    // The walk ends once every domain user is in.
    EXPECT_EQ((std::vector<std::string>{"CORP\\erin", "CORP\\dave", "CORP\\frank"}), pushed(&count));
    EXPECT_EQ(3, count);
}

TEST(UserPushDUserUsed, NeedsTheShareDatabase)
{
    usertest::install();
    int count;
    mark_error();
    EXPECT_TRUE(pushed(&count).empty());
    EXPECT_EQ(-1, count);
    EXPECT_EQ(KORL_ERR_OPEN, KORLErrGet());
}

}  // namespace
