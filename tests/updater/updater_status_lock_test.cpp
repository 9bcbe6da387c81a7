// The progress file's lock schedule, counted at the calls: a file held by another process is
// tried once and then up to 20 more times, each failed retry followed by a pause of 337
// microseconds, and a value still locked out is skipped.
//
// flock and usleep are wrapped for the whole program; they count only while a case is armed.
#include <dlfcn.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "korvtest.h"
#include "lock_holder.h"
#include "updater.h"

namespace {

struct Counted {
    bool armed = false;
    int exclusive = 0;                 // flock calls for LOCK_EX
    std::vector<useconds_t> pauses;    // usleep calls
    int letGoAt = -1;                  // the other process lets go after this many pauses
    korvtest::FlockHolder *other = nullptr;
};
Counted gCounted;

template <typename F>
F *Real(const char *name)
{
    return reinterpret_cast<F *>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int flock(int fd, int op) noexcept
{
    static auto *real = Real<int(int, int)>("flock");
    if (gCounted.armed && (op & ~LOCK_NB) == LOCK_EX)
        ++gCounted.exclusive;
    return real(fd, op);
}

extern "C" int usleep(useconds_t usec)
{
    static auto *real = Real<int(useconds_t)>("usleep");
    if (gCounted.armed) {
        gCounted.pauses.push_back(usec);
        if (gCounted.other && static_cast<int>(gCounted.pauses.size()) == gCounted.letGoAt)
            gCounted.other->release();
    }
    return real(usec);
}

namespace {

const char kProgress[] = "/tmp/update.progress";

TEST(ProgressLock, ScheduleOfTriesAndPauses)
{
    struct Case {
        const char *name;
        bool held;    // another process holds the file's lock
        int letGoAt;  // ... and lets go after this many pauses (-1: never)
        int retry;
        int result;
        int tries;    // exclusive flock calls
        int pauses;   // of 337 microseconds each
    } const cases[] = {
        {"FreeAtOnce", false, -1, 1, 0, 1, 0},
        {"FreedAfterThreePauses", true, 3, 1, 0, 5, 3},
        {"FreedAfterTheLastRetry", true, 20, 1, -2, 21, 20},
        {"HeldThroughout", true, -1, 1, -2, 21, 20},
        {"HeldWithoutRetry", true, -1, 0, -2, 1, 0},
    };
    for (const Case &c : cases) {
        korvtest::write_file(kProgress, "A:10:      ");
        std::optional<korvtest::FlockHolder> other;
        if (c.held) {
            other.emplace(kProgress);
            ASSERT_TRUE(other->obtained()) << c.name;
        }
        gCounted = Counted{};
        gCounted.letGoAt = c.letGoAt;
        gCounted.other = other ? &*other : nullptr;
        gCounted.armed = true;
        const int result = UPDTWriteStatusFile(kProgress, "P:0:      ", c.retry);
        const Counted counted = gCounted;
        gCounted = Counted{};
        EXPECT_EQ(c.result, result) << c.name;
        EXPECT_EQ(c.tries, counted.exclusive) << c.name;
        EXPECT_EQ(std::vector<useconds_t>(static_cast<size_t>(c.pauses), 337), counted.pauses) << c.name;
        EXPECT_EQ(c.result == 0 ? "P:0:       " : "A:10:      ", korvtest::read_file(kProgress)) << c.name;
    }
}

}  // namespace
