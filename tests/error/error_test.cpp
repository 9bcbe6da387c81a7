#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "korv/error.h"
#include "korvtest.h"

namespace {

// Captures what a call writes to standard output.
template <typename F>
std::string capture_stdout(F &&fn)
{
    fflush(stdout);
    int saved = dup(STDOUT_FILENO);
    FILE *tmp = tmpfile();
    dup2(fileno(tmp), STDOUT_FILENO);
    fn();
    fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    rewind(tmp);
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, tmp)) > 0)
        out.append(buf, n);
    fclose(tmp);
    return out;
}

size_t count_lines(const std::string &text)
{
    size_t n = 0;
    for (char c : text)
        n += c == '\n';
    return n;
}

int record_deep(int depth);
// Called through a volatile pointer and kept after the call, so the optimiser can neither turn
// the recursion into a loop nor the call into a jump: every level stays a frame.
int (*volatile gRecordNext)(int) = record_deep;

__attribute__((noinline)) int record_deep(int depth)
{
    if (depth == 0) {
        KORLErrSet(0x0D00);
        return 0;
    }
    volatile int below = gRecordNext(depth - 1);
    return below + 1;
}

}  // namespace

TEST(ErrorState, StartsAtZeroAndKeepsTheLastFailure)
{
    EXPECT_EQ(KORLErrGet(), 0);
    EXPECT_EQ(KORLErrFileGet(), nullptr);
    EXPECT_EQ(KORLErrLineGet(), 0);

    KORLErrSetEx(0x0D00, "list_get.c", 30);
    EXPECT_EQ(KORLErrGet(), 0x0D00);
    EXPECT_EQ(korverr, 0x0D00);
    EXPECT_STREQ(KORLErrFileGet(), "list_get.c");
    EXPECT_EQ(KORLErrLineGet(), 30);

    KORLErrSet(0x0900);
    EXPECT_EQ(KORLErrGet(), 0x0900);
    EXPECT_EQ(KORLErrFileGet(), nullptr);
    EXPECT_EQ(KORLErrLineGet(), 0);
}

TEST(ErrorState, SourceFileIsKeptNotCopied)
{
    static const char file[] = "file_get_key_value.cpp";
    KORLErrSetEx(0x2000, file, 7);
    EXPECT_EQ(KORLErrFileGet(), file);
}

TEST(ErrorBacktrace, EachRecordReplacesTheSavedSymbols)
{
    KORLErrSet(0x0200);
    std::string first = capture_stdout([] { KORLErrBacktracePuts(); });
    ASSERT_GT(count_lines(first), 0u);
    // A second record frees the first block (LeakSanitizer checks it under ASan) and saves its own.
    record_deep(3);
    std::string second = capture_stdout([] { KORLErrBacktracePuts(); });
    EXPECT_GT(count_lines(second), count_lines(first));
}

TEST(ErrorBacktrace, DeepStacksKeepOnlyTheInnermost64Frames)
{
    record_deep(100);
    std::string out = capture_stdout([] { KORLErrBacktracePuts(); });
    EXPECT_EQ(count_lines(out), 64u);
}

TEST(ErrorBacktrace, FreedSymbolsPrintNothing)
{
    KORLErrSet(0x0100);
    KORLErrBacktraceFree();
    EXPECT_EQ(capture_stdout([] { KORLErrBacktracePuts(); }), "");
    korvtest::syslog_clear();
    KORLErrBacktracePrint();
    EXPECT_TRUE(korvtest::syslog_lines().empty());
    EXPECT_EQ(KORLErrGet(), 0x0100);
}

TEST(ErrorBacktrace, PrintGoesToConsoleAndSyslog)
{
    // The tree's /dev/console is a plain file, so what the console got can be read back.
    korvtest::write_file("/dev/console", "");
    record_deep(2);
    std::string symbols = capture_stdout([] { KORLErrBacktracePuts(); });
    korvtest::syslog_clear();
    KORLErrBacktracePrint();

    EXPECT_EQ(korvtest::read_file("/dev/console"), symbols);
    auto lines = korvtest::syslog_lines();
    ASSERT_EQ(lines.size(), count_lines(symbols));
    size_t start = 0;
    for (const auto &line : lines) {
        size_t end = symbols.find('\n', start);
        EXPECT_EQ(line.message, symbols.substr(start, end - start) + "\n");
        EXPECT_EQ(line.severity(), 3);  // LOG_ERR
        start = end + 1;
    }
}

TEST(ErrorBacktrace, PrintWithoutConsoleStillLogs)
{
    korvtest::make_dirs("/dev/console");  // a directory cannot be opened for writing
    KORLErrSet(0x0B00);
    korvtest::syslog_clear();
    KORLErrBacktracePrint();
    EXPECT_FALSE(korvtest::syslog_lines().empty());
}
