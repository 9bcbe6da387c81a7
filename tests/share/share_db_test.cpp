// The share store: set, rename, delete, existence, walks and enumeration by kind, and its rebuild
// from smb.conf.
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include "korv/file_lock.h"
#include "korv_le32.h"
#include "share_test_util.h"

using namespace sharetest;
using korvtest::file_exists;
using korvtest::read_file;
using korvtest::syslog_clear;
using korvtest::syslog_contains;
using korvtest::write_file;

namespace {

class ShareDb : public testing::Test {
protected:
    void SetUp() override
    {
        install();
        db_.open();
        ASSERT_TRUE(db_);
    }
    // Every record of the store, to see that a refused call changed nothing.
    std::string everything()
    {
        std::string out;
        for (const auto &[k, v] : usertest::records(db_->pShare))
            out += k + "=" + v + "\n";
        return out;
    }
    Db db_{false};
};

TEST_F(ShareDb, BuiltFromSmbConf)
{
    EXPECT_EQ((std::vector<std::string>{"Data", "public", "usbshare1"}), names(db_.get()));
    Share data = get("Data");
    EXPECT_STREQ("Team data", data->szComment);
    EXPECT_STREQ("/volume1/Data", data->szPath);
    EXPECT_STREQ("bob", data->szInvalidUsers);
    EXPECT_STREQ("alice", data->szWriteList);
    EXPECT_STREQ("", data->szReadList);
    EXPECT_EQ(KORV_SHARE_NO_ACCESS, data->fType);
    EXPECT_EQ(KORV_SHARE_FTP_NO_MODIFY, data->ftpFlags);
    Share pub = get("public");
    EXPECT_EQ(KORV_SHARE_READ_WRITE, pub->fType);
    EXPECT_EQ(0, pub->browseable);
    EXPECT_EQ(KORV_SHARE_FTP_NO_LIST | KORV_SHARE_FTP_NO_DOWNLOAD, pub->ftpFlags);
    EXPECT_STREQ("@staff", get("usbshare1")->szReadList);
    // The reserved section is kept as its lines; the store remembers smb.conf's time.
    PKORLSZLIST global = nullptr;
    {
        void *v = nullptr;
        int cb = 0;
        ASSERT_EQ(0, KORVBDbGet(db_->pShare, "#GLOBAL", 8, &v, &cb));
        global = KORVListDBUnpack(v, cb);
        KORVBDbFree(v);
    }
    ASSERT_NE(nullptr, global);
    ASSERT_EQ(5, global->nItem);
    EXPECT_STREQ("global", SzKORLSzListGet(global, 0));
    EXPECT_STREQ("workgroup=WORKGROUP", SzKORLSzListGet(global, 1));
    EXPECT_STREQ("", SzKORLSzListGet(global, 3));
    EXPECT_STREQ("; kept as it is", SzKORLSzListGet(global, 4));
    KORLSzListFree(global);
    EXPECT_EQ(usertest::stat_of(KORV_SMB_CONF).st_mtime,
              usertest::marker(db_->pShare, KORV_BDB_KEY_SYNC_TIME, KORV_BDB_KEY_SYNC_TIME_LEN));
}

TEST_F(ShareDb, SetNewSharesAndReplaceInPlace)
{
    Share docs = make({.name = "Docs", .comment = "Papers", .path = "/volume1/docs", .write = "alice"});
    KORVSHARE r = in({.name = "Docs", .path = "/volume1/docs"});
    ASSERT_EQ(0, KORVShareDBSet(db_.get(), nullptr, &r));
    // A new share whose name exists in any letter case is refused.
    const std::string before = everything();
    for (const char *name : {"docs", "DATA", "Public"}) {
        KORVSHARE again = in({.name = name, .path = "/x"});
        mark_error();
        EXPECT_EQ(-1, KORVShareDBSet(db_.get(), nullptr, &again)) << name;
        EXPECT_EQ(KORV_ERR_SHARE_EXISTS, KORLErrGet()) << name;
    }
    EXPECT_EQ(before, everything());
    // Its own name (in any case) as the old name: a replace under the same key.
    KORVSHARE changed = in({.name = "DOCS", .comment = "Papers", .path = "/volume2/docs", .fType = 2});
    ASSERT_EQ(0, KORVShareDBSet(db_.get(), "docs", &changed));
    Share back = get(db_.get(), "DOCS");
    EXPECT_STREQ("/volume2/docs", back->szPath);
    EXPECT_EQ(2, back->fType);
    EXPECT_EQ((std::vector<std::string>{"Data", "DOCS", "public", "usbshare1"}), names(db_.get()));
    char stored[33];
    EXPECT_EQ(1, KORVShareDBCheckExists(db_.get(), "DOCS", 4, stored, sizeof stored));
    EXPECT_STREQ("DOCS", stored);
}

TEST_F(ShareDb, RenameStoresTheNewKeyFirstAndRefusesAnotherSharesName)
{
    KORVSHARE renamed = in({.name = "Team", .comment = "Team data", .path = "/volume1/Data", .write = "alice"});
    ASSERT_EQ(0, KORVShareDBSet(db_.get(), "data", &renamed));
    EXPECT_EQ("<absent>", sharetest::stored(db_.get(), "DATA"));
    EXPECT_EQ((std::vector<std::string>{"public", "Team", "usbshare1"}), names(db_.get()));
    // Onto another existing share: refused before anything changes.
    const std::string before = everything();
    KORVSHARE onto = in({.name = "PUBLIC", .path = "/volume1/Data"});
    mark_error();
    EXPECT_EQ(-1, KORVShareDBSet(db_.get(), "Team", &onto));
    EXPECT_EQ(KORV_ERR_SHARE_EXISTS, KORLErrGet());
    EXPECT_EQ(before, everything());
    // A record that cannot be made changes nothing either.
    KORVSHARE bad = in({.name = "Fresh", .path = "relative"});
    mark_error();
    EXPECT_EQ(-1, KORVShareDBSet(db_.get(), "Team", &bad));
    EXPECT_EQ(KORV_ERR_SHARE_PATH, KORLErrGet());
    EXPECT_EQ(before, everything());
}

TEST_F(ShareDb, KeysThatDoNotFitAreRefused)
{
    // An upper-cased form longer than its buffer is a failure, never the empty key.
    std::string long_name(600, 'a');
    mark_error();
    EXPECT_EQ(-1, KORVShareDBDelete(db_.get(), long_name.c_str()));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    EXPECT_TRUE(syslog_contains("KORLUnicodeUTF8StrUpper [" + long_name + "] failed."));
    KORVSHARE r = in({.name = "Data", .path = "/p"});
    const std::string before = everything();
    mark_error();
    EXPECT_EQ(-1, KORVShareDBSet(db_.get(), long_name.c_str(), &r));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    EXPECT_EQ(before, everything());
}

TEST_F(ShareDb, DeleteAndCheckExists)
{
    ASSERT_EQ(0, KORVShareDBDelete(db_.get(), "PUBLIC"));
    mark_error();
    EXPECT_EQ(-1, KORVShareDBDelete(db_.get(), "public"));
    EXPECT_EQ(KORL_ERR_NOT_FOUND, KORLErrGet());
    mark_error();
    EXPECT_EQ(0, KORVShareDBCheckExists(db_.get(), "PUBLIC", 6, nullptr, 0));
    EXPECT_EQ(KORV_ERR_SHARE_NOT_FOUND, KORLErrGet());
    char name[8];
    EXPECT_EQ(1, KORVShareDBCheckExists(db_.get(), "DATA", 4, name, sizeof name));
    EXPECT_STREQ("Data", name);
    EXPECT_EQ(0, KORVShareDBCheckExists(db_.get(), "USBSHARE1", 9, name, sizeof name));
    EXPECT_STREQ("", name);
    mark_error();
    EXPECT_EQ(0, KORVShareDBCheckExists(db_.get(), "DATA", 4, nullptr, 4));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
}

TEST_F(ShareDb, TamperedRecordIsRefused)
{
    std::string v = sharetest::stored(db_.get(), "PUBLIC");
    ASSERT_GT(v.size(), 48u);
    // An offset that points past the record: the walk stops there, nothing is read out of it.
    korv::Le32Put(v.data() + 12, static_cast<uint32_t>(v.size() + 100));
    ASSERT_EQ(0, KORVBDbSet(db_->pShare, "PUBLIC", 7, v.data(), static_cast<int>(v.size())));
    db_.close();
    Db fresh;
    ASSERT_TRUE(fresh);
    Share s;
    ASSERT_EQ(0, KORVShareDBCursorGet(fresh.get(), &s.p));
    EXPECT_STREQ("Data", s->szName);
    mark_error();
    EXPECT_EQ(-1, KORVShareDBCursorGet(fresh.get(), &s.p));
    EXPECT_EQ(KORL_ERR_MALFORMED, KORLErrGet());
    char name[33];
    mark_error();
    EXPECT_EQ(0, KORVShareDBCheckExists(fresh.get(), "PUBLIC", 6, name, sizeof name));
    EXPECT_EQ(KORL_ERR_MALFORMED, KORLErrGet());
    EXPECT_STREQ("", name);
    // A value shorter than its length word says.
    ASSERT_EQ(0, KORVBDbSet(fresh->pShare, "PUBLIC", 7, v.data(), 47));
    fresh.close();
    Db again;
    ASSERT_EQ(0, KORVShareDBCursorGet(again.get(), &s.p));
    mark_error();
    EXPECT_EQ(-1, KORVShareDBCursorGet(again.get(), &s.p));
    EXPECT_EQ(KORL_ERR_MALFORMED, KORLErrGet());
}

TEST(ShareEnum, ByKind)
{
    std::string conf = kSmbConf;
    for (const char *name : {"usbbackup", "satashare", "Photos"})
        conf += std::string("[") + name + "]\n\tpath=/volume1/" + name + "\n";
    install(conf);
    struct {
        int mask;
        std::vector<std::string> names;
    } cases[] = {
        {1, {"Data", "Photos", "public"}},
        {2, {"usbbackup", "usbshare1"}},
        {6, {"satashare", "usbbackup", "usbshare1"}},
        {7, {"Data", "Photos", "public", "satashare", "usbbackup", "usbshare1"}},
        {0, {}},
        {8, {}},
    };
    for (const auto &c : cases) {
        PKORLSZLIST list = PslKORLSzListAlloc(0);
        ASSERT_EQ(0, KORLSzListPush(&list, "kept"));
        EXPECT_EQ(static_cast<int>(c.names.size()), KORVShareEnum(&list, c.mask)) << c.mask;
        std::vector<std::string> got;
        for (int i = 1; i < list->nItem; i++)
            got.push_back(SzKORLSzListGet(list, i));
        EXPECT_EQ(c.names, got) << c.mask;
        KORLSzListFree(list);
    }
    // The shared lock was released.
    EXPECT_EQ(0, ErrKORLFileLock(KORL_LOCK_SMB | LOCK_EX | LOCK_NB, 0));
    ErrKORLFileUnlock(KORL_LOCK_SMB);
}

int gInit, gFini;
int CountInit(const KORVSHAREENUMCB *, void *arg)
{
    ++gInit;
    return *static_cast<int *>(arg);
}
void CountFini(const KORVSHAREENUMCB *)
{
    ++gFini;
}
int TakeAll(const KORVSHAREENUMCB *, const KORVSHARE *, int)
{
    return 0;
}

TEST_F(ShareDb, EnumInternalCallbacks)
{
    PKORLSZLIST list = PslKORLSzListAlloc(0);
    KORVSHAREENUMCB both = {CountInit, TakeAll, CountFini};
    int go = 0, stop = 1;
    EXPECT_EQ(3, KORVShareDBEnumInternal(db_.get(), &list, &both, &go, 0));
    EXPECT_EQ(1, gInit);
    EXPECT_EQ(1, gFini);
    // init refuses: nothing walked, fini still called.
    Db fresh;
    EXPECT_EQ(-1, KORVShareDBEnumInternal(fresh.get(), &list, &both, &stop, 0));
    EXPECT_EQ(2, gFini);
    EXPECT_EQ(3, list->nItem);
    KORVSHAREENUMCB half = {CountInit, TakeAll, nullptr}, none = {nullptr, nullptr, nullptr};
    for (const KORVSHAREENUMCB *cb : {&half, &none}) {
        mark_error();
        EXPECT_EQ(-1, KORVShareDBEnumInternal(fresh.get(), &list, cb, &go, 0));
        EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    }
    KORLSzListFree(list);
}

TEST(ShareStore, RebuiltWhenMissingTornSmallDeprecatedOrStale)
{
    install();
    {
        Db db;
        ASSERT_TRUE(db);
    }
    const char *store = KORV_SHARE_DB_FILE;
    EXPECT_EQ(0644u, usertest::stat_of(store).st_mode & 07777);
    EXPECT_FALSE(file_exists("/tmp/.db.korvshare.tmp"));
    // An empty or torn file is no store: built again from smb.conf.
    for (const char *torn : {"", "not a b-tree at all"}) {
        write_file(store, torn);
        KORVSHAREDB *db = nullptr;
        EXPECT_EQ(1, KORVShareDBOpenFile(&db, store)) << torn;
        ASSERT_NE(nullptr, db);
        EXPECT_EQ((std::vector<std::string>{"Data", "public", "usbshare1"}), names(db));
        KORVShareDBClose(db);
    }
    // A store file below 8192 bytes is rebuilt at the next check.
    {
        Db db;
        ASSERT_TRUE(db);
        ASSERT_EQ(0, truncate(store, 8191));
        EXPECT_EQ(1, KORVShareDBCheckAndRebuild(db.addr()));
        EXPECT_TRUE(syslog_contains("st_size(/tmp/.db.korvshare.0947)=8191, so rebuild db."));
        EXPECT_EQ(3u, names(db.get()).size());
        EXPECT_GE(usertest::stat_of(store).st_size, 8192);
    }
    // smb.conf edited behind the store's back.
    write_file(KORV_SMB_CONF, kSmbConf + "[Extra]\n\tpath=/volume1/extra\n");
    struct timeval tv[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(0, utimes(KORV_SMB_CONF, tv));
    Db stale(false);
    ASSERT_EQ(0, KORVShareDBOpenFile(stale.addr(), store));
    EXPECT_EQ(1, KORVShareDBCheckAndRebuild(stale.addr()));
    EXPECT_EQ(4u, names(stale.get()).size());
    syslog_clear();
    EXPECT_EQ(0, KORVShareDBCheckAndRebuild(stale.addr())) << korvtest::syslog_dump();
    // A store marked as replaced by another process's rebuild: reopened by name.
    stale.close();
    {
        Db marked;
        ASSERT_EQ(0, KORVBDbDeprecatedSet(marked->pShare, 1));
    }
    Db old(false);
    ASSERT_EQ(0, KORVShareDBOpenFile(old.addr(), store));
    EXPECT_EQ(1, KORVShareDBCheckAndRebuild(old.addr()));
    EXPECT_EQ(4u, names(old.get()).size());
}

TEST(ShareStore, StaleStagingFileIsNeverBuiltInto)
{
    install();
    // What an interrupted rebuild left under the staging name, and a link planted there.
    write_file("/etc/victim", "precious\n");
    ASSERT_EQ(0, symlink("/etc/victim", "/tmp/.db.korvshare.tmp"));
    Db db;
    ASSERT_TRUE(db);
    EXPECT_EQ(3u, names(db.get()).size());
    EXPECT_EQ("precious\n", read_file("/etc/victim"));
    struct stat st;
    EXPECT_NE(0, lstat("/tmp/.db.korvshare.tmp", &st));
}

// Berkeley DB's own file of a create that a kill cut short: the build clears it instead of
// waiting for it.
TEST(ShareStore, BuildClearsWhatAKilledCreateLeft)
{
    install();
    write_file("/tmp/__db..db.korvshare.tmp", "");
    Db db;
    ASSERT_TRUE(db);
    EXPECT_EQ(3u, names(db.get()).size());
    EXPECT_FALSE(file_exists("/tmp/__db..db.korvshare.tmp"));
}

TEST(ShareStore, MissingSmbConfFailsTheBuild)
{
    grouptest::install();
    mark_error();
    KORVSHAREDB *db = nullptr;
    EXPECT_EQ(-1, KORVShareDBOpenFile(&db, KORV_SHARE_DB_FILE));
    EXPECT_EQ(KORL_ERR_OPEN, KORLErrGet());
    EXPECT_EQ(nullptr, db);
    EXPECT_EQ(nullptr, KORVShareDBOpen());
    EXPECT_FALSE(file_exists(KORV_SHARE_DB_FILE));
}

}  // namespace
