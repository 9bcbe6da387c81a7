// The section writers: a section appended from a hash, rewritten under its own or a new name, or
// deleted with its comment lines left; files compared whole.
#include <errno.h>
#include <string.h>
#include <sys/mount.h>

#include <string>

#include "file_test.h"

using namespace korvtest;
using namespace filetest;

namespace {

const char *const kConf = "/etc/korvnetbkp.conf";
const char *const kTab = "\t%s=\"%s\"\n";

TEST(AddSection, AppendsAfterABlankLine)
{
    Hash h({{"dest", "10.0.0.2"}, {"share", "backup"}});
    struct {
        const char *before;
        const char *separator;
    } cases[] = {
        {"", "\n"},
        {"[one]\n\tx=\"1\"\n", ""},
        {"[one]\n\tx=\"1\"", "\n"},
        {"[one]\n\n", ""},
    };
    for (const auto &c : cases) {
        write_file(kConf, c.before);
        EXPECT_EQ(1, ErrKORLFileAddSection(kConf, "two", h.get(), kTab));
        EXPECT_EQ(std::string(c.before) + c.separator + "[two]\n" + h.lines(kTab), read_file(kConf)) << c.before;
    }
}

TEST(AddSection, DefaultFormatAndEmptyHash)
{
    write_file(kConf, "a=1\n");
    Hash h({{"k", "v"}});
    EXPECT_EQ(1, ErrKORLFileAddSection(kConf, "s", h.get(), nullptr));
    Hash none;
    EXPECT_EQ(1, ErrKORLFileAddSection(kConf, "t", none.get(), nullptr));
    EXPECT_EQ("a=1\n[s]\nk=v\n[t]\n", read_file(kConf));
}

TEST(AddSection, ExistingSectionChangesNothing)
{
    const std::string before = "[one]\n\tx=\"1\"\n[two]  \n\ty=\"2\"\n";
    write_file(kConf, before);
    ino_t ino = stat_of(kConf).st_ino;
    Hash h({{"z", "3"}});
    EXPECT_EQ(0, ErrKORLFileAddSection(kConf, "two", h.get(), kTab));
    EXPECT_EQ(before, read_file(kConf));
    EXPECT_EQ(ino, stat_of(kConf).st_ino);
    // A different letter case is another section.
    EXPECT_EQ(1, ErrKORLFileAddSection(kConf, "Two", h.get(), kTab));
}

TEST(AddSection, RefusedBeforeAnythingIsWritten)
{
    const std::string before = "[one]\n\tx=\"1\"\n";
    Hash good({{"k", "v"}});
    Hash badValue({{"k", "v\n[evil]"}});
    Hash badKey({{"k\r", "v"}});
    struct {
        const char *section;
        PKORLSZHASH hash;
        const char *format;
    } cases[] = {
        {"two", good.get(), "%s %s\n"},  {"two", good.get(), "%s=%s"},   {"two", good.get(), "%s=%d\n"},
        {"tw]o", good.get(), kTab},      {"[two", good.get(), kTab},     {"two\n", good.get(), kTab},
        {"two", badValue.get(), kTab},   {"two", badKey.get(), kTab},    {nullptr, good.get(), kTab},
        {"two", nullptr, kTab},
    };
    for (const auto &c : cases) {
        write_file(kConf, before);
        mark_error();
        EXPECT_EQ(-1, ErrKORLFileAddSection(kConf, c.section, c.hash, c.format)) << (c.section ? c.section : "null");
        EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
        EXPECT_EQ(before, read_file(kConf));
    }
}

TEST(AddSection, MissingFileIsNotCreated)
{
    Hash h({{"k", "v"}});
    mark_error();
    EXPECT_EQ(-1, ErrKORLFileAddSection("/etc/missing.conf", "s", h.get(), nullptr));
    EXPECT_EQ(KORL_ERR_OPEN, KORLErrGet());
    EXPECT_FALSE(file_exists("/etc/missing.conf"));
}

TEST(AddSection, FullDiskIsReported)
{
    // The file fills the whole file system; the small section stays in the stream's buffer
    // until the flush, which is where the disk refuses it.
    ASSERT_TRUE(korvtest::mount_small_disk("/volume1/full")) << strerror(errno);
    const std::string path = "/volume1/full/bkp.conf";
    const std::string before = std::string(16383, '#') + "\n";
    write_file(path, before);
    Hash h({{"k", "v"}});
    mark_error();
    EXPECT_EQ(-1, ErrKORLFileAddSection(path.c_str(), "s", h.get(), nullptr));
    EXPECT_EQ(KORL_ERR_WRITE, KORLErrGet());
    EXPECT_EQ(before, read_file(path));
    umount("/volume1/full");
}

const char *const kSets =
    "[old]\n"
    "\ta=\"1\"\n"
    "#note\n"
    "\n"
    "\tb=\"2\"\n"
    ";second note\n"
    "[other]\n"
    "\tx=\"9\"\n"
    "#other note\n";

TEST(SetSection, RenamesAndReplacesKeepingComments)
{
    write_file(kConf, kSets, 0600);
    Hash h({{"dest", "host"}, {"a", "7"}});
    EXPECT_EQ(1, ErrKORLFileSetSection(kConf, "old", "new", h.get(), kTab));
    EXPECT_EQ("[new]\n" + h.lines(kTab) + "#note\n;second note\n[other]\n\tx=\"9\"\n#other note\n", read_file(kConf));
    EXPECT_EQ(0600u, stat_of(kConf).st_mode & 07777);
}

TEST(SetSection, SameNameWhenNoNewOne)
{
    write_file(kConf, kSets);
    Hash h({{"a", "7"}});
    EXPECT_EQ(1, ErrKORLFileSetSection(kConf, "other", nullptr, h.get(), nullptr));
    EXPECT_EQ("[old]\n\ta=\"1\"\n#note\n\n\tb=\"2\"\n;second note\n[other]\na=7\n#other note\n", read_file(kConf));
}

TEST(SetSection, EveryHeaderOfTheNameAndTheLastSection)
{
    write_file(kConf, "[s]\nk=1\n[t]\nk=2\n[s]\nk=3\n#c");
    Hash h({{"k", "9"}});
    EXPECT_EQ(1, ErrKORLFileSetSection(kConf, "s", nullptr, h.get(), nullptr));
    EXPECT_EQ("[s]\nk=9\n[t]\nk=2\n[s]\nk=9\n#c", read_file(kConf));
}

TEST(SetSection, BracketLineEndsTheSectionAsForReaders)
{
    write_file(kConf, "[s]\nk=1\n[not a header\nafter=1\n");
    Hash h({{"k", "9"}});
    EXPECT_EQ(1, ErrKORLFileSetSection(kConf, "s", nullptr, h.get(), nullptr));
    EXPECT_EQ("[s]\nk=9\n[not a header\nafter=1\n", read_file(kConf));
    Hash got;
    EXPECT_EQ(1, KORLFileGetSection(kConf, "s", got.addr()));
    EXPECT_STREQ("9", SzKORLSzHashGetValue(got.get(), "k"));
}

TEST(SetSection, Errors)
{
    write_file(kConf, kSets);
    mark_error();
    EXPECT_EQ(-1, ErrKORLFileSetSection(kConf, "old", "new", nullptr, kTab));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    Hash h({{"a", "1"}});
    EXPECT_EQ(-1, ErrKORLFileSetSection(kConf, "old", "new]", h.get(), kTab));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    EXPECT_EQ(-1, ErrKORLFileSetSection(kConf, "old", "new", h.get(), "%s:%s"));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    EXPECT_EQ(kSets, read_file(kConf));
    EXPECT_TRUE(temp_files("/etc", "korvnetbkp.conf").empty());
    EXPECT_EQ(-1, ErrKORLFileSetSection("/etc/missing.conf", "old", "new", h.get(), kTab));
    EXPECT_EQ(KORL_ERR_OPEN, KORLErrGet());
    EXPECT_FALSE(file_exists("/etc/missing.conf"));
}

TEST(ModifySection, DeleteKeepsCommentLines)
{
    write_file(kConf, kSets);
    EXPECT_EQ(1, KORLFileModifySection(kConf, "old", nullptr, nullptr, 0, nullptr));
    EXPECT_EQ("#note\n;second note\n[other]\n\tx=\"9\"\n#other note\n", read_file(kConf));
}

TEST(ModifySection, AbsentSectionGivesZero)
{
    write_file(kConf, kSets);
    ino_t ino = stat_of(kConf).st_ino;
    Hash h({{"a", "1"}});
    mark_error();
    EXPECT_EQ(0, KORLFileModifySection(kConf, "nosuch", "x", h.get(), 1, kTab));
    EXPECT_EQ(KORL_ERR_NOT_FOUND, KORLErrGet());
    EXPECT_EQ(kSets, read_file(kConf));
    EXPECT_NE(ino, stat_of(kConf).st_ino);  // rewritten all the same, with the same lines
    EXPECT_TRUE(temp_files("/etc", "korvnetbkp.conf").empty());
}

TEST(ModifySection, HeaderOnlyWithoutAHash)
{
    write_file(kConf, "[s]\nk=1\n[t]\n");
    EXPECT_EQ(1, KORLFileModifySection(kConf, "s", "u", nullptr, 1, nullptr));
    EXPECT_EQ("[u]\n[t]\n", read_file(kConf));
}

TEST(SectionRoundTrip, AddThenReadThenReplace)
{
    write_file(kConf, "");
    Hash h({{"dest", "10.0.0.2"}, {"dir", "/volume1/b x"}});
    ASSERT_EQ(1, ErrKORLFileAddSection(kConf, "set1", h.get(), kTab));
    Hash got;
    EXPECT_EQ(2, KORLFileGetSection(kConf, "set1", got.addr()));
    EXPECT_EQ(h.map(), got.map());
    Hash changed({{"dest", "10.0.0.3"}});
    ASSERT_EQ(1, ErrKORLFileSetSection(kConf, "set1", "set2", changed.get(), kTab));
    Hash got2;
    EXPECT_EQ(0, KORLFileGetSection(kConf, "set1", got2.addr()));
    EXPECT_EQ(1, KORLFileGetSection(kConf, "set2", got2.addr()));
    EXPECT_EQ("\n[set2]\n\tdest=\"10.0.0.3\"\n", read_file(kConf));
}

}  // namespace
