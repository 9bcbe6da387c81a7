// The FTP chroot list: enumerate, add and delete over real files of the tree.
#include <errno.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "case_label.h"
#include "korv/error.h"
#include "korv/file.h"
#include "korv/ftp.h"
#include "korv/list.h"
#include "korvtest.h"
#include "sz_list.h"

using namespace korvtest;

namespace {

const char *const kList = KORV_FTP_CHROOT_CONF;

std::vector<std::string> temp_files()
{
    std::string out;
    run_shell("ls -a /usr/korv/etc | grep '^ftpchroot.conf.' || true", &out);
    std::vector<std::string> names;
    for (size_t from = 0, nl; (nl = out.find('\n', from)) != std::string::npos; from = nl + 1)
        names.push_back(out.substr(from, nl - from));
    return names;
}

TEST(ChrootEnum, SkipsCommentsAndEmptyLinesDomainUsersByUserHome)
{
    const std::string file = "bob\n#carol\n\nalice\nDOM\\dave\nEve";  // last line without newline
    const struct {
        const char *userHome;
        std::vector<std::string> expected;
    } cases[] = {{nullptr, {"alice", "bob", "Eve"}},
                 {"no", {"alice", "bob", "Eve"}},
                 {"yes", {"alice", "bob", "Eve", "DOM\\dave"}}};
    for (const auto &c : cases) {
        write_file(kList, file);
        write_file(KORV_INFO_CONF, c.userHome ? std::string("enableduserhome=\"") + c.userHome + "\"\n" : "");
        PKORLSZLIST list = list_of({});
        EXPECT_EQ(int(c.expected.size()), KORVFTPEnumChrootUser(&list)) << (c.userHome ? c.userHome : "absent");
        EXPECT_EQ(c.expected, items_of(list));
        EXPECT_EQ(KORL_SZLIST_UNSORTED, list->sortMode);
        KORLSzListFree(list);
    }
}

TEST(ChrootEnum, MissingFileAndBadArguments)
{
    PKORLSZLIST list = list_of({"kept"});
    EXPECT_EQ(0, KORVFTPEnumChrootUser(&list));
    EXPECT_EQ(std::vector<std::string>{"kept"}, items_of(list));
    EXPECT_EQ(-1, KORVFTPEnumChrootUser(nullptr));
    PKORLSZLIST none = nullptr;
    EXPECT_EQ(-1, KORVFTPEnumChrootUser(&none));
    // A list that cannot be read is a failure.
    make_dirs(kList);
    EXPECT_EQ(-1, KORVFTPEnumChrootUser(&list));
    KORLSzListFree(list);
}

using namespace std::string_literals;

struct AddCase {
    const char *name;
    std::optional<std::string> before;  // none: no file
    std::vector<std::string> add;
    std::string after;
    std::vector<std::string> listAfter;
};

const AddCase kAddCases[] = {
    {"NameInFileKeepsItsSpelling", "alice\n", {"Alice", "carol"}, "alice\ncarol\n", {"carol"}},
    {"MissingFileCreatedInListOrder", std::nullopt, {"zed", "amy"}, "zed\namy\n", {"zed", "amy"}},
    {"CommentsAndEmptyLinesDropped", "#x\n\nbob\n", {"amy"}, "bob\namy\n", {"amy"}},
    {"LastLineWithoutNewline", "bob\nlong name", {"x"}, "bob\nlong name\nx\n", {"x"}},
    {"NothingNew", "bob\n", {"BOB"}, "bob\n", {}},
    {"NulByteInALineKeptWhole", "a\0b\nbob\n"s, {"carol"}, "a\0b\nbob\ncarol\n"s, {"carol"}},
    {"NotUtf8NameNotAddedAgain", "bad\xff\n", {"bad\xff", "x"}, "bad\xff\nx\n", {"x"}},
};

class ChrootAdd : public testing::TestWithParam<AddCase> {};

void PrintTo(const AddCase &c, std::ostream *os)
{
    *os << c.name;
}

TEST_P(ChrootAdd, File)
{
    const AddCase &c = GetParam();
    make_dirs("/usr/korv/etc");
    if (c.before)
        write_file(kList, *c.before, 0640);
    PKORLSZLIST list = list_of(c.add);
    EXPECT_EQ(0, KORVFTPAddChrootUser(list));
    EXPECT_EQ(c.after, read_file(kList));
    EXPECT_EQ(c.listAfter, items_of(list));
    struct stat st {};
    ASSERT_EQ(0, stat(kList, &st));
    if (c.before) {
        EXPECT_EQ(0640u, st.st_mode & 07777);
    }
    EXPECT_TRUE(temp_files().empty());
    KORLSzListFree(list);
}

INSTANTIATE_TEST_SUITE_P(Cases, ChrootAdd, testing::ValuesIn(kAddCases),
                         [](const auto &info) { return std::string(info.param.name); });

struct DeleteCase {
    const char *name;
    std::optional<std::string> before;
    std::vector<std::string> remove;
    std::optional<std::string> after;  // none: still no file
};

const DeleteCase kDeleteCases[] = {
    {"Caseless", "alice\nBob\ncarol\n", {"bob", "ALICE"}, "carol\n"},
    {"NothingRemovedStillRewritten", "#c\nalice\n\n", {"zed"}, "alice\n"},
    {"LastLineWithoutNewline", "alice\nbob", {"alice"}, "bob\n"},
    {"MissingFileStaysMissing", std::nullopt, {"alice"}, std::nullopt},
    {"NulByteInALineKeptWhole", "a\0b\nbob\nalice\n"s, {"alice"}, "a\0b\nbob\n"s},
    {"NotUtf8NameDeleted", "alice\nbad\xff\nbob\n", {"bad\xff"}, "alice\nbob\n"},
};

class ChrootDelete : public testing::TestWithParam<DeleteCase> {};

void PrintTo(const DeleteCase &c, std::ostream *os)
{
    *os << c.name;
}

TEST_P(ChrootDelete, File)
{
    const DeleteCase &c = GetParam();
    if (c.before)
        write_file(kList, *c.before);
    PKORLSZLIST list = list_of(c.remove);
    EXPECT_EQ(0, KORVFTPDeleteChrootUser(list));
    if (c.after) {
        EXPECT_EQ(*c.after, read_file(kList));
    } else {
        EXPECT_FALSE(file_exists(kList));
    }
    EXPECT_TRUE(temp_files().empty());
    KORLSzListFree(list);
}

INSTANTIATE_TEST_SUITE_P(Cases, ChrootDelete, testing::ValuesIn(kDeleteCases),
                         [](const auto &info) { return std::string(info.param.name); });

// Only a list that does not exist is created. One that exists but cannot be opened stays as it is
// and the call fails; so does a dangling link at the list's path, which is not followed.
TEST(ChrootAddRefusals, UnreadableListIsNotReplaced)
{
    // A list its caller may write but not read: an ordinary user's process meets EACCES.
    write_file(kList, "alice\n", 0200);
    ASSERT_EQ(0, chown(kList, 1000, 1000));
    const pid_t pid = fork();
    if (pid == 0) {
        if (setgid(1000) != 0 || setuid(1000) != 0)
            _exit(2);
        PKORLSZLIST list = list_of({"bob"});
        mark_error();
        const bool refused = KORVFTPAddChrootUser(list) == -1 && KORLErrGet() == KORL_ERR_OPEN;
        _exit(refused ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2)
        GTEST_SKIP() << "uid 1000 is not mapped in this sandbox";
    EXPECT_EQ(0, WEXITSTATUS(status));
    EXPECT_EQ("alice\n", read_file(kList));

    // A folder in place of the list.
    remove_tree(kList);
    make_dirs(kList);
    PKORLSZLIST list = list_of({"bob"});
    mark_error();
    EXPECT_EQ(-1, KORVFTPAddChrootUser(list));
    EXPECT_EQ(KORL_ERR_OPEN, KORLErrGet());
    EXPECT_EQ(-1, KORVFTPDeleteChrootUser(list));
    remove_tree(kList);

    // A dangling link: its target is not created.
    make_dirs("/usr/korv/etc");
    ASSERT_EQ(0, symlink("/etc/elsewhere", kList));
    EXPECT_EQ(-1, KORVFTPAddChrootUser(list));
    EXPECT_FALSE(file_exists("/etc/elsewhere"));
    EXPECT_EQ(-1, KORVFTPAddChrootUser(nullptr));
    EXPECT_EQ(-1, KORVFTPDeleteChrootUser(nullptr));
    KORLSzListFree(list);
}

}  // namespace
