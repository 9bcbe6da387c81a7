// What the user and the group database both promise, run over each: create, read back, rename,
// delete, a missing name, a broken record, the free-id search, the domain step and what reaches
// the text files. Each row is one scenario written once against a small adapter per store.
#include <string.h>

#include <functional>
#include <memory>
#include <string>

#include "group_test_util.h"

using korvtest::read_file;
using korvtest::write_file;
using usertest::mark_error;
using usertest::stored;

namespace {

std::string upper(std::string s)
{
    for (char &c : s)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return s;
}

// One account store behind the calls the rows make.
class Store {
public:
    virtual ~Store() = default;
    virtual const char *name() const = 0;
    virtual void install() = 0;
    virtual bool open() = 0;
    virtual KORVBDB *names() = 0;
    virtual KORVBDB *ids() = 0;
    // An account of the fixture, and its id.
    virtual std::string existing() const = 0;
    virtual int existingId() const = 0;
    // A new account under name with id: 0 / -1.
    virtual int create(const std::string &name, int id) = 0;
    // The account's name and id as read back: 0 / -1.
    virtual int read(const std::string &name, std::string *stored, int *id) = 0;
    virtual int rename(const std::string &from, const std::string &to) = 0;
    virtual int remove(const std::string &name) = 0;
    virtual int exists(const std::string &name, std::string *storedName) = 0;
    virtual int freeId() = 0;
    virtual int dump() = 0;
    virtual int notFound() const = 0;
    // A stored line of the wrong shape for name.
    virtual std::string brokenLine(const std::string &name) const = 0;
    virtual const char *textFile() const = 0;
    virtual const char *domainFile() const = 0;
    virtual const char *idMarker() const = 0;
    virtual int idFirst() const = 0;  // the first id of new accounts
    virtual int idLast() const = 0;
    virtual int noFreeId() const = 0;
    virtual const char *domainStep() const = 0;  // the build's domain step, as its failure names it
};

class UserStore : public Store {
public:
    const char *name() const override { return "User"; }
    void install() override { usertest::install(); }
    bool open() override
    {
        db_.open();
        return bool(db_);
    }
    KORVBDB *names() override { return db_->pPWDName; }
    KORVBDB *ids() override { return db_->pPWDUID; }
    std::string existing() const override { return "alice"; }
    int existingId() const override { return 1030; }
    int create(const std::string &n, int id) override
    {
        usertest::User u;
        if (KORVUserAlloc(&u.p, n.c_str(), "pw", id, 100, nullptr, nullptr, nullptr, -1, 0, nullptr, 0) != 0)
            return -1;
        return KORVUserDBSet(db_.get(), nullptr, 0, u.p);
    }
    int read(const std::string &n, std::string *s, int *id) override
    {
        usertest::User u;
        if (KORVUserDBGet(db_.get(), upper(n).c_str(), &u.p) != 0)
            return -1;
        *s = u->szName;
        *id = u->uid;
        return 0;
    }
    int rename(const std::string &from, const std::string &to) override
    {
        usertest::User u;
        std::string key = upper(from);
        if (KORVUserDBGet(db_.get(), key.c_str(), &u.p) != 0)
            return -1;
        usertest::User renamed;
        if (KORVUserAlloc(&renamed.p, to.c_str(), u->szPasswd, u->uid, u->gid, u->szGecos, u->szHomeDir, u->szShell,
                          u->expireDay, u->cannotChangePasswd, u->szMail, u->privilege) != 0)
            return -1;
        return KORVUserDBSet(db_.get(), key.c_str(), static_cast<int>(key.size()), renamed.p);
    }
    int remove(const std::string &n) override { return KORVUserDBDelete(db_.get(), upper(n).c_str()); }
    int exists(const std::string &n, std::string *s) override
    {
        char buf[256] = "";
        std::string key = upper(n);
        int r = KORVUserDBCheckExists(db_.get(), key.c_str(), static_cast<int>(key.size()), buf, sizeof buf);
        *s = buf;
        return r;
    }
    int freeId() override { return KORVUserGetFreeUid(db_.get()); }
    int dump() override { return KORVUserDBDump(db_.get()); }
    int notFound() const override { return KORV_ERR_USER_NOT_FOUND; }
    std::string brokenLine(const std::string &n) const override { return n + ":x:1030:100::/home"; }
    const char *textFile() const override { return KORV_PASSWD_FILE; }
    const char *domainFile() const override { return KORV_DOMAIN_USER_FILE; }
    const char *idMarker() const override { return KORV_BDB_KEY_CURRENT_UID; }
    int idFirst() const override { return KORV_USER_UID_FIRST; }
    int idLast() const override { return KORV_USER_UID_LAST; }
    int noFreeId() const override { return KORV_ERR_USER_NO_FREE_UID; }
    const char *domainStep() const override { return "UserDBDomainBuild"; }

private:
    usertest::Db db_{false};
};

class GroupStore : public Store {
public:
    const char *name() const override { return "Group"; }
    void install() override { grouptest::install(); }
    bool open() override
    {
        db_.open();
        return bool(db_);
    }
    KORVBDB *names() override { return db_->pGRPName; }
    KORVBDB *ids() override { return db_->pGRPGID; }
    std::string existing() const override { return "staff"; }
    int existingId() const override { return 65600; }
    int create(const std::string &n, int id) override
    {
        grouptest::Group g;
        char *none[] = {nullptr};
        if (KORVGroupAlloc2(&g.p, n.c_str(), id, none) != 0)
            return -1;
        return KORVGroupDBSet(db_.get(), nullptr, 0, g.p);
    }
    int read(const std::string &n, std::string *s, int *id) override
    {
        std::string line = stored(db_->pGRPName, upper(n));
        if (line == "<absent>") {
            KORLErrSet(KORV_ERR_GROUP_NOT_FOUND);
            return -1;
        }
        grouptest::Group g;
        if (KORVGroupDBUnpack(line.c_str(), &g.p) != 0)
            return -1;
        *s = g->szName;
        *id = g->gid;
        return 0;
    }
    int rename(const std::string &from, const std::string &to) override
    {
        std::string line = stored(db_->pGRPName, upper(from));
        grouptest::Group g;
        if (line == "<absent>" || KORVGroupDBUnpack(line.c_str(), &g.p) != 0)
            return -1;
        grouptest::Group renamed;
        if (KORVGroupAlloc2(&renamed.p, to.c_str(), g->gid, g->ppszMembers) != 0)
            return -1;
        std::string key = upper(from);
        return KORVGroupDBSet(db_.get(), key.c_str(), static_cast<int>(key.size()), renamed.p);
    }
    int remove(const std::string &n) override
    {
        std::string key = upper(n);
        return KORVGroupDBDelete(db_.get(), key.c_str(), static_cast<int>(key.size()));
    }
    int exists(const std::string &n, std::string *s) override
    {
        char buf[256] = "";
        std::string key = upper(n);
        int r = KORVGroupDBCheckExists(db_.get(), key.c_str(), static_cast<int>(key.size()), buf, sizeof buf);
        *s = buf;
        return r;
    }
    int freeId() override { return KORVGroupGetFreeGid(db_.get()); }
    int dump() override { return KORVGroupDBDump(db_.get()); }
    int notFound() const override { return KORV_ERR_GROUP_NOT_FOUND; }
    std::string brokenLine(const std::string &n) const override { return n + ":x:65600"; }
    const char *textFile() const override { return KORV_GROUP_FILE; }
    const char *domainFile() const override { return KORV_DOMAIN_GROUP_FILE; }
    const char *idMarker() const override { return KORV_BDB_KEY_CURRENT_GID; }
    int idFirst() const override { return KORV_GROUP_GID_FIRST; }
    int idLast() const override { return KORV_GROUP_GID_LAST; }
    int noFreeId() const override { return KORV_ERR_GROUP_NO_FREE_GID; }
    const char *domainStep() const override { return "GroupDBDomainBuild"; }

private:
    grouptest::Db db_{false};
};

struct Kind {
    const char *name;
    std::function<std::unique_ptr<Store>()> make;
};

void PrintTo(const Kind &k, std::ostream *os)
{
    *os << k.name;
}

const Kind kKinds[] = {
    {"User", [] { return std::unique_ptr<Store>(new UserStore); }},
    {"Group", [] { return std::unique_ptr<Store>(new GroupStore); }},
};

// One scenario: runs against an installed, opened store.
struct Row {
    const char *name;
    std::function<void(Store &)> run;
};

void PrintTo(const Row &r, std::ostream *os)
{
    *os << r.name;
}

// Every id record gone, markers kept.
void clear_ids(Store &s)
{
    for (const auto &[key, value] : usertest::records(s.ids()))
        KORVBDbDelete(s.ids(), key.c_str(), static_cast<int>(key.size()) + 1);
}

void take_id(Store &s, int id)
{
    char key[16];
    snprintf(key, sizeof key, "%06d", id);
    ASSERT_EQ(0, KORVBDbSet(s.ids(), key, 7, "X", 2));
}

void set_id_marker(Store &s, int id)
{
    const unsigned char w[4] = {static_cast<unsigned char>(id), static_cast<unsigned char>(id >> 8),
                                static_cast<unsigned char>(id >> 16), static_cast<unsigned char>(id >> 24)};
    ASSERT_EQ(0, KORVBDbSet(s.ids(), s.idMarker(), KORV_BDB_KEY_CURRENT_ID_LEN, w, 4));
}

void remove_stores()
{
    for (const std::string &f : usertest::store_files())
        unlink(f.c_str());
    for (const char *f : {"/tmp/.db.group.name.0947", "/tmp/.db.group.id.0947", "/tmp/.db.group.desc.0947"})
        unlink(f);
}

void set_domain_mode()
{
    write_file("/usr/korv/etc/smb.conf", "[global]\n\tworkgroup=CORP\n\tsecurity=domain\n");
    write_file("/etc/korvinfo.conf", "codepage=\"enu\"\nrunsamba=\"yes\"\n");
}

const Row kRows[] = {
    {"CreateThenReadBack",
     [](Store &s) {
         const int id = s.idFirst() + 700;
         ASSERT_EQ(0, s.create("Newbie", id));
         std::string name;
         int got = 0;
         ASSERT_EQ(0, s.read("NEWBIE", &name, &got));
         EXPECT_EQ("Newbie", name);
         EXPECT_EQ(id, got);
         // The id store lists it under its id.
         char key[16];
         snprintf(key, sizeof key, "%06d", id);
         EXPECT_EQ("NEWBIE", stored(s.ids(), key));
         ASSERT_EQ(0, s.dump());
         EXPECT_NE(std::string::npos, read_file(s.textFile()).find("\nNewbie:x:" + std::to_string(id) + ":"));
     }},
    {"ExistsGivesTheStoredLetterCase",
     [](Store &s) {
         std::string name;
         EXPECT_EQ(1, s.exists(upper(s.existing()), &name));
         EXPECT_EQ(s.existing(), name);
     }},
    {"RenameKeepsTheIdAndDropsTheOldName",
     [](Store &s) {
         ASSERT_EQ(0, s.rename(s.existing(), "Renamed"));
         std::string name;
         int id = 0;
         ASSERT_EQ(0, s.read("renamed", &name, &id));
         EXPECT_EQ("Renamed", name);
         EXPECT_EQ(s.existingId(), id);
         mark_error();
         EXPECT_EQ(-1, s.read(s.existing(), &name, &id));
         EXPECT_EQ(0, s.exists(s.existing(), &name));
         ASSERT_EQ(0, s.dump());
         const std::string text = read_file(s.textFile());
         EXPECT_NE(std::string::npos, text.find("\nRenamed:x:" + std::to_string(s.existingId()) + ":"));
         EXPECT_EQ(std::string::npos, text.find("\n" + s.existing() + ":"));
     }},
    {"DeleteRemovesTheNameAndTheId",
     [](Store &s) {
         ASSERT_EQ(0, s.remove(s.existing()));
         std::string name;
         int id;
         mark_error();
         EXPECT_EQ(-1, s.read(s.existing(), &name, &id));
         EXPECT_EQ(s.notFound(), KORLErrGet());
         char key[16];
         snprintf(key, sizeof key, "%06d", s.existingId());
         EXPECT_EQ("<absent>", stored(s.ids(), key));
         ASSERT_EQ(0, s.dump());
         EXPECT_EQ(std::string::npos, read_file(s.textFile()).find("\n" + s.existing() + ":"));
     }},
    {"MissingName",
     [](Store &s) {
         std::string name = "kept";
         int id;
         mark_error();
         EXPECT_EQ(-1, s.read("ghost", &name, &id));
         EXPECT_EQ(s.notFound(), KORLErrGet());
         mark_error();
         EXPECT_EQ(0, s.exists("ghost", &name));
         EXPECT_EQ(s.notFound(), KORLErrGet());
         mark_error();
         EXPECT_EQ(-1, s.remove("ghost"));
         EXPECT_EQ(s.notFound(), KORLErrGet());
         mark_error();
         EXPECT_EQ(-1, s.rename("ghost", "other"));
     }},
    {"BrokenRecordIsRefused",
     [](Store &s) {
         const std::string key = upper(s.existing());
         const std::string line = s.brokenLine(s.existing());
         ASSERT_EQ(0, KORVBDbSet(s.names(), key.c_str(), static_cast<int>(key.size()) + 1, line.c_str(),
                                 static_cast<int>(line.size()) + 1));
         std::string name;
         int id;
         mark_error();
         EXPECT_EQ(-1, s.read(s.existing(), &name, &id));
         EXPECT_EQ(KORL_ERR_MALFORMED, KORLErrGet());
         mark_error();
         EXPECT_EQ(-1, s.rename(s.existing(), "other"));
         EXPECT_EQ(0, s.exists("other", &name));
     }},
    {"LineBreakInAStoredLineIsNeverPublished",
     [](Store &s) {
         const std::string before = read_file(s.textFile());
         const std::string key = upper(s.existing());
         std::string line = stored(s.names(), key);
         ASSERT_NE("<absent>", line);
         line += "\nroot2:x:0:0:::";
         ASSERT_EQ(0, KORVBDbSet(s.names(), key.c_str(), static_cast<int>(key.size()) + 1, line.c_str(),
                                 static_cast<int>(line.size()) + 1));
         mark_error();
         EXPECT_EQ(-1, s.dump());
         EXPECT_EQ(KORL_ERR_MALFORMED, KORLErrGet());
         EXPECT_EQ(before, read_file(s.textFile()));
     }},
    // From the marker's next id, skipping taken ones, wrapping within the range; without a marker
    // from the highest id stored; every id taken is the store's own code.
    {"FreeIdSearch",
     [](Store &s) {
         clear_ids(s);
         const int base = s.idFirst() + 100;
         set_id_marker(s, base);
         take_id(s, base + 1);
         take_id(s, base + 2);
         EXPECT_EQ(base + 3, s.freeId());
         set_id_marker(s, s.idLast());
         EXPECT_EQ(s.idFirst(), s.freeId());
         set_id_marker(s, s.idLast() - 1);
         take_id(s, s.idLast());
         take_id(s, s.idFirst());
         EXPECT_EQ(s.idFirst() + 1, s.freeId());
         ASSERT_EQ(0, KORVBDbDelete(s.ids(), s.idMarker(), KORV_BDB_KEY_CURRENT_ID_LEN));
         ASSERT_EQ(0, KORVBDbDelete(s.ids(), std::to_string(1000000 + s.idLast()).substr(1).c_str(), 7));
         EXPECT_EQ(base + 3, s.freeId());
         for (int id = s.idFirst(); id <= s.idLast(); id++)
             take_id(s, id);
         mark_error();
         EXPECT_EQ(-1, s.freeId());
         EXPECT_EQ(s.noFreeId(), KORLErrGet());
     }},
    // A damaged id store whose last key lacks its NUL, and no marker: the search reads the key
    // within its own bytes.
    {"IdKeyWithoutItsNul",
     [](Store &s) {
         ASSERT_EQ(0, KORVBDbDelete(s.ids(), s.idMarker(), KORV_BDB_KEY_CURRENT_ID_LEN));
         // The damaged key is the last one: the search starts from it.
         clear_ids(s);
         const int id = s.idFirst() + 500;
         char key[16];
         snprintf(key, sizeof key, "%06d", id);
         ASSERT_EQ(0, KORVBDbSet(s.ids(), key, 6, "X", 2));
         EXPECT_EQ(id + 1, s.freeId());
     }},
    // In domain mode a line of the domain file without a backslash names no domain account: it
    // never replaces the local account of that name, nor reaches the text file.
    {"DomainLineWithoutBackslashLeavesTheLocalAccount",
     [](Store &s) {
         set_domain_mode();
         write_file(s.domainFile(), s.existing() + ":1\nCORP\\" + s.existing() + ":2\n");
         const std::string text = read_file(s.textFile());
         remove_stores();
         ASSERT_TRUE(s.open());
         std::string name;
         int id = 0;
         ASSERT_EQ(0, s.read(s.existing(), &name, &id));
         EXPECT_EQ(s.existingId(), id);
         ASSERT_EQ(0, s.read("CORP\\" + s.existing(), &name, &id));
         EXPECT_EQ(-1, id);
         EXPECT_TRUE(korvtest::syslog_contains("is no domain name, skipped"));
         ASSERT_EQ(0, s.dump());
         EXPECT_EQ(text, read_file(s.textFile()));
     }},
    // Samba in domain mode without the domain file: the build goes on with the local accounts
    // and tells the event log.
    {"DomainStepWithoutItsFileGoesOn",
     [](Store &s) {
         write_file("/usr/korv/etc/smb.conf", "[global]\nsecurity = ads\nrealm = CORP.EXAMPLE\n");
         write_file("/etc/korvinfo.conf", "codepage=\"enu\"\nrunsamba=\"YES\"\n");
         write_file("/usr/korv/bin/korvlogset1", "#!/bin/sh\necho \"$@\" > /tmp/korvlogset1.args\n", 0755);
         remove_stores();
         ASSERT_TRUE(s.open());
         EXPECT_TRUE(korvtest::syslog_contains(std::string(s.domainStep()) + "() failed! korverr=0x0900"));
         EXPECT_EQ("sys err 0x1180050A\n", read_file("/tmp/korvlogset1.args"));
         std::string name;
         int id = 0;
         EXPECT_EQ(0, s.read(s.existing(), &name, &id));
     }},
};

class AccountStore : public testing::TestWithParam<std::tuple<Kind, Row>> {};

TEST_P(AccountStore, Contract)
{
    const auto &[kind, row] = GetParam();
    std::unique_ptr<Store> s = kind.make();
    s->install();
    ASSERT_TRUE(s->open());
    row.run(*s);
}

INSTANTIATE_TEST_SUITE_P(Stores, AccountStore, testing::Combine(testing::ValuesIn(kKinds), testing::ValuesIn(kRows)),
                         [](const auto &info) {
                             return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
                         });

}  // namespace
