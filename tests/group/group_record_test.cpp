// The group record, its line in /etc/group, and the group-name rule.
#include <string.h>

#include "group_test_util.h"

using namespace grouptest;

namespace {

TEST(GroupRecord, AllocKeepsOrderAndDuplicatesDropsNobodyAndEmpty)
{
    Group g = make("Staff", 65600, {"bob", "nobody", "", "alice", "bob"});
    EXPECT_STREQ("Staff", g->szName);
    EXPECT_EQ(65600, g->gid);
    EXPECT_EQ(KORV_GROUP_TYPE_LOCAL, g->groupType);
    EXPECT_EQ((std::vector<std::string>{"bob", "alice", "bob"}), g.members());
    // Every pointer of the record lies in its own block.
    auto *begin = reinterpret_cast<char *>(g.p);
    for (char **m = g->ppszMembers; *m; ++m) {
        EXPECT_GE(*m, begin);
        EXPECT_LT(*m, begin + g->cbAlloc);
    }
    EXPECT_GE(g->szName, begin);
    EXPECT_LT(g->szName, begin + g->cbAlloc);

    Group domain = make("CORP\\admins", -1);
    EXPECT_EQ(KORV_GROUP_TYPE_DOMAIN, domain->groupType);
    EXPECT_TRUE(domain.members().empty());
}

TEST(GroupRecord, ReusedBlockRefusesItsOwnTexts)
{
    Group g = make("staff", 65600, {"alice"});
    // Texts inside the block would move with it.
    char *own[] = {g->ppszMembers[0], nullptr};
    mark_error();
    EXPECT_EQ(-1, KORVGroupAlloc2(&g.p, "staff", 65600, own));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    mark_error();
    char *none[] = {nullptr};
    EXPECT_EQ(-1, KORVGroupAlloc2(&g.p, g->szName, 65600, none));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    // A larger record grows the same block.
    std::string longName(200, 'm');
    char *many[] = {longName.data(), longName.data(), nullptr};
    ASSERT_EQ(0, KORVGroupAlloc2(&g.p, "devs", 65601, many));
    EXPECT_STREQ("devs", g->szName);
    EXPECT_EQ(2u, g.members().size());
    EXPECT_EQ(longName, g.members()[1]);
}

TEST(GroupRecord, UnpackLines)
{
    Group g;
    ASSERT_EQ(0, KORVGroupDBUnpack("staff:*:65600:alice,,nobody,bob", &g.p));
    EXPECT_STREQ("staff", g->szName);
    EXPECT_EQ(65600, g->gid);
    EXPECT_EQ((std::vector<std::string>{"alice", "bob"}), g.members());
    ASSERT_EQ(0, KORVGroupDBUnpack("solo:x:70000:", &g.p));
    EXPECT_TRUE(g.members().empty());

    struct {
        const char *line;
        int code;
    } bad[] = {
        {"staff:x:65600", KORL_ERR_MALFORMED},
        {"staff:x:65600:a:b", KORL_ERR_MALFORMED},
        {":x:65600:alice", KORV_ERR_GROUP_INVALID_NAME},
    };
    for (const auto &c : bad) {
        mark_error();
        EXPECT_EQ(nullptr, KORVGroupAlloc(c.line)) << c.line;
        EXPECT_EQ(c.code, KORLErrGet()) << c.line;
    }
}

TEST(GroupRecord, PackFromUnixNormalisesAndNeverCuts)
{
    usertest::install();
    // Members that exist only: nobody, repeats and unknown names go, stored case is used.
    std::string a = "ALICE", n = "nobody", ghost = "ghost", b = "bob", a2 = "alice";
    char *mem[] = {a.data(), n.data(), ghost.data(), b.data(), a2.data(), nullptr};
    char name[] = "staff", pw[] = "secret";
    struct group gr = {name, pw, 65600, mem};
    char *line = nullptr;
    int cb = 0;
    ASSERT_EQ(static_cast<int>(strlen("staff:x:65600:alice,bob")) + 1, KORVGroupDBPackFromUnix(&gr, &line, &cb));
    EXPECT_STREQ("staff:x:65600:alice,bob", line);
    // A member list long after normalising is sized from what it became.
    std::vector<std::string> users;
    usertest::Db db;
    ASSERT_TRUE(db);
    for (int i = 0; i < 60; i++) {
        usertest::User u;
        std::string un = "member_with_a_long_name_" + std::to_string(i);
        ASSERT_EQ(0, KORVUserAlloc(&u.p, un.c_str(), "pw", 1100 + i, 100, nullptr, nullptr, nullptr, -1, 0,
                                   nullptr, 0));
        ASSERT_EQ(0, KORVUserDBSet(db.get(), nullptr, 0, u.p));
        users.push_back(un);
    }
    ASSERT_EQ(0, KORVUserDBDump(db.get()));
    db.open();
    std::vector<char *> arr;
    for (std::string &u : users)
        arr.push_back(u.data());
    arr.push_back(nullptr);
    gr.gr_mem = arr.data();
    std::string expect = "staff:x:65600:";
    for (size_t i = 0; i < users.size(); i++)
        expect += (i ? "," : "") + users[i];
    ASSERT_EQ(static_cast<int>(expect.size()) + 1, KORVGroupDBPackFromUnix(&gr, &line, &cb));
    EXPECT_EQ(expect, line);
    free(line);

    // No members at all, and a name that is no group line's.
    gr.gr_mem = nullptr;
    line = nullptr;
    cb = 0;
    ASSERT_GT(KORVGroupDBPackFromUnix(&gr, &line, &cb), 0);
    EXPECT_STREQ("staff:x:65600:", line);
    free(line);
    char empty[] = "";
    gr.gr_name = empty;
    mark_error();
    EXPECT_EQ(-1, KORVGroupDBPackFromUnix(&gr, &line, &cb));
    EXPECT_EQ(KORV_ERR_GROUP_INVALID_NAME, KORLErrGet());
}

TEST(GroupRecord, ToUnixGroupPointsIntoTheRecord)
{
    Group g = make("staff", 65600, {"alice", "bob"});
    struct group gr {};
    ASSERT_EQ(0, KORVGroupToUnixGroup(g.p, &gr));
    EXPECT_EQ(g->szName, gr.gr_name);
    EXPECT_STREQ("x", gr.gr_passwd);
    EXPECT_EQ(65600u, gr.gr_gid);
    EXPECT_EQ(g->ppszMembers, gr.gr_mem);
    mark_error();
    EXPECT_EQ(-1, KORVGroupToUnixGroup(nullptr, &gr));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
}

TEST(GroupName, Rule)
{
    struct {
        const char *name;
        int valid;
    } cases[] = {
        {"staff", 1},
        {"Team 2.0_x-y", 1},
        {"fifteen_chars__", 1},
        {"sixteen_chars___", 0},
        {"\xc3\xa9quipe", 1},                                   // non-ASCII letters
        {"\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\xe3\x81\xa7\xe3\x81\x99", 1},  // 5 characters in 15 bytes
        {"-staff", 0},
        {" staff", 0},
        {"staff ", 0},
        {"a+b", 0},
        {"a:b", 0},
        {"", 0},
        {nullptr, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.valid, KORVGroupIsValidName(c.name)) << (c.name ? c.name : "(null)");
    EXPECT_EQ(0, GroupNameTypeGet(nullptr));
    EXPECT_EQ(KORV_GROUP_TYPE_LOCAL, GroupNameTypeGet("staff"));
    EXPECT_EQ(KORV_GROUP_TYPE_DOMAIN, GroupNameTypeGet("CORP\\staff"));
}

}  // namespace
