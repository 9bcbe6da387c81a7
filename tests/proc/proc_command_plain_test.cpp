// Plain commands started without the shell: which commands are plain and their words, how their
// program is found, and that they run as "/bin/sh -c" would run them: arguments, statuses,
// signals, and the shell itself for everything else.
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "korv_command.h"
#include "in_child.h"
#include "korvtest.h"

namespace proc = korv::proc;
using korvtest::file_exists;
using korvtest::read_file;
using korvtest::write_file;

namespace {

using Words = std::optional<std::vector<std::string>>;
const Words kToShell = std::nullopt;

struct WordsCase {
    const char *name;
    const char *command;
    Words words;
};

const WordsCase kWordsCases[] = {
    {"Dd", "/bin/dd if=\"/dev/mtd0\" of=\"/volume1/upd@te/b@ckup/mtd_RedBoot\" bs=16384",
     Words{{"/bin/dd", "if=/dev/mtd0", "of=/volume1/upd@te/b@ckup/mtd_RedBoot", "bs=16384"}}},
    {"Rm", "/bin/rm -rf /volume1/upd@te/b@ckup", Words{{"/bin/rm", "-rf", "/volume1/upd@te/b@ckup"}}},
    {"BareName", "touch /.NormalShutdown", Words{{"touch", "/.NormalShutdown"}}},
    {"Options", "/sbin/sfdisk -l -uS -N1 /dev/hda", Words{{"/sbin/sfdisk", "-l", "-uS", "-N1", "/dev/hda"}}},
    {"EveryPlainCharacter", "/x/a_Z.9 +=,:%-@", Words{{"/x/a_Z.9", "+=,:%-@"}}},
    {"SpacesAround", "   /x/p   a    b  ", Words{{"/x/p", "a", "b"}}},
    {"QuotedSpaces", "/x/p \"a  b\" \" lead\"", Words{{"/x/p", "a  b", " lead"}}},
    {"EmptyQuotes", "/x/p \"\" a \"\"", Words{{"/x/p", "", "a", ""}}},
    {"QuotesJoinWords", "/x/p a\"b c\"d\"\"e", Words{{"/x/p", "ab cde"}}},
    {"QuotedProgram", "\"/x/p\" a", Words{{"/x/p", "a"}}},
    {"LaterWordsMayBeBuiltins", "/x/p echo cd exit a=b", Words{{"/x/p", "echo", "cd", "exit", "a=b"}}},
    {"SingleQuotes", "/x/p 'a'", kToShell},
    {"Backslash", "/x/p a\\ b", kToShell},
    {"Dollar", "/x/p $HOME", kToShell},
    {"Backquote", "/x/p `id`", kToShell},
    {"Pipe", "/x/p a|/x/q", kToShell},
    {"Background", "/x/p &", kToShell},
    {"List", "/x/p;/x/q", kToShell},
    {"RedirectOut", "/x/p >/tmp/f", kToShell},
    {"RedirectIn", "/x/p </tmp/f", kToShell},
    {"Subshell", "(/x/p)", kToShell},
    {"Group", "{ /x/p; }", kToShell},
    {"Star", "/x/p *", kToShell},
    {"Question", "/x/p a?", kToShell},
    {"Bracket", "/x/p [ab]", kToShell},
    {"Tilde", "/x/p ~/a", kToShell},
    {"Comment", "/x/p #a", kToShell},
    {"Bang", "! /x/p", kToShell},
    {"Tab", "/x/p\ta", kToShell},
    {"Newline", "/x/p\n/x/q", kToShell},
    {"NotAscii", "/x/p \xc3\xa9", kToShell},
    {"DollarInQuotes", "/x/p \"$HOME\"", kToShell},
    {"BackquoteInQuotes", "/x/p \"`id`\"", kToShell},
    {"BackslashInQuotes", "/x/p \"a\\\"b\"", kToShell},
    {"StarInQuotes", "/x/p \"*\"", kToShell},
    {"UnclosedQuote", "/x/p \"a b", kToShell},
    {"Empty", "", kToShell},
    {"OnlySpaces", "   ", kToShell},
    {"EmptyProgram", "\"\" a", kToShell},
    {"Assignment", "A=1 /x/p", kToShell},
    {"AssignmentOnly", "A=1", kToShell},
    {"Echo", "echo hi", kToShell},
    {"Cd", "cd /tmp", kToShell},
    {"Exec", "exec /x/p", kToShell},
    {"Kill", "kill -HUP 1", kToShell},
    {"Colon", ": a", kToShell},
    {"Dot", ". /x/p", kToShell},
    {"Test", "test -f /x/p", kToShell},
    {"True", "true", kToShell},
    {"Keyword", "if /x/p", kToShell},
    {"QuotedBuiltin", "\"exit\" 3", kToShell},
};

TEST(PlainWords, WordsOrTheShell)
{
    for (const WordsCase &c : kWordsCases) {
        std::vector<std::string> words{"left over"};
        bool plain = proc::PlainWords(c.command, words);
        EXPECT_EQ(plain, c.words.has_value()) << c.name;
        EXPECT_EQ(words, c.words.value_or(std::vector<std::string>{})) << c.name;
    }
    std::vector<std::string> words;
    EXPECT_FALSE(proc::PlainWords(nullptr, words));
}

// PATH changed for one test and put back.
class PathSet {
public:
    explicit PathSet(const char *path)
    {
        const char *old = getenv("PATH");
        if (old)
            old_ = old;
        if (path)
            setenv("PATH", path, 1);
        else
            unsetenv("PATH");
    }
    ~PathSet()
    {
        if (old_)
            setenv("PATH", old_->c_str(), 1);
        else
            unsetenv("PATH");
    }

private:
    std::optional<std::string> old_;
};

TEST(PlainProgram, FoundAsTheShellFindsIt)
{
    korvtest::make_dirs("/tmp/p1/prog");  // a directory of the name
    korvtest::make_dirs("/tmp/p2");
    korvtest::make_dirs("/tmp/p3");
    write_file("/tmp/p2/prog", "#!/bin/sh\n", 0644);  // not executable
    write_file("/tmp/p3/prog", "#!/bin/sh\n", 0755);
    write_file("/tmp/p2/other", "#!/bin/sh\n", 0755);
    struct Case {
        const char *name;
        const char *path;
        const char *word;
        const char *program;
    } const cases[] = {
        {"Absolute", "/tmp/p1", "/x/not-looked-at", "/x/not-looked-at"},
        {"FirstExecutableFile", "/tmp/p1:/tmp/p2:/tmp/p3", "prog", "/tmp/p3/prog"},
        {"EarlierEntryWins", "/tmp/p2:/tmp/p3", "other", "/tmp/p2/other"},
        {"RelativeEntryLaterIsNotReached", "/tmp/p2:rel", "other", "/tmp/p2/other"},
        {"RelativeEntryBefore", "rel:/tmp/p3", "prog", ""},
        {"EmptyEntryBefore", ":/tmp/p3", "prog", ""},
        {"EmptyEntryAtTheEnd", "/tmp/p1:", "prog", ""},
        {"NotFound", "/tmp/p1:/tmp/p2", "prog", ""},
        {"EmptyPath", "", "prog", ""},
        {"NoPath", nullptr, "prog", ""},
        {"RelativeWord", "/tmp", "p3/prog", ""},
        {"EmptyWord", "/tmp/p3", "", ""},
    };
    for (const auto &c : cases) {
        PathSet path(c.path);
        EXPECT_EQ(proc::PlainProgram(c.word), c.program) << c.name;
    }
}

// The shell's real program and a "/bin/sh" in its place that counts its starts.
const char kShellLog[] = "/tmp/shell.starts";

class PlainRun : public testing::Test {
protected:
    void SetUp() override
    {
        char target[PATH_MAX];
        ssize_t n = readlink("/bin/sh", target, sizeof target - 1);
        ASSERT_GT(n, 0) << "/bin/sh is a link to the tools";
        target[n] = '\0';
        realShell_ = target[0] == '/' ? target : std::string("/bin/") + target;
        ASSERT_EQ(unlink("/bin/sh"), 0);
        write_file("/bin/sh",
                   "#!" + realShell_ + "\necho start >> " + kShellLog + "\nexec " + realShell_ + " \"$@\"\n", 0755);
        korvtest::make_dirs("/tmp/bin");
        // Fixtures run by the real shell, so that only the starts of "/bin/sh" are counted.
        program("/tmp/args",
                "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > /tmp/args.out\n"
                "case \"$1\" in [0-9]*) exit \"$1\";; esac\n");
        copy("/tmp/args", "/tmp/bin/args");
        program("/tmp/lines", "for a in \"$@\"; do printf '%s\\n' \"$a\"; done\n");
        program("/tmp/killed", "kill -TERM $$\n");
        program("/tmp/signal-caller", "kill -INT $PPID; kill -QUIT $PPID; sleep 0.2; exit 5\n");
        write_file("/tmp/not-executable", "#!" + realShell_ + "\nexit 0\n", 0644);
        write_file("/tmp/no-interpreter", "echo x > /tmp/args.out\nexit 6\n", 0755);
    }
    void TearDown() override
    {
        if (realShell_.empty())
            return;
        unlink("/bin/sh");
        symlink(realShell_.c_str(), "/bin/sh");
    }
    void program(const std::string &path, const std::string &body)
    {
        write_file(path, "#!" + realShell_ + "\n" + body, 0755);
    }
    void copy(const std::string &from, const std::string &to) { korvtest::copy_file(from, to, 0755); }
    static size_t shellStarts()
    {
        std::string log = read_file(kShellLog);
        return static_cast<size_t>(std::count(log.begin(), log.end(), '\n'));
    }

    std::string realShell_;
};

TEST_F(PlainRun, RunsAsTheShellWould)
{
    PathSet path("/bin:/tmp/bin");
    struct Case {
        const char *name;
        const char *command;
        bool shell;         // started through "/bin/sh"
        int exitCode;
        const char *output;  // /tmp/args.out afterwards, null for none
    } const cases[] = {
        {"Words", "/tmp/args a \"b  c\" \"\" d\"e f\"", false, 0, "a\nb  c\n\nde f\n"},
        {"ExitCode", "/tmp/args 3 x", false, 3, "3\nx\n"},
        {"FoundInPath", "args 4", false, 4, "4\n"},
        {"Killed", "/tmp/killed", false, 128 + SIGTERM, nullptr},
        {"Expansion", "/tmp/args a$((1+1))", true, 0, "a2\n"},
        {"SingleQuoted", "/tmp/args 'a b'", true, 0, "a b\n"},
        {"HostileText", "/tmp/args x;/tmp/args 7 `echo y`", true, 7, "7\ny\n"},
        {"Builtin", "exit 9", true, 9, nullptr},
        {"MissingProgram", "/tmp/no-such-program a", true, 127, nullptr},
        {"MissingBareName", "no-such-program a", true, 127, nullptr},
        {"NotExecutable", "/tmp/not-executable", true, 126, nullptr},
        {"ScriptWithoutInterpreter", "/tmp/no-interpreter", true, 6, "x\n"},
    };
    for (const auto &c : cases) {
        unlink("/tmp/args.out");
        size_t before = shellStarts();
        int status = proc::RunShell(c.command);
        EXPECT_EQ(proc::ExitCode(status), c.exitCode) << c.name;
        EXPECT_EQ(shellStarts() > before, c.shell) << c.name;
        EXPECT_EQ(file_exists("/tmp/args.out"), c.output != nullptr) << c.name;
        if (c.output) {
            EXPECT_EQ(read_file("/tmp/args.out"), c.output) << c.name;
        }
    }
    // A killed program's status is the signal's, as the shell's exec of it leaves it.
    EXPECT_TRUE(WIFSIGNALED(proc::RunShell("/tmp/killed")));
}

using proctest::in_child;

void on_signal(int) {}

// The bit of signal in a "Sig...:" mask line of /proc/PID/status as text.
bool status_bit(const std::string &status, const char *key, int signal)
{
    size_t at = status.find(std::string("\n") + key + ":\t");
    if (at == std::string::npos)
        return false;
    unsigned long long mask = strtoull(status.c_str() + at + strlen(key) + 3, nullptr, 16);
    return (mask >> (signal - 1)) & 1;
}

TEST_F(PlainRun, SignalsAsSystemLeavesThem)
{
    // SIGINT and SIGQUIT from the program reach a caller that ignores them while it waits.
    EXPECT_EQ(in_child([] {
                  signal(SIGINT, SIG_DFL);
                  signal(SIGQUIT, SIG_DFL);
                  int code = proc::ExitCode(proc::RunShell("/tmp/signal-caller"));
                  struct sigaction now {};
                  sigaction(SIGINT, nullptr, &now);
                  sigset_t mask;
                  sigprocmask(SIG_BLOCK, nullptr, &mask);
                  // Put back afterwards: default action, SIGCHLD not blocked.
                  return code == 5 && now.sa_handler == SIG_DFL && !sigismember(&mask, SIGCHLD) ? 0 : 1;
              }),
              0);
    EXPECT_EQ(shellStarts(), 0u);

    // The program starts with the caller's mask and SIGINT at the default action unless the
    // caller ignored it.
    struct Case {
        const char *name;
        void (*interrupt)(int);
        bool ignored;
    } const cases[] = {
        {"Default", SIG_DFL, false},
        {"Handled", on_signal, false},
        {"Ignored", SIG_IGN, true},
    };
    for (const auto &c : cases) {
        unlink("/tmp/status.out");
        EXPECT_EQ(in_child([&] {
                      signal(SIGINT, c.interrupt);
                      signal(SIGQUIT, c.interrupt);
                      sigset_t usr;
                      sigemptyset(&usr);
                      sigaddset(&usr, SIGUSR1);
                      sigprocmask(SIG_BLOCK, &usr, nullptr);
                      int out = open("/tmp/status.out", O_WRONLY | O_CREAT | O_TRUNC, 0644);
                      if (out < 0 || dup2(out, STDOUT_FILENO) < 0)
                          return 2;
                      return proc::Succeeded(proc::RunShell("/bin/cat /proc/self/status")) ? 0 : 1;
                  }),
                  0)
            << c.name;
        std::string status = read_file("/tmp/status.out");
        ASSERT_NE(status.find("\nSigIgn:"), std::string::npos) << c.name;
        EXPECT_EQ(status_bit(status, "SigIgn", SIGINT), c.ignored) << c.name;
        EXPECT_EQ(status_bit(status, "SigIgn", SIGQUIT), c.ignored) << c.name;
        EXPECT_TRUE(status_bit(status, "SigBlk", SIGUSR1)) << c.name;
        EXPECT_FALSE(status_bit(status, "SigBlk", SIGCHLD)) << c.name;
    }
    EXPECT_EQ(shellStarts(), 0u);
}

TEST_F(PlainRun, CallersDirectoryAndEnvironment)
{
    korvtest::make_dirs("/tmp/here");
    program("/tmp/where", "printf '%s\\n' \"$(pwd)\" \"$KORV_PLAIN_TEST\" > /tmp/args.out\n");
    EXPECT_EQ(in_child([] {
                  if (chdir("/tmp/here") != 0 || setenv("KORV_PLAIN_TEST", "kept", 1) != 0)
                      return 2;
                  return proc::Succeeded(proc::RunShell("/tmp/where")) ? 0 : 1;
              }),
              0);
    EXPECT_EQ(read_file("/tmp/args.out"), "/tmp/here\nkept\n");
    EXPECT_EQ(shellStarts(), 0u);
}

TEST_F(PlainRun, FirstLineOfAPlainCommand)
{
    std::string many;
    for (int i = 0; i < 100000; ++i)
        many += "line " + std::to_string(i) + "\n";
    write_file("/tmp/many", many);  // more than a pipe holds: the rest is never read
    struct Case {
        const char *name;
        const char *command;
        size_t size;
        bool shell;
        int result;
        const char *line;
    } const cases[] = {
        {"FirstOfMany", "/tmp/lines one two", 16, false, 1, "one\n"},
        {"QuotedWord", "/tmp/lines \"a b\" c", 16, false, 1, "a b\n"},
        {"CutToTheBuffer", "/tmp/lines 0123456789", 5, false, 1, "0123"},
        {"NoOutput", "/tmp/lines", 16, false, 0, ""},
        {"LongOutputLeftUnread", "/bin/cat /tmp/many", 16, false, 1, "line 0\n"},
        {"FailingProgram", "/tmp/args 4", 16, false, 0, ""},
        {"Missing", "/tmp/no-such-program", 16, true, 0, ""},
        {"ThroughTheShell", "/tmp/lines $((6*7))", 16, true, 1, "42\n"},
    };
    for (const auto &c : cases) {
        char line[16];
        memset(line, 'x', sizeof line);
        size_t before = shellStarts();
        EXPECT_EQ(proc::FirstLine(c.command, line, c.size), c.result) << c.name;
        EXPECT_STREQ(line, c.line) << c.name;
        EXPECT_EQ(shellStarts() > before, c.shell) << c.name;
    }
}

// The caller's descriptors stay as they were: the pipe's ends are closed, none is left open.
TEST_F(PlainRun, FirstLineLeavesNoDescriptor)
{
    auto open_fds = [] {
        int n = 0;
        for (int fd = 0; fd < 1024; ++fd)
            n += fcntl(fd, F_GETFD) != -1;
        return n;
    };
    int before = open_fds();
    char line[8];
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(proc::FirstLine("/tmp/lines a", line, sizeof line), 1);
    EXPECT_EQ(open_fds(), before);
}

}  // namespace
