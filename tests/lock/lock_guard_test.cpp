// The named-lock guard and the locked settings editor: every way out releases the lock (a second
// process can then take it), a failed release reports 0x0500 where the guard was made, and the
// editor's changes reach "/etc/korvinfo.conf" only while its lock can be had.
#include <fcntl.h>
#include <glob.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <string>

#include "file/file_lock_table.h"
#include "korv/error.h"
#include "korv/file_lock.h"
#include "korv_named_lock.h"
#include "korv_settings.h"
#include "korv_sz_holders.h"
#include "korvtest.h"
#include "lock_holder.h"

using korvtest::Holder;

namespace {

constexpr unsigned kExclusive = LOCK_EX | LOCK_NB;

// Whether a second process can take bits exclusively at once.
bool freeForOthers(unsigned bits)
{
    Holder other(bits | kExclusive, 0);
    return other.obtained();
}

KORLLOCKFILE *entryOf(unsigned bit)
{
    for (KORLLOCKFILE *e = gKORLLockFiles; e->bit != 0; ++e)
        if (e->bit == bit)
            return e;
    return nullptr;
}

double secondsSince(const timespec &start)
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec - start.tv_sec) + double(now.tv_nsec - start.tv_nsec) / 1e9;
}

// Every way out of a scope releases what the guard took.
TEST(NamedLockGuard, ReleasesOnEveryWayOut)
{
    struct Case {
        const char *name;
        int (*body)(unsigned bits);
    } const cases[] = {
        {"EarlyReturn",
         [](unsigned bits) {
             korv::NamedLock lock(bits);
             if (lock.Take(LOCK_EX) != 0)
                 return -1;
             return 1;  // no Release: the destructor's
         }},
        {"ExplicitRelease",
         [](unsigned bits) {
             korv::NamedLock lock(bits);
             if (lock.Take(LOCK_EX) != 0)
                 return -1;
             int r = lock.Release();
             return r == 0 && lock.Release() == 0 ? 1 : -1;  // a second release is nothing
         }},
        {"Exception",
         [](unsigned bits) {
             try {
                 korv::NamedLock lock(bits);
                 if (lock.Take(LOCK_EX) != 0)
                     return -1;
                 throw std::bad_alloc();
             } catch (const std::bad_alloc &) {
                 return 1;
             }
         }},
    };
    for (const auto &c : cases) {
        const unsigned bits = KORL_LOCK_KORVINFO | KORL_LOCK_PW;
        EXPECT_EQ(c.body(bits), 1) << c.name;
        EXPECT_TRUE(freeForOthers(bits)) << c.name;
        EXPECT_EQ(entryOf(KORL_LOCK_KORVINFO)->refCount, 0) << c.name;
    }
}

// A guard that never took its lock releases nothing, so an outer hold of this process survives.
TEST(NamedLockGuard, UntakenGuardLeavesOtherHoldsAlone)
{
    ASSERT_EQ(ErrKORLFileLock(KORL_LOCK_SMB | kExclusive, 0), 0);
    {
        Holder other(KORL_LOCK_GR | kExclusive, 0);
        ASSERT_TRUE(other.obtained());
        korv::NamedLock lock(KORL_LOCK_SMB | KORL_LOCK_GR);
        EXPECT_EQ(lock.Take(LOCK_EX, 0), -1);
        EXPECT_EQ(KORLErrGet(), KORL_ERR_LOCK);
        EXPECT_FALSE(lock.held());
    }
    EXPECT_EQ(entryOf(KORL_LOCK_SMB)->refCount, 1);
    EXPECT_FALSE(freeForOthers(KORL_LOCK_SMB));
    EXPECT_EQ(ErrKORLFileUnlock(KORL_LOCK_SMB), 0);
}

TEST(NamedLockGuard, FailedReleaseReportsUnlockAtTheGuard)
{
    korv::NamedLock lock(KORL_LOCK_KORVINFO);
    ASSERT_EQ(lock.Take(LOCK_EX), 0);
    // The lock file's descriptor is gone under the table: the unlock cannot succeed.
    KORLLOCKFILE *entry = entryOf(KORL_LOCK_KORVINFO);
    ASSERT_NE(entry->fp, nullptr);
    int fd = fileno(entry->fp);
    int keep = dup(fd);
    close(fd);
    KORLErrSet(0);
    EXPECT_EQ(lock.Release(), -1);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_UNLOCK);
    EXPECT_STREQ(KORLErrFileGet(), "lock_guard_test.cpp");
    EXPECT_FALSE(lock.held());
    close(keep);  // the kernel drops the lock with its last descriptor
    EXPECT_TRUE(freeForOthers(KORL_LOCK_KORVINFO));
}

class Settings : public testing::Test {
protected:
    void SetUp() override
    {
        korvtest::write_file("/etc/korvinfo.conf", "runsamba=\"no\"\neth0_mtu=\"1500\"\nkeep=\"1\"\n");
    }
};

TEST_F(Settings, EditsUnderTheLockAndReleasesIt)
{
    {
        korv::LockedSettings settings;
        ASSERT_EQ(settings.Lock(), 0);
        EXPECT_FALSE(freeForOthers(KORL_LOCK_KORVINFO));
        EXPECT_EQ(settings.Set("runsamba", "yes"), 1);
        EXPECT_EQ(settings.Remove("eth0_mtu"), 1);
        char value[16] = "";
        EXPECT_GT(settings.Get("runsamba", value, sizeof value), 0);
        EXPECT_STREQ(value, "yes");
    }
    EXPECT_TRUE(freeForOthers(KORL_LOCK_KORVINFO));
    EXPECT_EQ(korvtest::read_file("/etc/korvinfo.conf"), "runsamba=\"yes\"\nkeep=\"1\"\n");

    EXPECT_EQ(korv::LockedSettings::RemoveOne("keep"), 1);
    EXPECT_EQ(korv::LockedSettings::RemoveOne("keep"), 0);
    EXPECT_EQ(korv::LockedSettings::SetOne("new", "a b"), 0);
    char value[16] = "";
    EXPECT_GT(korv::LockedSettings::GetOne("new", value, sizeof value), 0);
    EXPECT_STREQ(value, "a b");
    EXPECT_EQ(korvtest::read_file("/etc/korvinfo.conf"), "runsamba=\"yes\"\nnew=\"a b\"\n");
    EXPECT_TRUE(freeForOthers(KORL_LOCK_KORVINFO));
}

// Another process's exclusive hold: nothing changes, the reader gives up after its own timeout.
TEST_F(Settings, HeldElsewhereChangesNothing)
{
    const std::string before = korvtest::read_file("/etc/korvinfo.conf");
    Holder other(KORL_LOCK_KORVINFO | kExclusive, 0);
    ASSERT_TRUE(other.obtained());

    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    char value[16] = "unchanged";
    EXPECT_EQ(korv::LockedSettings::GetOne("runsamba", value, sizeof value, 1), -1);
    EXPECT_GE(secondsSince(start), 0.9);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_LOCK);
    EXPECT_STREQ(value, "unchanged");

    KORLErrSet(0);
    EXPECT_EQ(korv::LockedSettings::RemoveOne("keep"), -1);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_LOCK);
    EXPECT_EQ(korvtest::read_file("/etc/korvinfo.conf"), before);
}

// An edit needs the editor's own exclusive hold: without it the edit fails with the lock's code
// and the file stays as it was.
TEST_F(Settings, EditWithoutTheExclusiveHoldChangesNothing)
{
    struct Situation {
        const char *name;
        int op;
        bool heldElsewhere;  // another process holds lock_korvinfo exclusively: Lock() fails
        bool lock, unlock;   // Lock() is called, then Unlock()
    } const situations[] = {
        {"HeldByAnotherProcess", LOCK_EX, true, true, false},
        {"NeverLocked", LOCK_EX, false, false, false},
        {"Unlocked", LOCK_EX, false, true, true},
        {"SharedHold", LOCK_SH, false, true, false},
    };
    struct Edit {
        const char *name;
        int (*edit)(const korv::LockedSettings &);
    } const edits[] = {
        {"Set", [](const korv::LockedSettings &s) { return s.Set("runsamba", "yes"); }},
        {"Remove", [](const korv::LockedSettings &s) { return s.Remove("keep"); }},
        {"SetKeys",
         [](const korv::LockedSettings &s) {
             korv::HashHolder set(PshKORLSzHashAlloc(0));
             if (!set || KORLSzHashSetValue(set.addr(), "runsamba", "yes") < 0)
                 return 0;
             return s.SetKeys(set.get());
         }},
    };
    const std::string before = korvtest::read_file("/etc/korvinfo.conf");
    for (const Situation &c : situations) {
        std::unique_ptr<Holder> other;
        if (c.heldElsewhere) {
            other = std::make_unique<Holder>(KORL_LOCK_KORVINFO | kExclusive, 0);
            ASSERT_TRUE(other->obtained()) << c.name;
        }
        korv::LockedSettings settings(c.op, 0);
        if (c.lock) {
            ASSERT_EQ(settings.Lock(), c.heldElsewhere ? -1 : 0) << c.name;
        }
        if (c.unlock) {
            ASSERT_EQ(settings.Unlock(), 0) << c.name;
        }
        for (const Edit &e : edits) {
            KORLErrSet(0);
            EXPECT_EQ(e.edit(settings), -1) << c.name << " " << e.name;
            EXPECT_EQ(KORLErrGet(), KORL_ERR_LOCK) << c.name << " " << e.name;
            EXPECT_STREQ(KORLErrFileGet(), "lock_guard_test.cpp") << c.name << " " << e.name;
            EXPECT_EQ(korvtest::read_file("/etc/korvinfo.conf"), before) << c.name << " " << e.name;
        }
    }
    // Nothing was begun either: no copy beside the file.
    glob_t copies;
    EXPECT_EQ(glob("/etc/korvinfo.conf.*", 0, nullptr, &copies), GLOB_NOMATCH);
    globfree(&copies);
}

}  // namespace
