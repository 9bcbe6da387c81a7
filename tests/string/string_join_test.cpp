#include <sys/resource.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "case_label.h"
#include "korv/error.h"
#include "korv/string.h"
#include "korvtest.h"

namespace {

// A "string_join.cpp:<line> <text>" message at LOG_ERR.
bool joinLogged(const std::string &text)
{
    const std::regex re("string_join\\.cpp:[0-9]+ " + std::regex_replace(text, std::regex("[.!?*]"), "\\$&"));
    for (const auto &line : korvtest::syslog_lines())
        if (line.severity() == LOG_ERR && std::regex_match(line.message, re))
            return true;
    return false;
}

struct Buffer {
    char *p = nullptr;
    int cb = 0;
    ~Buffer() { std::free(p); }
};

struct JoinCase {
    std::vector<const char *> items;
    const char *sep;
    const char *joined;
    int allocated;  // the size a fresh buffer gets: the text and its NUL
};

void PrintTo(const JoinCase &c, std::ostream *os)
{
    std::string all;
    for (const char *item : c.items)
        all += std::string(item ? item : "NULL") + "|";
    *os << korvtest::label(all) << "sep" << korvtest::label(c.sep);
}

const JoinCase kJoinCases[] = {
    {{"a", nullptr, "b"}, ",", "a,b", 5},
    {{"x", "yy", "zzz"}, ", ", "x, yy, zzz", 13},
    {{"one"}, ":", "one", 5},
    {{nullptr, "one", nullptr}, ":", "one", 5},
    {{"a", "b", "c"}, "", "abc", 4},
    {{"", "a"}, ",", ",a", 4},
    {{"a", ""}, "--", "a--", 6},
};

class JoinTable : public testing::TestWithParam<JoinCase> {};

TEST_P(JoinTable, AllocatesExactlyTheText)
{
    const JoinCase &c = GetParam();
    Buffer buf;
    ASSERT_EQ(KORLStrJoin(c.items.data(), static_cast<int>(c.items.size()), c.sep, &buf.p, &buf.cb), 0);
    ASSERT_NE(buf.p, nullptr);
    EXPECT_STREQ(buf.p, c.joined);
    EXPECT_EQ(buf.cb, c.allocated);
}

TEST_P(JoinTable, LargeBufferKeptAndZeroedWhole)
{
    const JoinCase &c = GetParam();
    Buffer buf;
    buf.cb = 64;
    buf.p = static_cast<char *>(std::malloc(64));
    std::memset(buf.p, 'Z', 64);
    char *before = buf.p;
    ASSERT_EQ(KORLStrJoin(c.items.data(), static_cast<int>(c.items.size()), c.sep, &buf.p, &buf.cb), 0);
    EXPECT_EQ(buf.p, before);
    EXPECT_EQ(buf.cb, 64);
    EXPECT_STREQ(buf.p, c.joined);
    for (int i = static_cast<int>(std::strlen(c.joined)); i < 64; ++i)
        ASSERT_EQ(buf.p[i], 0) << "byte " << i;
}

TEST_P(JoinTable, SmallBufferGrown)
{
    const JoinCase &c = GetParam();
    Buffer buf;
    buf.cb = 1;
    buf.p = static_cast<char *>(std::malloc(1));
    ASSERT_EQ(KORLStrJoin(c.items.data(), static_cast<int>(c.items.size()), c.sep, &buf.p, &buf.cb), 0);
    EXPECT_STREQ(buf.p, c.joined);
    EXPECT_EQ(buf.cb, c.allocated);
}

INSTANTIATE_TEST_SUITE_P(Cases, JoinTable, testing::ValuesIn(kJoinCases));

TEST(KORLStrJoin, BadParameters)
{
    const char *items[] = {"a", "b"};
    char *owned = static_cast<char *>(std::malloc(8));
    struct Call {
        const char *const *items;
        int count;
        const char *sep;
        bool withBuf;
        char *buf;
        int cb;
    } calls[] = {
        {nullptr, 2, ",", true, nullptr, 0},
        {items, 0, ",", true, nullptr, 0},
        {items, -1, ",", true, nullptr, 0},
        {items, 2, nullptr, true, nullptr, 0},
        {items, 2, ",", false, nullptr, 0},
        {items, 2, ",", true, owned, 0},  // a buffer without a size
    };
    for (const auto &c : calls) {
        korvtest::syslog_clear();
        KORLErrSet(0);
        char *buf = c.buf;
        int cb = c.cb;
        EXPECT_EQ(KORLStrJoin(c.items, c.count, c.sep, c.withBuf ? &buf : nullptr, &cb), -1);
        EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
        EXPECT_STREQ(KORLErrFileGet(), "string_join.cpp");
        EXPECT_EQ(buf, c.buf);
        EXPECT_TRUE(joinLogged("Bad parameters!!")) << korvtest::syslog_dump();
    }
    std::free(owned);
}

TEST(KORLStrJoin, AllItemsNullIsEmpty)
{
    const char *items[] = {nullptr, nullptr};
    Buffer buf;
    EXPECT_EQ(KORLStrJoin(items, 2, ",", &buf.p, &buf.cb), -1);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_BAD_PARAM);
    EXPECT_EQ(buf.p, nullptr);
    EXPECT_TRUE(joinLogged("The input array is empty!!")) << korvtest::syslog_dump();
}

// A text whose size does not fit the int size is refused before the caller's buffer is touched.
TEST(KORLStrJoin, TextLargerThanSizeRangeKeepsBuffer)
{
    std::string big(1 << 20, 'q');
    std::vector<const char *> items(2100, big.c_str());  // about 2.2e9 bytes
    Buffer buf;
    buf.cb = 16;
    buf.p = static_cast<char *>(std::malloc(16));
    std::strcpy(buf.p, "keep");
    char *before = buf.p;
    EXPECT_EQ(KORLStrJoin(items.data(), static_cast<int>(items.size()), ",", &buf.p, &buf.cb), -1);
    EXPECT_EQ(KORLErrGet(), KORL_ERR_NO_MEMORY);
    EXPECT_EQ(buf.p, before);
    EXPECT_EQ(buf.cb, 16);
    EXPECT_STREQ(buf.p, "keep");
    EXPECT_TRUE(joinLogged("Out of memory!!")) << korvtest::syslog_dump();
}

#if defined(__SANITIZE_ADDRESS__)
#define KORV_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KORV_ASAN 1
#endif
#endif

// A growth that the system refuses: the old buffer is gone, so the caller is left with none.
// The refusal is real: a child process limits its address space below the size asked for.
TEST(KORLStrJoin, FailedGrowthLeavesNullBuffer)
{
#ifdef KORV_ASAN
    GTEST_SKIP() << "the address-space limit cannot be combined with AddressSanitizer";
#else
    korvtest::syslog_clear();
    std::string big(1 << 20, 'q');
    std::vector<const char *> items(1500, big.c_str());  // about 1.5e9 bytes
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        char *buf = static_cast<char *>(std::malloc(16));
        int cb = 16;
        struct rlimit lim = {1UL << 30, 1UL << 30};
        if (setrlimit(RLIMIT_AS, &lim) != 0)
            _exit(10);
        int rc = KORLStrJoin(items.data(), static_cast<int>(items.size()), ",", &buf, &cb);
        if (rc != -1)
            _exit(11);
        if (buf != nullptr || cb != 0)
            _exit(12);
        if (KORLErrGet() != KORL_ERR_NO_MEMORY)
            _exit(13);
        // A fresh buffer that cannot be had is left null as well.
        cb = 0;
        if (KORLStrJoin(items.data(), static_cast<int>(items.size()), ",", &buf, &cb) != -1 || buf || cb)
            _exit(14);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(joinLogged("Out of memory!!")) << korvtest::syslog_dump();
#endif
}

}  // namespace
