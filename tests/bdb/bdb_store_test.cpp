// The record store over real Berkeley DB files in the sandbox's /tmp: opening, records, duplicates,
// markers and the one cursor.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "bdb_test_util.h"
#include "korvtest.h"

using namespace bdbtest;
using namespace korvtest;

namespace {

const char *const kPath = "/tmp/.db.test.0947";

mode_t mode_of(const char *path)
{
    struct stat st {};
    EXPECT_EQ(0, stat(path, &st));
    return st.st_mode & 07777;
}

TEST(BDbOpen, MissingFileNeedsCreate)
{
    mark_error();
    EXPECT_EQ(nullptr, KORVBDbOpen(kPath, O_RDWR, 0));
    EXPECT_EQ(KORL_ERR_NO_FILE, KORLErrGet());
    EXPECT_FALSE(file_exists(kPath));

    // Root sets the mode on the new file whatever the umask left of it.
    mode_t old = umask(077);
    Store s(kPath, O_RDWR | O_CREAT);
    umask(old);
    ASSERT_TRUE(s);
    EXPECT_EQ(0666u, mode_of(kPath));
    EXPECT_EQ(KORV_BDB_CURSOR_NEXT, s.get()->cursorType);
    set(s.get(), "alice", "1");
    s.close();

    Store again(kPath, O_RDWR);
    ASSERT_TRUE(again);
    EXPECT_EQ("1", get(again.get(), "alice"));
}

TEST(BDbOpen, FilesThatAreNoStore)
{
    struct Case {
        const char *name;
        const std::string content;
        int code;  // under O_RDWR; O_CREAT gives the same unless the file is empty
    } cases[] = {
        {"text", "root:x:0:0::/root:/bin/sh\n", KORL_ERR_BDB_INVALID},
        {"zeros", std::string(8192, '\0'), KORL_ERR_BDB_INVALID},
        {"empty", "", KORL_ERR_BDB_INVALID},
    };
    for (const auto &c : cases) {
        write_file(kPath, c.content);
        mark_error();
        EXPECT_EQ(nullptr, KORVBDbOpen(kPath, O_RDWR, 0)) << c.name;
        EXPECT_EQ(c.code, KORLErrGet()) << c.name;
        if (!c.content.empty()) {
            mark_error();
            EXPECT_EQ(nullptr, KORVBDbOpen(kPath, O_RDWR | O_CREAT, 1)) << c.name;
            EXPECT_EQ(c.code, KORLErrGet()) << c.name;
        }
        EXPECT_EQ(c.content, read_file(kPath)) << c.name;
    }
}

TEST(BDbOpen, OnlyRegularFilesWithoutLinks)
{
    // A link planted at the store's name is never followed, whether its target exists or not.
    write_file("/etc/passwd", "root:x:0:0::/root:/bin/sh\n");
    ASSERT_EQ(0, symlink("/etc/passwd", kPath));
    ASSERT_EQ(0, symlink("/etc/created-through-link", "/tmp/.db.dangling"));
    ASSERT_EQ(0, mkdir("/tmp/.db.dir", 0755));
    ASSERT_EQ(0, mkfifo("/tmp/.db.fifo", 0644));
    int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_LE(0, sock);
    struct sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    strcpy(addr.sun_path, "/tmp/.db.sock");
    ASSERT_EQ(0, bind(sock, reinterpret_cast<struct sockaddr *>(&addr), sizeof addr));
    for (const char *path : {kPath, "/tmp/.db.dangling", "/tmp/.db.dir", "/tmp/.db.fifo", "/tmp/.db.sock"}) {
        for (int flags : {O_RDWR, O_RDWR | O_CREAT}) {
            mark_error();
            EXPECT_EQ(nullptr, KORVBDbOpen(path, flags, 0)) << path;
            EXPECT_EQ(KORL_ERR_OPEN, KORLErrGet()) << path;
        }
    }
    close(sock);
    EXPECT_EQ("root:x:0:0::/root:/bin/sh\n", read_file("/etc/passwd"));
    EXPECT_FALSE(file_exists("/etc/created-through-link"));
    EXPECT_TRUE(syslog_contains("dbopen failed."));
}

TEST(BDbOpen, StoreOfAnotherUserIsNoStore)
{
    {
        Store s(kPath);
        ASSERT_TRUE(s);
        set(s.get(), "ALICE", "forged");
    }
    ASSERT_EQ(0, chown(kPath, 1000, 1000));
    mark_error();
    EXPECT_EQ(nullptr, KORVBDbOpen(kPath, O_RDWR, 0));
    EXPECT_EQ(KORL_ERR_BDB_INVALID, KORLErrGet());
    // Root's own stores serve every process.
    ASSERT_EQ(0, chown(kPath, 0, 0));
    Store again(kPath, O_RDWR);
    EXPECT_TRUE(again);
}

TEST(BDbOpen, BadArguments)
{
    for (const char *path : {static_cast<const char *>(nullptr), ""}) {
        mark_error();
        EXPECT_EQ(nullptr, KORVBDbOpen(path, O_RDWR | O_CREAT, 0));
        EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    }
    mark_error();
    EXPECT_EQ(-1, KORVBDbClose(nullptr));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
}

TEST(BDbRecords, ValuesComeBackAsStored)
{
    Store s(kPath);
    ASSERT_TRUE(s);
    set(s.get(), std::string("ALICE\0", 6), std::string("alice:x:1030:100:::\0", 20));
    Buf b;
    ASSERT_EQ(0, KORVBDbGet(s.get(), "ALICE", 6, &b.p, &b.cb));
    // The copy adds nothing: the NUL that was stored is there, and the size is the item's.
    EXPECT_EQ(20, b.cb);
    EXPECT_STREQ("alice:x:1030:100:::", static_cast<char *>(b.p));

    // The caller's buffer is reused and grows only for a larger item.
    set(s.get(), "big", std::string(100, 'b'));
    set(s.get(), "small", "s");
    ASSERT_EQ(0, KORVBDbGet(s.get(), "big", 3, &b.p, &b.cb));
    void *grown = b.p;
    ASSERT_EQ(100, b.cb);
    ASSERT_EQ(0, KORVBDbGet(s.get(), "small", 5, &b.p, &b.cb));
    EXPECT_EQ(grown, b.p);
    EXPECT_EQ(1, b.cb);

    mark_error();
    EXPECT_EQ(-1, KORVBDbGet(s.get(), "bob", 3, &b.p, &b.cb));
    EXPECT_EQ(KORL_ERR_NOT_FOUND, KORLErrGet());
    mark_error();
    EXPECT_EQ(-1, KORVBDbDelete(s.get(), "bob", 3));
    EXPECT_EQ(KORL_ERR_NOT_FOUND, KORLErrGet());
}

TEST(BDbRecords, LengthsBelowOneAreRefused)
{
    Store s(kPath);
    ASSERT_TRUE(s);
    Buf b;
    for (int len : {0, -1, -100}) {
        mark_error();
        EXPECT_EQ(-1, KORVBDbSet(s.get(), "k", len, "v", 1)) << len;
        EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
        mark_error();
        EXPECT_EQ(-1, KORVBDbSet(s.get(), "k", 1, "v", len)) << len;
        EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
        mark_error();
        EXPECT_EQ(-1, KORVBDbGet(s.get(), "k", len, &b.p, &b.cb)) << len;
        EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
        mark_error();
        EXPECT_EQ(-1, KORVBDbDelete(s.get(), "k", len)) << len;
        EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    }
    EXPECT_TRUE(walk(s.get(), 0).empty());
    mark_error();
    EXPECT_EQ(-1, KORVBDbSet(nullptr, "k", 1, "v", 1));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    EXPECT_EQ(-1, KORVBDbGet(s.get(), "k", 1, nullptr, &b.cb));
    EXPECT_EQ(-1, KORVBDbCursorGet(s.get(), 0, &b.p, nullptr, &b.p, &b.cb));
}

TEST(BDbDuplicates, IdKeysAddRecordsAndDeleteRemovesAll)
{
    const std::string id("001030\0", 7);
    {
        Store dup(kPath, O_RDWR | O_CREAT, 1);
        ASSERT_TRUE(dup);
        set(dup.get(), id, std::string("ALICE\0", 6));
        set(dup.get(), id, std::string("BOB\0", 4));
        EXPECT_EQ((Records{{id, std::string("ALICE\0", 6)}, {id, std::string("BOB\0", 4)}}), walk(dup.get(), 1));
        // A get reads the first record of the key.
        EXPECT_EQ(std::string("ALICE\0", 6), get(dup.get(), id));
        EXPECT_EQ(0, KORVBDbDelete(dup.get(), id.data(), 7));
        mark_error();
        EXPECT_EQ(-1, KORVBDbDelete(dup.get(), id.data(), 7));
        EXPECT_EQ(KORL_ERR_NOT_FOUND, KORLErrGet());
        EXPECT_TRUE(walk(dup.get(), 0).empty());
    }
    Store plain("/tmp/.db.plain", O_RDWR | O_CREAT, 0);
    ASSERT_TRUE(plain);
    set(plain.get(), id, "first");
    set(plain.get(), id, "second");
    EXPECT_EQ((Records{{id, "second"}}), walk(plain.get(), 0));
}

TEST(BDbMarkers, StaySingleAndLittleEndian)
{
    Store dup(kPath, O_RDWR | O_CREAT, 1);
    ASSERT_TRUE(dup);
    ASSERT_EQ(0, KORVBDbConfSyncTimeSet(dup.get(), 0x11223344));
    ASSERT_EQ(0, KORVBDbConfSyncTimeSet(dup.get(), 0x01020304));
    ASSERT_EQ(0, KORVBDbDeprecatedSet(dup.get(), 0));
    Records markers = walk(dup.get(), 0);
    // The stored words are the device's little-endian ones; the sync-time key has no NUL, the
    // deprecated key has one.
    EXPECT_EQ((Records{{std::string("#KORV@DEPRECATED\0", 17), le32(0)}, {"#KORV@SYNC@TIME", le32(0x01020304)}}),
              markers);
    // Only markers: a walk that skips them ends at once.
    Buf k, d;
    ASSERT_EQ(0, KORVBDbCursorSetType(dup.get(), KORV_BDB_CURSOR_FIRST));
    mark_error();
    EXPECT_EQ(-1, KORVBDbCursorGet(dup.get(), 1, &k.p, &k.cb, &d.p, &d.cb));
    EXPECT_EQ(KORL_ERR_BDB_END, KORLErrGet());
    EXPECT_TRUE(walk(dup.get(), 1, true).empty());

    void *value = nullptr;
    ASSERT_EQ(0, KORVBDbConfSyncTimeGet(dup.get(), &value));
    EXPECT_EQ(0x01020304, *static_cast<int *>(value));
    // The buffer must start empty: a block of the caller's is never overwritten or lost.
    mark_error();
    EXPECT_EQ(-1, KORVBDbConfSyncTimeGet(dup.get(), &value));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    KORVBDbFree(value);
}

TEST(BDbMarkers, SyncTimeAndDeprecatedReads)
{
    Store s(kPath);
    ASSERT_TRUE(s);
    mark_error();
    EXPECT_EQ(-1, KORVBDbIsNeedToRebuild(s.get(), 100));
    EXPECT_EQ(KORL_ERR_NOT_FOUND, KORLErrGet());
    EXPECT_EQ(-1, KORVBDbDeprecatedGet(s.get()));
    ASSERT_EQ(0, KORVBDbConfSyncTimeSet(s.get(), 100));
    EXPECT_EQ(0, KORVBDbIsNeedToRebuild(s.get(), 100));
    EXPECT_EQ(1, KORVBDbIsNeedToRebuild(s.get(), 101));
    ASSERT_EQ(0, KORVBDbDeprecatedSet(s.get(), 1));
    EXPECT_EQ(1, KORVBDbDeprecatedGet(s.get()));
    // A marker that is not one word is a damaged record, not a value.
    set(s.get(), std::string("#KORV@DEPRECATED\0", 17), "1");
    mark_error();
    EXPECT_EQ(-1, KORVBDbDeprecatedGet(s.get()));
    EXPECT_EQ(KORL_ERR_MALFORMED, KORLErrGet());
    mark_error();
    EXPECT_EQ(-1, KORVBDbDeprecatedGet(nullptr));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
}

TEST(BDbMarkers, DomainEntriesExpireAfter300Seconds)
{
    Store s(kPath);
    ASSERT_TRUE(s);
    EXPECT_EQ(1, KORVBDbDomainIsNeedToRebuild(s.get()));
    ASSERT_EQ(0, KORVBDbDomainExpireTimeSet(s.get()));
    EXPECT_EQ(0, KORVBDbDomainIsNeedToRebuild(s.get()));

    auto loadedAgo = [&](long seconds) {
        uint32_t at = static_cast<uint32_t>(time(nullptr) - seconds);
        set(s.get(), "#KORV@EXPIRE@TIME", le32(at));
        return KORVBDbDomainIsNeedToRebuild(s.get());
    };
    EXPECT_EQ(0, loadedAgo(299));
    EXPECT_EQ(1, loadedAgo(302));
    EXPECT_EQ(1, loadedAgo(-30));  // a load time in the future
    void *value = nullptr;
    ASSERT_EQ(0, KORVBDbDomainExpireTimeGet(s.get(), &value));
    EXPECT_NEAR(static_cast<double>(time(nullptr) + 30), static_cast<double>(*static_cast<int *>(value)), 2);
    KORVBDbFree(value);
    mark_error();
    EXPECT_EQ(0, KORVBDbDomainIsNeedToRebuild(nullptr));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
}

// A store of "a", "b", "c" and the marker "#M", which sorts before them.
class BDbCursor : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(s_);
        for (const char *k : {"b", "#M", "a", "c"})
            set(s_.get(), k, std::string("v") + k);
    }
    // Reads once at the cursor: the key, or "<end>".
    std::string read(int skip)
    {
        if (KORVBDbCursorGet(s_.get(), skip, &k_.p, &k_.cb, &d_.p, &d_.cb) != 0)
            return KORLErrGet() == KORL_ERR_BDB_END ? "<end>" : "<error>";
        return k_.str();
    }
    void setRange(const std::string &key)
    {
        KORVBDbFree(k_.p);
        k_.p = malloc(key.size());
        memcpy(k_.p, key.data(), key.size());
        k_.cb = static_cast<int>(key.size());
        ASSERT_EQ(0, KORVBDbCursorSetType(s_.get(), KORV_BDB_CURSOR_SET_RANGE));
    }
    Store s_{kPath};
    Buf k_, d_;
};

TEST_F(BDbCursor, WalksBothWays)
{
    EXPECT_EQ((Records{{"#M", "v#M"}, {"a", "va"}, {"b", "vb"}, {"c", "vc"}}), walk(s_.get(), 0));
    EXPECT_EQ((Records{{"c", "vc"}, {"b", "vb"}, {"a", "va"}}), walk(s_.get(), 1, true));
    // A first read that skips a marker leaves the cursor reading forward.
    ASSERT_EQ(0, KORVBDbCursorSetType(s_.get(), KORV_BDB_CURSOR_FIRST));
    EXPECT_EQ("a", read(1));
    EXPECT_EQ(KORV_BDB_CURSOR_NEXT, s_.get()->cursorType);
    EXPECT_EQ("b", read(1));
}

TEST_F(BDbCursor, SetRangePositionsAndMovesOnFromMarkers)
{
    setRange("b");
    EXPECT_EQ("b", read(1));
    setRange("bb");
    EXPECT_EQ("c", read(1));
    // Landing on a marker while skipping moves on to the following record, then reads on.
    setRange("#");
    EXPECT_EQ("a", read(1));
    EXPECT_EQ("b", read(1));
    setRange("#");
    EXPECT_EQ("#M", read(0));
    setRange("d");
    EXPECT_EQ("<end>", read(1));
    // A store whose only record past the position is a marker ends instead of reading it again.
    set(s_.get(), "#~", "x");
    ASSERT_EQ(0, KORVBDbDelete(s_.get(), "a", 1));
    ASSERT_EQ(0, KORVBDbDelete(s_.get(), "b", 1));
    ASSERT_EQ(0, KORVBDbDelete(s_.get(), "c", 1));
    setRange("#");
    EXPECT_EQ("<end>", read(1));
}

TEST_F(BDbCursor, BadTypesAndSetRangeWithoutKey)
{
    for (int type : {0, 6, -1}) {
        mark_error();
        EXPECT_EQ(-1, KORVBDbCursorSetType(s_.get(), type));
        EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    }
    EXPECT_EQ(KORV_BDB_CURSOR_NEXT, s_.get()->cursorType);
    ASSERT_EQ(0, KORVBDbCursorSetType(s_.get(), KORV_BDB_CURSOR_SET_RANGE));
    Buf k, d;
    mark_error();
    EXPECT_EQ(-1, KORVBDbCursorGet(s_.get(), 1, &k.p, &k.cb, &d.p, &d.cb));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
}

TEST(BDbRealloc, GrowsAndRecords)
{
    void *p = nullptr;
    int cb = 0;
    ASSERT_EQ(0, KORVCheckAndRealloc(&p, &cb, 16));
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(16, cb);
    EXPECT_EQ(std::string(16, '\0'), std::string(static_cast<char *>(p), 16));
    memcpy(p, "0123456789abcdef", 16);
    void *was = p;
    ASSERT_EQ(0, KORVCheckAndRealloc(&p, &cb, 8));
    EXPECT_EQ(was, p);
    EXPECT_EQ(16, cb);
    ASSERT_EQ(0, KORVCheckAndRealloc(&p, &cb, 4096));
    EXPECT_EQ(4096, cb);
    EXPECT_EQ("0123456789abcdef", std::string(static_cast<char *>(p), 16));

    struct {
        void **pp;
        int *pcb;
        int need;
    } bad[] = {{&p, &cb, 0}, {&p, &cb, -5}, {&p, nullptr, 8}, {nullptr, &cb, 8}};
    for (const auto &c : bad) {
        mark_error();
        EXPECT_EQ(-1, KORVCheckAndRealloc(c.pp, c.pcb, c.need));
        EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    }
    int zero = 0;
    mark_error();
    EXPECT_EQ(-1, KORVCheckAndRealloc(&p, &zero, 8));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    EXPECT_EQ(4096, cb);
    free(p);
}

}  // namespace
