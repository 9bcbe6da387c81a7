// The library's command runner: programs by their argument list (no argument becomes shell
// syntax), their statuses as the shell reports them, and the first line of a command's output.
#include <errno.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <span>
#include <string>
#include <vector>

#include "korv_command.h"
#include "korvtest.h"

namespace proc = korv::proc;
using korvtest::file_exists;
using korvtest::read_file;
using korvtest::write_file;

namespace {

// A program that writes its arguments one per line, says something on both outputs and exits
// with its first argument when that is a number.
const char kArgsProgram[] = "/tmp/args";

class Command : public testing::Test {
protected:
    void SetUp() override
    {
        write_file(kArgsProgram,
                   "#!/bin/sh\n"
                   "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > /tmp/args.out\n"
                   "echo out; echo err >&2\n"
                   "case \"$1\" in [0-9]*) exit \"$1\";; esac\n",
                   0755);
    }
};

TEST_F(Command, ArgumentsStayData)
{
    const char *hostile[] = {kArgsProgram, "a b", "$(touch /tmp/pwned)", "`touch /tmp/pwned`", "x;touch /tmp/pwned",
                             "'", "\"", ""};
    int status = proc::Run(std::span<const char *const>(hostile), {.quiet = true});
    ASSERT_TRUE(proc::Succeeded(status)) << status;
    EXPECT_EQ(read_file("/tmp/args.out"),
              "a b\n$(touch /tmp/pwned)\n`touch /tmp/pwned`\nx;touch /tmp/pwned\n'\n\"\n\n");
    EXPECT_FALSE(file_exists("/tmp/pwned"));
}

TEST_F(Command, StatusesAsTheShellReportsThem)
{
    write_file("/tmp/killed", "#!/bin/sh\nkill -9 $$\n", 0755);
    struct Case {
        const char *name;
        std::vector<const char *> argv;
        bool started;
        int exitCode;
    } const cases[] = {
        {"Exits0", {kArgsProgram}, true, 0},
        {"Exits3", {kArgsProgram, "3"}, true, 3},
        {"Killed", {"/tmp/killed"}, true, 128 + SIGKILL},
        {"Missing", {"/tmp/no-such-program"}, false, -1},
        {"Empty", {}, false, -1},
        {"NullArgument", {kArgsProgram, nullptr}, false, -1},
    };
    for (const auto &c : cases) {
        int status = proc::Run(std::span<const char *const>(c.argv), {.quiet = true});
        EXPECT_EQ(status != -1, c.started) << c.name;
        EXPECT_EQ(proc::ExitCode(status), c.exitCode) << c.name;
        EXPECT_EQ(proc::Succeeded(status), c.exitCode == 0) << c.name;
    }
    // Through the shell the same statuses come back.
    EXPECT_EQ(proc::ExitCode(proc::RunShell("/tmp/args 7 >/dev/null 2>&1")), 7);
    EXPECT_EQ(proc::ExitCode(proc::RunShell("/tmp/killed")), 128 + SIGKILL);
    EXPECT_EQ(proc::RunShell(nullptr), -1);
}

// Quiet drops both outputs; otherwise the program writes where the caller's do.
TEST_F(Command, QuietDropsTheOutputs)
{
    for (bool quiet : {false, true}) {
        fflush(stdout);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        EXPECT_TRUE(proc::Succeeded(proc::Run({kArgsProgram}, {.quiet = quiet})));
        std::string out = testing::internal::GetCapturedStdout();
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(out, quiet ? "" : "out\n") << quiet;
        EXPECT_EQ(err, quiet ? "" : "err\n") << quiet;
    }
}

TEST_F(Command, FirstLineOfTheOutput)
{
    struct Case {
        const char *name;
        const char *command;
        size_t size;
        int result;
        const char *line;
    } const cases[] = {
        {"FirstOfMany", "printf 'one\\ntwo\\n'", 16, 1, "one\n"},
        {"CutToTheBuffer", "echo 0123456789", 5, 1, "0123"},
        {"NoNewline", "printf last", 16, 1, "last"},
        {"NoOutput", "true", 16, 0, ""},
        {"FailingCommandsOutput", "echo partial; exit 4", 16, 1, "partial\n"},
    };
    for (const auto &c : cases) {
        char line[16];
        memset(line, 'x', sizeof line);
        EXPECT_EQ(proc::FirstLine(c.command, line, c.size), c.result) << c.name;
        EXPECT_STREQ(line, c.line) << c.name;
    }
    char line[4];
    EXPECT_EQ(proc::FirstLine(nullptr, line, sizeof line), -1);
    EXPECT_EQ(proc::FirstLine("true", line, 0), -1);
}

TEST_F(Command, EventLogCommand)
{
    write_file("/usr/korv/bin/korvlogset1", "#!/bin/sh\nprintf '%s|' \"$@\" > /tmp/korvlogset1.args\n", 0755);
    EXPECT_TRUE(proc::Succeeded(proc::RunEventLogSet("sys", "err", "0x1180050A")));
    EXPECT_EQ(read_file("/tmp/korvlogset1.args"), "sys|err|0x1180050A|");
}

}  // namespace
