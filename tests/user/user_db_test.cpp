// Users read, stored, renamed and deleted in the user stores, free uids and listings.
#include <string.h>
#include <time.h>

#include <string>

#include "korv/encoding.h"
#include "korv/file_lock.h"
#include "korv_crypt.h"
#include "user_test_util.h"

using namespace korvtest;
using namespace usertest;

namespace {

class UserDb : public testing::Test {
protected:
    void SetUp() override
    {
        install();
        db_.open();
        ASSERT_TRUE(db_);
    }
    // A record to store, with the fields tests change most.
    void make(const char *name, const char *password, int uid, const char *gecos = nullptr, const char *home = nullptr,
              const char *shell = nullptr, const char *mail = nullptr)
    {
        ASSERT_EQ(0, KORVUserAlloc(&u_.p, name, password, uid, 100, gecos, home, shell, -1, 0, mail, 0));
    }
    std::string shadowHash(const char *key)
    {
        std::string line = stored(db_->pPWDShadow, key);
        size_t a = line.find(':');
        return line.substr(a + 1, line.find(':', a + 1) - a - 1);
    }
    std::string smbField(const char *key, int field)
    {
        std::string line = stored(db_->pPWDSMB, key);
        size_t from = 0;
        for (int i = 0; i < field; i++)
            from = line.find(':', from) + 1;
        return line.substr(from, line.find(':', from) - from);
    }
    // Every record of every store, to see that a refused call changed nothing.
    std::string everything()
    {
        std::string out;
        for (KORVBDB *s : {db_->pPWDName, db_->pPWDUID, db_->pPWDSMB, db_->pPWDKorvser, db_->pPWDShadow}) {
            for (const auto &[k, v] : records(s))
                out += k + "=" + v + "\n";
            out += "--\n";
        }
        return out;
    }
    Db db_{false};
    User u_;
};

TEST_F(UserDb, GetAssemblesTheStores)
{
    User alice;
    ASSERT_EQ(0, KORVUserDBGet(db_.get(), "ALICE", &alice.p));
    EXPECT_STREQ("alice", alice->szName);
    EXPECT_STREQ("$1$Al$bH3p8p6N0B5p3a9iQ2Yw1.", alice->szPasswd);
    EXPECT_EQ(1030, alice->uid);
    EXPECT_EQ(100, alice->gid);
    EXPECT_STREQ("Alice: the first", alice->szGecos);
    EXPECT_STREQ("/var/services/homes/alice", alice->szHomeDir);
    EXPECT_STREQ("/bin/csh", alice->szShell);
    EXPECT_EQ(20000, alice->expireDay);
    EXPECT_EQ(1, alice->cannotChangePasswd);  // minimum 100000 >= maximum 99999
    EXPECT_STREQ("alice@example.com", alice->szMail);
    EXPECT_EQ(1, alice->privilege);
    EXPECT_EQ(KORV_USER_TYPE_LOCAL, alice->userType);

    // admin always has every privilege and no mail, whatever its misc record says.
    User admin;
    ASSERT_EQ(0, KORVUserDBGet(db_.get(), "ADMIN", &admin.p));
    EXPECT_EQ(31, admin->privilege);
    EXPECT_STREQ("", admin->szMail);
    // No misc record: privilege 0, no mail.
    User root;
    ASSERT_EQ(0, KORVUserDBGet(db_.get(), "ROOT", &root.p));
    EXPECT_EQ(0, root->privilege);
    EXPECT_STREQ("", root->szMail);
    EXPECT_EQ(-1, root->expireDay);
    EXPECT_EQ(0, root->cannotChangePasswd);
}

TEST_F(UserDb, GetFailures)
{
    User u;
    mark_error();
    EXPECT_EQ(-1, KORVUserDBGet(db_.get(), "CAROL", &u.p));
    EXPECT_EQ(KORV_ERR_USER_NOT_FOUND, KORLErrGet());
    // A local user needs its shadow record.
    ASSERT_EQ(0, KORVBDbDelete(db_->pPWDShadow, "BOB", 4));
    mark_error();
    EXPECT_EQ(-1, KORVUserDBGet(db_.get(), "BOB", &u.p));
    EXPECT_EQ(KORL_ERR_NOT_FOUND, KORLErrGet());
    // Stored lines of the wrong shape, and empty shadow limits.
    struct {
        KORVBDB *store;
        const char *line;
        int code;
    } cases[] = {
        {db_->pPWDName, "alice:x:1030:100::/home", KORL_ERR_MALFORMED},
        {db_->pPWDName, ":x:1030:100:::", KORV_ERR_USER_INVALID_NAME},
        {db_->pPWDName, "alice:x:1030:100::/home:/bin/sh:", KORL_ERR_MALFORMED},
        {db_->pPWDShadow, "alice:hash:1:2:3:7::", KORL_ERR_MALFORMED},
        {db_->pPWDShadow, "alice:hash:1:2:3:7::::", KORL_ERR_MALFORMED},
        {db_->pPWDShadow, ":hash:1:2:3:7:::", KORV_ERR_USER_INVALID_NAME},
        {db_->pPWDKorvser, "alice-1", KORL_ERR_MALFORMED},
    };
    for (const auto &c : cases) {
        Db fresh;
        KORVBDB *store = c.store == db_->pPWDName ? fresh->pPWDName
                         : c.store == db_->pPWDShadow ? fresh->pPWDShadow
                                                      : fresh->pPWDKorvser;
        const std::string original = stored(store, "ALICE");
        ASSERT_EQ(0, KORVBDbSet(store, "ALICE", 6, c.line, static_cast<int>(strlen(c.line)) + 1));
        mark_error();
        EXPECT_EQ(-1, KORVUserDBGet(fresh.get(), "ALICE", &u.p)) << c.line;
        EXPECT_EQ(c.code, KORLErrGet()) << c.line;
        ASSERT_EQ(0, KORVBDbSet(store, "ALICE", 6, original.c_str(), static_cast<int>(original.size()) + 1));
    }
    const char *open = "bob:$1$Bo$x:15500::::::";
    ASSERT_EQ(0, KORVBDbSet(db_->pPWDShadow, "BOB", 4, open, static_cast<int>(strlen(open)) + 1));
    ASSERT_EQ(0, KORVUserDBGet(db_.get(), "BOB", &u.p));
    EXPECT_EQ(1, u->cannotChangePasswd);  // both limits read -1

    // Numeric fields read as atoi and atol read them, whatever their form.
    for (const char *field : {"1031", "0001031", "4294967295", "-5", "+7", " 12", "12x", ""}) {
        std::string line = std::string("bob:x:") + field + ":" + field + "::/var/services/homes/bob:/bin/csh";
        std::string shadow = std::string("bob:$1$Bo$x:1:") + field + ":99999:7::" + field + ":";
        ASSERT_EQ(0, KORVBDbSet(db_->pPWDName, "BOB", 4, line.c_str(), static_cast<int>(line.size()) + 1));
        ASSERT_EQ(0, KORVBDbSet(db_->pPWDShadow, "BOB", 4, shadow.c_str(), static_cast<int>(shadow.size()) + 1));
        ASSERT_EQ(0, KORVUserDBGet(db_.get(), "BOB", &u.p)) << field;
        long n = *field ? atol(field) : -1;
        EXPECT_EQ(atoi(field), u->uid) << field;
        EXPECT_EQ(atoi(field), u->gid) << field;
        EXPECT_EQ(static_cast<int>(n), u->expireDay) << field;
        EXPECT_EQ(n >= 99999 ? 1 : 0, u->cannotChangePasswd) << field;
    }

    // Escapes are decoded in a gecos of any length; one without escapes is taken as stored.
    for (size_t n : {size_t(3), size_t(400)}) {
        std::string plain(n, 'g'), escaped;
        for (size_t i = 0; i < n; i++)
            escaped += i % 2 ? ";," : ";;";
        for (const auto &[gecos, want] : {std::pair{plain, plain}, std::pair{escaped, std::string()}}) {
            std::string decoded = want;
            if (gecos == escaped) {
                for (size_t i = 0; i < n; i++)
                    decoded += i % 2 ? ':' : ';';
            }
            std::string line = "bob:x:1031:100:" + gecos + ":/var/services/homes/bob:/bin/csh";
            ASSERT_EQ(0, KORVBDbSet(db_->pPWDName, "BOB", 4, line.c_str(), static_cast<int>(line.size()) + 1));
            ASSERT_EQ(0, KORVUserDBGet(db_.get(), "BOB", &u.p)) << gecos;
            EXPECT_EQ(decoded, u->szGecos);
            EXPECT_STREQ("/var/services/homes/bob", u->szHomeDir);
            EXPECT_STREQ("/bin/csh", u->szShell);
            EXPECT_EQ(1031, u->uid);
        }
    }
}

TEST_F(UserDb, CreateWithDefaults)
{
    // A record filled by hand, as the updater does: absent texts are null.
    char name[] = "Carol", gecos[] = "Carol: \"C\"; Smith";
    KORVUSER rec{};
    rec.szName = name;
    rec.szGecos = gecos;
    rec.uid = 1040;
    rec.gid = 100;
    rec.expireDay = -1;
    const KORVUSER given = rec;
    time_t now = time(nullptr);
    KORVUSER *user = &rec;
    ASSERT_EQ(0, KORVUserDBSet(db_.get(), nullptr, 0, user));
    EXPECT_EQ("Carol:x:1040:100:Carol;, \"C\";; Smith:/var/services/homes/Carol:/bin/csh", stored(db_->pPWDName, "CAROL"));
    EXPECT_EQ("CAROL", stored(db_->pPWDUID, "001040"));
    EXPECT_EQ("Carol:0:", stored(db_->pPWDKorvser, "CAROL"));
    std::string hash = shadowHash("CAROL");
    EXPECT_EQ(0u, hash.rfind("$1$", 0));
    EXPECT_EQ("Carol:" + hash + ":" + std::to_string(now / 86400) + ":0:99999:7:::", stored(db_->pPWDShadow, "CAROL"));
    // The published hashes of the empty password, and the time of the change.
    std::string smb = stored(db_->pPWDSMB, "CAROL");
    const std::string head =
        "Carol:1040:AAD3B435B51404EEAAD3B435B51404EE:31D6CFE0D16AE931B73C59D7E0C089C0:[U          ]:LCT-";
    ASSERT_EQ(head.size() + 9, smb.size());
    EXPECT_EQ(head, smb.substr(0, head.size()));
    EXPECT_EQ(':', smb.back());
    EXPECT_NEAR(static_cast<double>(now), static_cast<double>(strtoul(smb.substr(head.size(), 8).c_str(), nullptr, 16)),
                2);
    // The caller's record is read, never written: the defaults were the call's own.
    EXPECT_EQ(0, memcmp(&given, &rec, sizeof rec));
    EXPECT_EQ(nullptr, rec.szHomeDir);
    EXPECT_EQ(nullptr, rec.szShell);
    EXPECT_EQ(nullptr, rec.szPasswd);
    EXPECT_EQ(nullptr, rec.szMail);
    EXPECT_EQ(gecos, rec.szGecos);

    // What was stored reads back as given.
    User back;
    ASSERT_EQ(0, KORVUserDBGet(db_.get(), "CAROL", &back.p));
    EXPECT_STREQ("Carol: \"C\"; Smith", back->szGecos);
    EXPECT_EQ(hash, back->szPasswd);
    EXPECT_EQ(-1, back->expireDay);
}

TEST_F(UserDb, UpdateLeavesTheGivenRecordAsItWas)
{
    char name[] = "alice";
    KORVUSER rec{};
    rec.szName = name;
    rec.uid = 1030;
    rec.gid = 100;
    rec.expireDay = -1;
    const KORVUSER given = rec;
    ASSERT_EQ(0, KORVUserDBSet(db_.get(), "ALICE", 5, &rec));
    EXPECT_EQ("alice:x:1030:100::/var/services/homes/alice:/bin/csh", stored(db_->pPWDName, "ALICE"));
    EXPECT_EQ("alice:0:", stored(db_->pPWDKorvser, "ALICE"));
    EXPECT_EQ(0, memcmp(&given, &rec, sizeof rec));
    EXPECT_EQ(nullptr, rec.szHomeDir);
    EXPECT_EQ(nullptr, rec.szShell);
    EXPECT_EQ(nullptr, rec.szPasswd);
    EXPECT_EQ(nullptr, rec.szMail);
}

TEST_F(UserDb, ShadowLimitsAndExpiry)
{
    ASSERT_EQ(0, KORVUserAlloc(&u_.p, "dan", "pw", 1041, 100, nullptr, "/home/dan", "/bin/sh", 19000, 1, "d@x", 2));
    ASSERT_EQ(0, KORVUserDBSet(db_.get(), nullptr, 0, u_.p));
    std::string line = stored(db_->pPWDShadow, "DAN");
    EXPECT_EQ(":100000:99999:7::19000:", line.substr(line.find(":", line.find(":", 4) + 1)));
    EXPECT_EQ("dan:2:d@x", stored(db_->pPWDKorvser, "DAN"));
    User back;
    ASSERT_EQ(0, KORVUserDBGet(db_.get(), "DAN", &back.p));
    EXPECT_EQ(1, back->cannotChangePasswd);
    EXPECT_EQ(19000, back->expireDay);
}

TEST_F(UserDb, UpdateKeepsOrChangesTheHashes)
{
    User bob;
    ASSERT_EQ(0, KORVUserDBGet(db_.get(), "ALICE", &bob.p));
    const std::string oldHash = bob->szPasswd;
    // The stored hash given back: the password is unchanged, hash and SMB hashes stay.
    ASSERT_EQ(0, KORVUserDBSet(db_.get(), "ALICE", 5, bob.p));
    EXPECT_EQ(oldHash, shadowHash("ALICE"));
    EXPECT_EQ("E52CAC67419A9A224A3B108F3FA6CB6D", smbField("ALICE", 2));
    EXPECT_EQ("8846F7EAEE8FB117AD06BDD830B7586C", smbField("ALICE", 3));

    // A new password keeps the old salt; LM and NT are those of the new password.
    make("alice", "password", 1030);
    ASSERT_EQ(0, KORVUserDBSet(db_.get(), "ALICE", 5, u_.p));
    std::string hash = shadowHash("ALICE");
    EXPECT_EQ("$1$Al$", hash.substr(0, 6));
    EXPECT_NE(oldHash, hash);
    EXPECT_EQ("E52CAC67419A9A224A3B108F3FA6CB6D", smbField("ALICE", 2));
    EXPECT_EQ("8846F7EAEE8FB117AD06BDD830B7586C", smbField("ALICE", 3));
}

// A locked account's marker ("*", "!", "!!") as the old hash: its bytes are the salt of the new
// MD5 crypt hash, so the guest can be given a password.
TEST_F(UserDb, LockedAccountIsGivenAPassword)
{
    for (const char *marker : {"*", "!", "!!"}) {
        SCOPED_TRACE(marker);
        const std::string line = std::string("guest:") + marker + ":15000:0:99999:7:::";
        ASSERT_EQ(0, KORVBDbSet(db_->pPWDShadow, "GUEST", 6, line.c_str(), static_cast<int>(line.size()) + 1));
        make("guest", "letmein", 1025);
        ASSERT_EQ(0, KORVUserDBSet(db_.get(), "GUEST", 5, u_.p));
        EXPECT_EQ(korv::Md5Crypt("letmein", std::string("$1$") + marker), shadowHash("GUEST"));
        EXPECT_EQ(std::string("$1$") + marker + "$", shadowHash("GUEST").substr(0, 4 + strlen(marker)));
    }
}

TEST_F(UserDb, UnchangedPasswordWithoutSmbHashesIsDisabled)
{
    for (const char *smb : {static_cast<const char *>(nullptr), "alice:1030:short:8846F7EAEE8FB117AD06BDD830B7586C:",
                            "alice:1030:E52CAC67419A9A224A3B108F3FA6CB6D"}) {
        if (smb)
            ASSERT_EQ(0, KORVBDbSet(db_->pPWDSMB, "ALICE", 6, smb, static_cast<int>(strlen(smb)) + 1));
        else
            ASSERT_EQ(0, KORVBDbDelete(db_->pPWDSMB, "ALICE", 6));
        User alice;
        ASSERT_EQ(0, KORVUserDBGet(db_.get(), "ALICE", &alice.p));
        ASSERT_EQ(0, KORVUserDBSet(db_.get(), "ALICE", 5, alice.p)) << (smb ? smb : "none");
        // Never the hashes of the crypt text itself.
        EXPECT_EQ(std::string(32, 'X'), smbField("ALICE", 2));
        EXPECT_EQ(std::string(32, 'X'), smbField("ALICE", 3));
    }
}

TEST_F(UserDb, FailedLmHashStoresTheDisabledForm)
{
    // No known code page: the LM hash cannot be made, the NT hash can.
    write_file("/etc/korvinfo.conf", "codepage=\"xyz\"\n");
    make("erin", "password", 1042);
    ASSERT_EQ(0, KORVUserDBSet(db_.get(), nullptr, 0, u_.p));
    EXPECT_EQ(std::string(32, 'X'), smbField("ERIN", 2));
    EXPECT_EQ("8846F7EAEE8FB117AD06BDD830B7586C", smbField("ERIN", 3));
    EXPECT_TRUE(syslog_contains("KORLEncodingSmbLmHash failed"));
}

TEST_F(UserDb, RenameMovesEveryRecord)
{
    User alice;
    ASSERT_EQ(0, KORVUserDBGet(db_.get(), "ALICE", &alice.p));
    make("Alicia", alice->szPasswd, 1030, alice->szGecos, alice->szHomeDir, alice->szShell, alice->szMail);
    ASSERT_EQ(0, KORVUserDBSet(db_.get(), "ALICE", 5, u_.p));
    for (KORVBDB *s : {db_->pPWDName, db_->pPWDSMB, db_->pPWDKorvser, db_->pPWDShadow}) {
        EXPECT_EQ("<absent>", stored(s, "ALICE"));
        EXPECT_NE("<absent>", stored(s, "ALICIA"));
    }
    EXPECT_EQ("ALICIA", stored(db_->pPWDUID, "001030"));
    EXPECT_EQ(1u, records(db_->pPWDUID).count("001030"));
    // The password was the stored hash: hash and SMB hashes come along.
    EXPECT_EQ(alice->szPasswd, shadowHash("ALICIA"));
    EXPECT_EQ("8846F7EAEE8FB117AD06BDD830B7586C", smbField("ALICIA", 3));

    // A rename in letter case only keeps the key.
    make("ALICIA", alice->szPasswd, 1030);
    ASSERT_EQ(0, KORVUserDBSet(db_.get(), "ALICIA", 6, u_.p));
    EXPECT_EQ(0, stored(db_->pPWDName, "ALICIA").rfind("ALICIA:x:1030:", 0));
    EXPECT_EQ(1u, records(db_->pPWDUID).count("001030"));
}

TEST_F(UserDb, RefusedWithoutAnyChange)
{
    const std::string before = everything();
    struct Case {
        const char *what;
        const char *old;
        const char *name, *gecos, *home, *shell, *mail;
        int uid;
        int code;
    } cases[] = {
        {"gecos newline", nullptr, "carol", "a\nroot::0:0:::", nullptr, nullptr, nullptr, 1040, KORL_ERR_BAD_PARAM},
        {"gecos tab", nullptr, "carol", "a\tb", nullptr, nullptr, nullptr, 1040, KORL_ERR_BAD_PARAM},
        {"home colon", nullptr, "carol", nullptr, "/home/a:b", nullptr, nullptr, 1040, KORL_ERR_BAD_PARAM},
        {"home CR", nullptr, "carol", nullptr, "/home/a\r", nullptr, nullptr, 1040, KORL_ERR_BAD_PARAM},
        {"shell colon", nullptr, "carol", nullptr, nullptr, "/bin/sh:x", nullptr, 1040, KORL_ERR_BAD_PARAM},
        {"mail control", nullptr, "carol", nullptr, nullptr, nullptr, "c@x\x01", 1040, KORL_ERR_BAD_PARAM},
        {"bad name", nullptr, "car:ol", nullptr, nullptr, nullptr, nullptr, 1040, KORV_ERR_USER_INVALID_NAME},
        {"exists", nullptr, "Bob", nullptr, nullptr, nullptr, nullptr, 1040, KORV_ERR_USER_EXISTS},
        {"rename onto another", "ALICE", "bob", nullptr, nullptr, nullptr, nullptr, 1030, KORV_ERR_USER_EXISTS},
        {"no such old user", "CAROL", "carol", nullptr, nullptr, nullptr, nullptr, 1040, KORV_ERR_USER_NOT_FOUND},
        {"system account renamed", "ADMIN", "boss", nullptr, nullptr, nullptr, nullptr, 1024, KORV_ERR_USER_SYSTEM},
        {"line too long", nullptr, "carol", "<long>", nullptr, nullptr, nullptr, 1040, KORL_ERR_BAD_PARAM},
    };
    for (const Case &c : cases) {
        // A field is refused whole, never cut to fit.
        std::string gecos = c.gecos ? c.gecos : "";
        if (gecos == "<long>")
            gecos = std::string(20000, 'g');
        ASSERT_EQ(0, KORVUserAlloc(&u_.p, c.name, "pw", c.uid, 100, c.gecos ? gecos.c_str() : nullptr, c.home, c.shell,
                                   -1, 0, c.mail, 0));
        mark_error();
        EXPECT_EQ(-1, KORVUserDBSet(db_.get(), c.old, c.old ? static_cast<int>(strlen(c.old)) : 0, u_.p)) << c.what;
        EXPECT_EQ(c.code, KORLErrGet()) << c.what;
        EXPECT_EQ(before, everything()) << c.what;
    }
    // Domain names are never stored here.
    make("CORP\\dave", "pw", 1040);
    mark_error();
    EXPECT_EQ(-1, KORVUserDBSet(db_.get(), nullptr, 0, u_.p));
    EXPECT_EQ(KORV_ERR_USER_INVALID_NAME, KORLErrGet());
    EXPECT_EQ(before, everything());
}

TEST_F(UserDb, SystemAccountStoredInPlace)
{
    User admin;
    ASSERT_EQ(0, KORVUserDBGet(db_.get(), "ADMIN", &admin.p));
    make("admin", admin->szPasswd, 1500, "Boss", admin->szHomeDir, admin->szShell);
    ASSERT_EQ(0, KORVUserDBSet(db_.get(), "ADMIN", 5, u_.p));
    // The new uid reaches the passwd line, but the uid store keeps the account where it was.
    EXPECT_EQ("admin:x:1500:100:Boss:/var/services/homes/admin:/bin/sh", stored(db_->pPWDName, "ADMIN"));
    EXPECT_EQ("ADMIN", stored(db_->pPWDUID, "001024"));
    EXPECT_EQ("<absent>", stored(db_->pPWDUID, "001500"));
}

TEST_F(UserDb, DeleteLeavesUsersSharingTheUid)
{
    make("carol", "pw", 1030);
    ASSERT_EQ(0, KORVUserDBSet(db_.get(), nullptr, 0, u_.p));
    EXPECT_EQ(2u, records(db_->pPWDUID).count("001030"));
    ASSERT_EQ(0, KORVUserDBDelete(db_.get(), "ALICE"));
    for (KORVBDB *s : {db_->pPWDName, db_->pPWDSMB, db_->pPWDKorvser, db_->pPWDShadow})
        EXPECT_EQ("<absent>", stored(s, "ALICE"));
    auto uids = records(db_->pPWDUID);
    ASSERT_EQ(1u, uids.count("001030"));
    EXPECT_EQ("CAROL", uids.find("001030")->second);
    // The published files keep carol.
    ASSERT_EQ(0, KORVUserDBDump(db_.get()));
    EXPECT_NE(std::string::npos, read_file(KORV_PASSWD_FILE).find("\ncarol:x:1030:"));
    EXPECT_EQ(std::string::npos, read_file(KORV_PASSWD_FILE).find("alice"));

    mark_error();
    EXPECT_EQ(-1, KORVUserDBDelete(db_.get(), "ALICE"));
    EXPECT_EQ(KORV_ERR_USER_NOT_FOUND, KORLErrGet());
    for (const char *key : {"ROOT", "ADMIN", "GUEST"}) {
        mark_error();
        EXPECT_EQ(-1, KORVUserDBDelete(db_.get(), key)) << key;
        EXPECT_EQ(KORV_ERR_USER_SYSTEM, KORLErrGet()) << key;
    }
    EXPECT_NE("<absent>", stored(db_->pPWDName, "GUEST"));
}

TEST(UserDbGuest, GuestDeletableWithoutGuestSupport)
{
    install();
    write_file("/etc.defaults/korvinfo.conf", "guestsupport=\"no\"\n");
    Db db;
    ASSERT_TRUE(db);
    EXPECT_EQ(0, KORVGuestSupport());
    PKORLSZLIST list = PslKORLSzListAlloc(0);
    EXPECT_EQ(4, KORVUserEnum(&list, KORV_USER_ENUM_LOCAL));
    EXPECT_EQ(-1, KORLSzListFind(list, "guest"));
    KORLSzListFree(list);
    EXPECT_EQ(0, KORVUserDBDelete(db.get(), "GUEST"));
    mark_error();
    EXPECT_EQ(-1, KORVUserDBDelete(db.get(), "ADMIN"));
    EXPECT_EQ(KORV_ERR_USER_SYSTEM, KORLErrGet());
}

TEST_F(UserDb, ExistsCopiesTheStoredName)
{
    char name[16];
    EXPECT_EQ(1, KORVUserDBCheckExists(db_.get(), "ALICE", 5, name, sizeof name));
    EXPECT_STREQ("alice", name);
    EXPECT_EQ(1, KORVUserDBCheckExists(db_.get(), "ALICE", 5, nullptr, 0));
    mark_error();
    EXPECT_EQ(0, KORVUserDBCheckExists(db_.get(), "CAROL", 5, name, sizeof name));
    EXPECT_EQ(KORV_ERR_USER_NOT_FOUND, KORLErrGet());
    char tiny[3];
    EXPECT_EQ(0, KORVUserDBCheckExists(db_.get(), "ALICE", 5, tiny, sizeof tiny));
    EXPECT_STREQ("", tiny);
    mark_error();
    EXPECT_EQ(0, KORVUserDBCheckExists(db_.get(), "ALICE", 5, nullptr, 4));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
}

TEST(UserDbEnum, LocalUsersAboveTheSystemRange)
{
    install();
    PKORLSZLIST list = PslKORLSzListAlloc(0);
    ASSERT_EQ(0, KORLSzListPush(&list, "kept"));
    ASSERT_EQ(0, KORVUserEnum(&list, KORV_USER_ENUM_DOMAIN));
    // Appended in key order; root (and any uid below 1024) never; guest with guest support.
    EXPECT_EQ(5, KORVUserEnum(&list, KORV_USER_ENUM_LOCAL));
    std::vector<std::string> names;
    for (int i = 0; i < list->nItem; i++)
        names.push_back(SzKORLSzListGet(list, i));
    EXPECT_EQ((std::vector<std::string>{"kept", "admin", "alice", "bob", "guest", "nobody"}), names);
    KORLSzListFree(list);
    for (int mask : {0, 8}) {
        PKORLSZLIST l = PslKORLSzListAlloc(0);
        mark_error();
        EXPECT_EQ(-1, KORVUserEnum(&l, mask)) << mask;
        EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
        KORLSzListFree(l);
    }
}

TEST(UserDbByUid, FirstUserOfTheUid)
{
    install();
    User u;
    ASSERT_EQ(0, KORVUserGetByUid(1031, &u.p));
    EXPECT_STREQ("bob", u->szName);
    mark_error();
    EXPECT_EQ(-1, KORVUserGetByUid(4242, &u.p));
    EXPECT_EQ(KORV_ERR_USER_NOT_FOUND, KORLErrGet());
    // The shared lock was released on both ways out.
    EXPECT_EQ(0, ErrKORLFileLock(KORL_LOCK_PW | LOCK_EX | LOCK_NB, 0));
    ErrKORLFileUnlock(KORL_LOCK_PW);
}

}  // namespace
