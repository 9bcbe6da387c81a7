// The flock holder that the library's file locks go through: its bound against a second real
// process holding the lock, the ways a take ends, and the lock on the file at the path.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "korv_lock_retry.h"
#include "korvtest.h"
#include "lock_holder.h"

using namespace korvtest;
using Status = korv::LockedFile::Status;
using Reopen = korv::LockedFile::Reopen;

namespace {

const char kFile[] = "/tmp/lock_retry";

struct RetryCase {
    const char *name;
    int held;  // the other process: -2 none, -1 for the whole take, else it lets go after held ms
    bool file;                // the file exists
    int flags;                // how the opener opens it
    korv::LockBound bound;
    Reopen reopen;
    Status expect;
    int opens;                // times the opener ran
    int err;                  // err() afterwards
};

const RetryCase kRetryCases[] = {
    {"FreeIsHeldAtOnce", -2, true, O_RDONLY, {.tries = 5, .pause = 1000}, Reopen::Never, Status::Held, 1, 0},
    {"BusyForTheWholeBound", -1, true, O_RDONLY, {.tries = 4, .pause = 10000}, Reopen::Never, Status::Busy, 1,
     EWOULDBLOCK},
    {"OneTryOnly", -1, true, O_RDONLY, {.tries = 1, .pause = 0}, Reopen::Never, Status::Busy, 1, EWOULDBLOCK},
    {"EachTryOpensAnew", -1, true, O_RDONLY, {.tries = 4, .pause = 10000}, Reopen::EachTry, Status::Busy, 4,
     EWOULDBLOCK},
    {"LetGoWithinTheBound", 100, true, O_RDONLY, {.tries = 500, .pause = 10000}, Reopen::Never, Status::Held, 1, 0},
    {"MissingEndsEachTryAtOnce", -2, false, O_RDONLY, {.tries = 5, .pause = 10000}, Reopen::EachTry,
     Status::Missing, 1, ENOENT},
    {"OpenFailureEndsTheOthers", -2, false, O_RDONLY, {.tries = 5, .pause = 10000}, Reopen::Never, Status::Failed,
     1, ENOENT},
    // A descriptor that flock refuses (EBADF) is no lock held elsewhere: tried again only when told.
    {"OtherFailureEndsAtOnce", -2, true, O_PATH, {.tries = 5, .pause = 10000}, Reopen::Never, Status::Failed, 1,
     EBADF},
    {"OtherFailureTriedAgain", -2, true, O_PATH, {.tries = 3, .pause = 10000, .whileBusy = false}, Reopen::EachTry,
     Status::Busy, 3, EBADF},
};

void PrintTo(const RetryCase &c, std::ostream *os)
{
    *os << c.name;
}

// Whether another open of the file could take the lock now.
bool lockable()
{
    korv::UniqueFd other(open(kFile, O_RDONLY | O_CLOEXEC));
    return other && flock(other.get(), LOCK_EX | LOCK_NB) == 0;
}

class LockRetry : public testing::TestWithParam<RetryCase> {};

TEST_P(LockRetry, EndsAsTheBoundSays)
{
    const RetryCase &c = GetParam();
    remove_tree(kFile);
    if (c.file)
        write_file(kFile, "");
    std::optional<FlockHolder> other;
    if (c.held != -2) {
        other.emplace(kFile, c.held);
        ASSERT_TRUE(other->obtained());
    }
    int opens = 0;
    {
        korv::LockedFile lock(kFile, LOCK_EX | LOCK_NB, c.bound);
        auto opener = [&] {
            ++opens;
            return open(kFile, c.flags | O_CLOEXEC);
        };
        EXPECT_EQ(c.expect, lock.Take(opener, c.reopen));
        EXPECT_EQ(c.expect, lock.status());
        EXPECT_EQ(c.opens, opens);
        EXPECT_EQ(c.err, lock.err());
        EXPECT_EQ(c.expect == Status::Held, lock.fd() >= 0);
        if (c.expect == Status::Held) {
            EXPECT_FALSE(lockable());
        }
    }
    other.reset();
    // Nothing stays held once the holder is gone.
    if (c.file) {
        EXPECT_TRUE(lockable());
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, LockRetry, testing::ValuesIn(kRetryCases),
                         [](const auto &info) { return std::string(info.param.name); });

ino_t inode_of(int fd)
{
    struct stat st {};
    fstat(fd, &st);
    return st.st_ino;
}

// A file renamed over the path while the other process holds the old one's lock: the lock is
// taken on the file at the path only where the caller asks for that.
TEST(LockRetryReplaced, LockIsOnTheFileAtThePath)
{
    for (Reopen reopen : {Reopen::WhenReplaced, Reopen::Never}) {
        write_file(kFile, "old");
        struct stat old {};
        ASSERT_EQ(0, stat(kFile, &old));
        FlockHolder other(kFile);
        ASSERT_TRUE(other.obtained());
        std::thread swap([&] {
            usleep(100000);
            write_file("/tmp/lock_retry.new", "new");
            rename("/tmp/lock_retry.new", kFile);
            other.release();
        });
        korv::LockedFile lock(kFile, LOCK_EX | LOCK_NB, {.tries = 500, .pause = 10000});
        int opens = 0;
        const Status status = lock.Take(
            [&] {
                ++opens;
                return open(kFile, O_RDONLY | O_CLOEXEC);
            },
            reopen);
        swap.join();
        ASSERT_EQ(Status::Held, status);
        struct stat now {};
        ASSERT_EQ(0, stat(kFile, &now));
        if (reopen == Reopen::WhenReplaced) {
            EXPECT_EQ(now.st_ino, inode_of(lock.fd()));
            EXPECT_EQ(2, opens);
            EXPECT_FALSE(lockable());
        } else {
            EXPECT_EQ(old.st_ino, inode_of(lock.fd()));
            EXPECT_EQ(1, opens);
        }
    }
}

// A descriptor the caller opened is locked as it is; Release() hands it over still locked.
TEST(LockRetryGiven, DescriptorLockedAndHandedOver)
{
    write_file(kFile, "");
    korv::UniqueFd fd(open(kFile, O_RDWR | O_CLOEXEC));
    ASSERT_TRUE(fd);
    const int raw = fd.get();
    korv::UniqueFd kept;
    {
        korv::LockedFile lock(kFile, LOCK_EX | LOCK_NB, {.tries = 1, .pause = 0});
        ASSERT_EQ(Status::Held, lock.Take(std::move(fd)));
        EXPECT_EQ(raw, lock.fd());
        kept = lock.Release();
        EXPECT_EQ(-1, lock.fd());
    }
    EXPECT_EQ(raw, kept.get());
    EXPECT_FALSE(lockable());
    kept.reset();
    EXPECT_TRUE(lockable());
}

}  // namespace
