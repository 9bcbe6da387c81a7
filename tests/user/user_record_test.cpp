// The user record, its passwd line, the name rule, the domain-user list and samba's domain settings.
#include <string.h>

#include <string>

#include "korv/hash.h"
#include "korv/wins.h"
#include "user/user_internal.h"
#include "user_test_util.h"

using namespace korvtest;
using namespace usertest;

namespace {

TEST(UserAlloc, StringsFollowTheHeader)
{
    User u;
    ASSERT_EQ(0, KORVUserAlloc(&u.p, "alice", nullptr, 1030, 100, "Alice", nullptr, "/bin/sh", -1, 0, nullptr, 1));
    const char *block = reinterpret_cast<const char *>(u.p);
    EXPECT_EQ(block + sizeof(KORVUSER), u->szName);
    // Absent texts read "" from inside the block: the NUL of the text copied before them.
    EXPECT_EQ(u->szName + 5, u->szPasswd);
    EXPECT_EQ(u->szGecos + 5, u->szHomeDir);
    EXPECT_STREQ("/bin/sh", u->szShell);
    EXPECT_EQ(u->szShell + 7, u->szMail);
    EXPECT_EQ(static_cast<int>(sizeof(KORVUSER) + 6 + 6 + 8), u->cbAlloc);
    EXPECT_EQ(KORV_USER_TYPE_LOCAL, u->userType);

    // Refilled in place; texts taken from the block itself are refused, since it may move.
    mark_error();
    EXPECT_EQ(-1, KORVUserAlloc(&u.p, u->szName, "pw", 1, 1, nullptr, nullptr, nullptr, -1, 0, nullptr, 0));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    EXPECT_STREQ("alice", u->szName);
    std::string longName(300, 'n');
    ASSERT_EQ(0, KORVUserAlloc(&u.p, ("CORP\\" + longName).c_str(), "", -1, -1, nullptr, nullptr, nullptr, -1, 0,
                               nullptr, 3));
    EXPECT_EQ(KORV_USER_TYPE_DOMAIN, u->userType);
    EXPECT_EQ("CORP\\" + longName, u->szName);
    for (const char *bad : {static_cast<const char *>(nullptr), ""}) {
        mark_error();
        EXPECT_EQ(-1, KORVUserAlloc(&u.p, bad, "", 0, 0, nullptr, nullptr, nullptr, -1, 0, nullptr, 0));
        EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    }
}

TEST(UserPack, PasswdLine)
{
    User u;
    ASSERT_EQ(0, KORVUserAlloc(&u.p, "bob", "secret", 1031, 100, nullptr, "/home/bob", nullptr, -1, 0, nullptr, 0));
    char *line = nullptr;
    int cb = 0;
    EXPECT_EQ(27, KORVUserDBPack(u.p, &line, &cb));
    EXPECT_STREQ("bob:x:1031:100::/home/bob:", line);
    EXPECT_EQ(27, cb);
    free(line);
    char stack[4];
    line = stack;
    cb = 0;
    mark_error();
    EXPECT_EQ(-1, KORVUserDBPack(u.p, &line, &cb));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    KORVUSER empty{};
    line = nullptr;
    EXPECT_EQ(-1, KORVUserDBPack(&empty, &line, &cb));
    EXPECT_EQ(KORV_ERR_USER_INVALID_NAME, KORLErrGet());
}

TEST(UserName, Rule)
{
    const struct {
        const char *name;
        int valid;
    } cases[] = {
        {"alice", 1},
        {"Bob Smith", 1},
        {"a.b-c_d", 1},
        {"\xC3\xA9mile", 1},
        {"\xE5\xB1\xB1\xE7\x94\xB0", 1},
        {"-alice", 0},
        {" alice", 0},
        {"alice ", 0},
        {"al@ce", 0},
        {"al:ce", 0},
        {"al\nce", 0},
        {"", 0},
        {nullptr, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.valid, KORVUserIsValidName(c.name)) << (c.name ? c.name : "null");
    EXPECT_EQ(1, KORVUserIsValidName(std::string(64, 'a').c_str()));
    EXPECT_EQ(0, KORVUserIsValidName(std::string(65, 'a').c_str()));
    // Characters, not bytes: 64 two-byte letters are a valid name.
    std::string wide;
    for (int i = 0; i < 64; i++)
        wide += "\xC3\xA9";
    EXPECT_EQ(1, KORVUserIsValidName(wide.c_str()));
    EXPECT_EQ(0, KORVUserIsValidName((wide + "e").c_str()));
}

TEST(UserGuestSupport, OnUnlessNo)
{
    // Read once: the process keeps the first answer.
    write_file("/etc.defaults/korvinfo.conf", "guestsupport=\"yes\"\n");
    EXPECT_EQ(1, KORVGuestSupport());
    write_file("/etc.defaults/korvinfo.conf", "guestsupport=\"no\"\n");
    EXPECT_EQ(1, KORVGuestSupport());
}

TEST(UserPushDUser, EachDomainUserOnce)
{
    PKORLSZLIST list = PslKORLSzListAlloc(0);
    PKORLSZHASH seen = PshKORLSzHashAlloc(0);
    EXPECT_EQ(0, korv::user::UserPushDUser("alice", &list, &seen));
    EXPECT_EQ(1, korv::user::UserPushDUser("CORP\\dave", &list, &seen));
    EXPECT_EQ(0, korv::user::UserPushDUser("CORP\\dave", &list, &seen));
    EXPECT_EQ(1, korv::user::UserPushDUser("CORP\\Dave", &list, &seen));
    EXPECT_EQ(2, list->nItem);
    mark_error();
    EXPECT_EQ(-1, korv::user::UserPushDUser(nullptr, &list, &seen));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    KORLSzListFree(list);
    KORLSzHashFree(seen);
}

TEST(WinsQuery, DomainModeAndName)
{
    const struct {
        const char *conf;
        int result;
        const char *name;
        int domain;
    } cases[] = {
        {"[global]\nworkgroup = WORK\nsecurity = user\n", 0, "WORK", 0},
        {"[global]\nworkgroup = CORP\nsecurity = domain\n", 0, "CORP", 1},
        {"[global]\nworkgroup = CORP\nrealm = CORP.EXAMPLE\nsecurity = ads\n", 0, "CORP.EXAMPLE", 1},
        {"[global]\nworkgroup = CORP\n", -1, "", 0},
        {"[global]\nsecurity = ads\nworkgroup = CORP\n", -1, "", 0},
        {"[share]\nsecurity = domain\n", -1, "", 0},
    };
    write_file("/etc/korvinfo.conf", "runsamba=\"yes\"\n");
    for (const auto &c : cases) {
        write_file(KORV_SMB_CONF, c.conf);
        char name[8] = "old";
        int domain = -1, running = -1;
        EXPECT_EQ(c.result, KORVWinsQuery1(name, sizeof name, &domain, &running)) << c.conf;
        if (c.result == 0) {
            EXPECT_EQ(std::string(c.name).substr(0, 7), name) << c.conf;
            EXPECT_EQ(c.domain, domain) << c.conf;
            EXPECT_EQ(1, running);
        }
    }
    write_file("/etc/korvinfo.conf", "runsamba=\"no\"\n");
    EXPECT_EQ(0, SambaIsRunning());
}

}  // namespace
