// The command builder and UPDTExecute: paths quoted only where they must be (escaped inside the
// double quotes of the dd commands), commands never cut, and only a normal exit with status 0
// counted as done.
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "korvtest.h"
#include "updater.h"

namespace {

struct QuoteCase {
    const char *name;
    std::string command;
    std::string expected;
};

const std::string kLong(300, 'd');

std::vector<QuoteCase> QuoteCases()
{
    return {
        {"OrdinaryPathsAsWritten",
         korv::proc::ShellCommand("/bin/mv -f %s/%s %s/%s", {"/volume1/upd@te", "hda1.tgz", "/volume1",
                                                             "KorvUpgrade.tar.gz"}),
         "/bin/mv -f /volume1/upd@te/hda1.tgz /volume1/KorvUpgrade.tar.gz"},
        {"NumbersAndPercent",
         korv::proc::ShellCommand("/bin/dd if=%s of=/dev/mtd%d bs=16384 # 100%%", {"/a/zImage", 3}),
         "/bin/dd if=/a/zImage of=/dev/mtd3 bs=16384 # 100%"},
        {"BlankIsQuoted", korv::proc::ShellCommand("/bin/rm -rf %s/%s", {"/volume1/upd ate", "b@ckup"}),
         "/bin/rm -rf '/volume1/upd ate'/b@ckup"},
        {"QuoteIsEscaped", korv::proc::ShellCommand("/bin/rm -rf %s", {"/v/it's"}), "/bin/rm -rf '/v/it'\\''s'"},
        {"ShellSyntaxStaysData", korv::proc::ShellCommand("/bin/rm -rf %s", {"/v/$(reboot);`x`|y>z&"}),
         "/bin/rm -rf '/v/$(reboot);`x`|y>z&'"},
        {"DoubleQuotedOrdinaryAsWritten",
         korv::proc::ShellCommand("/bin/dd if=\"%s\" of=\"/dev/mtd%d\" bs=16384", {"/volume1/upd@te/zImage", 1}),
         "/bin/dd if=\"/volume1/upd@te/zImage\" of=\"/dev/mtd1\" bs=16384"},
        {"DoubleQuotedKeepsBlanks",
         korv::proc::ShellCommand("/bin/dd if=\"%s/%s/mtd_%s\" of=\"%s\" bs=131072",
                                  {"/volume1/upd@te", "b@ckup", "RedBoot Config", "/dev/mtd6"}),
         "/bin/dd if=\"/volume1/upd@te/b@ckup/mtd_RedBoot Config\" of=\"/dev/mtd6\" bs=131072"},
        {"DoubleQuotedEscapesWhatTheShellReads",
         korv::proc::ShellCommand("/bin/dd if=\"%s\" of=\"/dev/mtd%d\"", {"/v/$x `y` \\z \"q\" 's'", 6}),
         "/bin/dd if=\"/v/\\$x \\`y\\` \\\\z \\\"q\\\" 's'\" of=\"/dev/mtd6\""},
        {"UnbalancedDoubleQuote", korv::proc::ShellCommand("/bin/dd if=\"%s", {"/a"}), ""},
        {"NulInsideAText", korv::proc::ShellCommand("/bin/rm %s", {std::string("/a\0b", 4)}), ""},
        {"DdCommand", UPDTDdCommand("/dev/mtd1", "/v/b@ckup/mtd_zImage", 16384),
         "/bin/dd if=\"/dev/mtd1\" of=\"/v/b@ckup/mtd_zImage\" bs=16384"},
        {"DdCommandWithCount", UPDTDdCommand("/v/b@ckup/mtd_rd.gz", "/dev/mtd2", 16384, 176),
         "/bin/dd if=\"/v/b@ckup/mtd_rd.gz\" of=\"/dev/mtd2\" bs=16384 count=176"},
        {"LongPathsAreNotCut", korv::proc::ShellCommand("/bin/rm -rf %s/%s", {"/" + kLong, kLong}),
         "/bin/rm -rf /" + kLong + "/" + kLong},
        {"TooFewArguments", korv::proc::ShellCommand("/bin/mv %s %s", {"a"}), ""},
        {"TooManyArguments", korv::proc::ShellCommand("/bin/mv %s", {"a", "b"}), ""},
        {"NumberForText", korv::proc::ShellCommand("/bin/rm %s", {3}), ""},
        {"TextForNumber", korv::proc::ShellCommand("of=/dev/mtd%d", {"3; reboot"}), ""},
    };
}

class ShellCommand : public testing::TestWithParam<QuoteCase> {};

TEST_P(ShellCommand, IsBuiltWhole)
{
    EXPECT_EQ(GetParam().command, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, ShellCommand, testing::ValuesIn(QuoteCases()),
                         [](const auto &info) { return std::string(info.param.name); });

// What the shell does with a built command: every name reaches the program as one argument.
TEST(ShellCommandRun, HostileNamesStayOneArgument)
{
    const std::string dir = "/tmp/a b'c\"$(touch /tmp/pwned)`touch /tmp/pwned`;d";
    korvtest::make_dirs(dir);
    korvtest::write_file(dir + "/hda1.tgz", "archive");
    korvtest::make_dirs("/volume1");
    EXPECT_EQ(UPDTExecute("/bin/mv -f %s/%s %s/%s", {dir, "hda1.tgz", "/volume1", "KorvUpgrade.tar.gz"}), 0);
    EXPECT_EQ(korvtest::read_file("/volume1/KorvUpgrade.tar.gz"), "archive");
    EXPECT_FALSE(korvtest::file_exists(dir + "/hda1.tgz"));
    EXPECT_FALSE(korvtest::file_exists("/tmp/pwned"));
}

// Inside the double quotes of a dd command the same names reach dd as they are.
TEST(ShellCommandRun, HostileNamesInsideDoubleQuotes)
{
    const std::string dir = "/tmp/a b'c\"$(touch /tmp/pwned)`touch /tmp/pwned`\\;d";
    korvtest::make_dirs(dir);
    korvtest::write_file(dir + "/mtd_RedBoot Config", "flash bytes");
    std::string cmd = UPDTDdCommand(dir + "/mtd_RedBoot Config", dir + "/copy $HOME", 16384);
    EXPECT_EQ(UPDTExecute(cmd.c_str()), 0) << cmd;
    EXPECT_EQ(korvtest::read_file(dir + "/copy $HOME"), "flash bytes");
    EXPECT_FALSE(korvtest::file_exists("/tmp/pwned"));
}

TEST(Execute, OnlyExitStatusZeroIsSuccess)
{
    struct Case {
        const char *cmd;
        int result;
        const char *message;  // nullptr: none
    };
    const Case cases[] = {
        {"exit 0", 0, nullptr},
        {"exit 3", -1, "UPDTExecute(<L>): failed to execute cmd=[exit 3], ret = 3"},
        {"/no/such/program", -1, "UPDTExecute(<L>): failed to execute cmd=[/no/such/program], ret = 127"},
        // Ended by a signal, not by an exit: not done (the shell itself is killed).
        {"kill -KILL $$", -1, "UPDTExecute(<L>): failed to execute cmd=[kill -KILL $$], ret = 137"},
        {"kill -TERM $$", -1, "UPDTExecute(<L>): failed to execute cmd=[kill -TERM $$], ret = 143"},
    };
    for (const Case &c : cases) {
        korvtest::syslog_clear();
        EXPECT_EQ(UPDTExecute(c.cmd), c.result) << c.cmd;
        if (c.message)
            EXPECT_TRUE(korvtest::syslog_has_pattern(c.message)) << korvtest::syslog_dump();
        else
            EXPECT_TRUE(korvtest::syslog_lines().empty()) << korvtest::syslog_dump();
    }
    korvtest::syslog_clear();
    EXPECT_EQ(UPDTExecute(nullptr), -1);
    EXPECT_TRUE(korvtest::syslog_lines().empty());
}

// A command the builder refuses is never run, and never counts as done: the shell would run an
// empty one and exit 0.
TEST(Execute, RefusedCommandsFailWithoutRunning)
{
    korvtest::make_dirs("/volume1");
    struct Case {
        const char *name;
        std::function<int()> run;
        int result;
    };
    const Case cases[] = {
        {"EmptyCommand", [] { return UPDTExecute(""); }, -1},
        {"TooFewArguments", [] { return UPDTExecute("/bin/touch %s %s", {"/volume1/ran"}); }, -1},
        {"NulInAnArgument", [] { return UPDTExecute("/bin/touch %s", {std::string("/volume1/ran\0x", 14)}); }, -1},
        {"QuietTooFewArguments", [] { return UPDTRunCommand("/bin/touch %s %s", {"/volume1/ran"}); }, -1},
        {"QuietRuns", [] { return UPDTRunCommand("/bin/touch %s", {"/volume1/ran"}) == 0 ? 1 : 0; }, 1},
    };
    for (const Case &c : cases) {
        korvtest::syslog_clear();
        unlink("/volume1/ran");
        EXPECT_EQ(c.run(), c.result) << c.name;
        EXPECT_EQ(korvtest::file_exists("/volume1/ran"), c.result == 1) << c.name;
        EXPECT_TRUE(korvtest::syslog_lines().empty()) << c.name << "\n" << korvtest::syslog_dump();
    }
    // The quiet runner hands the command it built, and the status of a failed one.
    std::string cmd;
    EXPECT_EQ(korv::proc::ExitCode(UPDTRunCommand("exit %d", {4}, &cmd)), 4);
    EXPECT_EQ(cmd, "exit 4");
    EXPECT_EQ(UPDTRunCommand("exit %s", {4}, &cmd), -1);
    EXPECT_EQ(cmd, "");
}

TEST(CompareVersion, FieldByField)
{
    struct Case {
        const char *a, *b;
        int result;
    };
    const Case cases[] = {
        {"2.0.1", "2.0.1rc", 0},   // both third fields read 1
        {"2.rc", "2.beta", 1},
        {"2.beta", "2.alpha", 1},
        {"2.ALPHA", "2.rc", -1},
        {"2.0", "2.0.1", -1},
        {"2.0.", "2.0.1", -1},     // an empty field against 1
        {"2.0.1", "2.0", 1},
        {"2.0", "2.0.", 0},
        {"2.0", "2.0", 0},
        {"3", "2.9.9", 1},
        {"2.10", "2.9", 1},
        {"", "1", -1},
        {"1", "", 1},
        {"", "", 0},
        {"2.x", "2.0", 0},         // a text that is no stage ranks as 0
    };
    for (const Case &c : cases)
        EXPECT_EQ(UPDTCompareVersion(c.a, c.b), c.result) << c.a << " vs " << c.b;
    EXPECT_EQ(UPDTCompareVersion(nullptr, "1"), 0);
    EXPECT_EQ(UPDTCompareVersion("1", nullptr), 0);
    // Texts longer than 31 characters are compared on their first 31.
    std::string a = "2." + std::string(29, '0') + "1";  // the 1 is the 32nd character
    EXPECT_EQ(UPDTCompareVersion(a.c_str(), "2.0"), 0);
}

}  // namespace
