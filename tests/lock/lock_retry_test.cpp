// The flock holder that the library's file locks go through: its bound against a second real
// process holding the lock, and the ways a take ends.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "korv_lock_retry.h"
#include "korvtest.h"
#include "lock_holder.h"

using namespace korvtest;
using Status = korv::LockedFile::Status;

namespace {

const char kFile[] = "/tmp/lock_retry";

struct RetryCase {
    const char *name;
    int held;  // the other process: -2 none, -1 for the whole take, else it lets go after held ms
    int flags;                // how the descriptor is opened; -1: none is given
    korv::LockBound bound;
    Status expect;
    int err;                  // err() afterwards
};

const RetryCase kRetryCases[] = {
    {"FreeIsHeldAtOnce", -2, O_RDONLY, {.tries = 5, .pause = 1000}, Status::Held, 0},
    {"BusyForTheWholeBound", -1, O_RDONLY, {.tries = 4, .pause = 10000}, Status::Busy, EWOULDBLOCK},
    {"OneTryOnly", -1, O_RDONLY, {.tries = 1, .pause = 0}, Status::Busy, EWOULDBLOCK},
    {"LetGoWithinTheBound", 100, O_RDONLY, {.tries = 500, .pause = 10000}, Status::Held, 0},
    // A descriptor that flock refuses (EBADF) is no lock held elsewhere: never tried again.
    {"OtherFailureEndsAtOnce", -2, O_PATH, {.tries = 500, .pause = 10000}, Status::Failed, EBADF},
    {"NoDescriptorFails", -2, -1, {.tries = 500, .pause = 10000}, Status::Failed, EBADF},
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
    write_file(kFile, "");
    std::optional<FlockHolder> other;
    if (c.held != -2) {
        other.emplace(kFile, c.held);
        ASSERT_TRUE(other->obtained());
    }
    {
        korv::LockedFile lock(LOCK_EX | LOCK_NB, c.bound);
        korv::UniqueFd fd(c.flags < 0 ? -1 : open(kFile, c.flags | O_CLOEXEC));
        EXPECT_EQ(c.expect, lock.Take(std::move(fd)));
        EXPECT_EQ(c.expect, lock.status());
        EXPECT_EQ(c.err, lock.err());
        EXPECT_EQ(c.expect == Status::Held, lock.fd() >= 0);
        if (c.expect == Status::Held) {
            EXPECT_FALSE(lockable());
        }
    }
    other.reset();
    // Nothing stays held once the holder is gone.
    EXPECT_TRUE(lockable());
}

INSTANTIATE_TEST_SUITE_P(Cases, LockRetry, testing::ValuesIn(kRetryCases),
                         [](const auto &info) { return std::string(info.param.name); });

// A descriptor the caller opened is locked as it is; Release() hands it over still locked.
TEST(LockRetryGiven, DescriptorLockedAndHandedOver)
{
    write_file(kFile, "");
    korv::UniqueFd fd(open(kFile, O_RDWR | O_CLOEXEC));
    ASSERT_TRUE(fd);
    const int raw = fd.get();
    korv::UniqueFd kept;
    {
        korv::LockedFile lock(LOCK_EX | LOCK_NB, {.tries = 1, .pause = 0});
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
