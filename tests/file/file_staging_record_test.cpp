// The staging record's sweep: of what an earlier record names, only the open copies that are
// the rewrite's own go, and nothing else of a similar name.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "korv/file.h"
#include "korv_staging_record.h"
#include "korvtest.h"

using korvtest::file_exists;
using korvtest::read_file;
using korvtest::write_file;

namespace {

const char kRecord[] = "/var/log/rewrite.staging";

// What a record names, and what stands there: only an open copy that is a plain file of this
// user's own with one name goes.
struct RecordCase {
    const char *name;
    std::string record;   // the record as a killed run left it
    const char *kind;     // what stands at "/etc/crontab.Q1w2E3": "file", "link", "other user", "two names"
    mode_t mode;
    bool removed;
};

void PrintTo(const RecordCase &c, std::ostream *os)
{
    *os << c.name;
}

const char kCopy[] = "/etc/crontab.Q1w2E3";

const std::vector<RecordCase> &RecordCases()
{
    static const std::vector<RecordCase> cases = {
        {"OpenCopy", std::string("+") + kCopy + "\n", "file", 0600, true},
        {"OpenCopyAfterItsMode", std::string("+") + kCopy + "\n", "file", 0644, true},
        {"RenamedOrRemoved", std::string("+") + kCopy + "\n-" + kCopy + "\n", "file", 0600, false},
        {"LineCutShort", std::string("+") + kCopy, "file", 0600, false},
        {"NotAStagingName", "+/etc/crontab\n+/etc/crontab.tmp\n+crontab.Q1w2E3\n", "file", 0600, false},
        {"Link", std::string("+") + kCopy + "\n", "link", 0600, false},
        {"OtherUsersFile", std::string("+") + kCopy + "\n", "other user", 0600, false},
        {"FileWithTwoNames", std::string("+") + kCopy + "\n", "two names", 0600, false},
    };
    return cases;
}

class StagingRecord : public testing::TestWithParam<RecordCase> {};

TEST_P(StagingRecord, RemovesOnlyTheOpenCopiesItNames)
{
    const RecordCase &c = GetParam();
    const std::string crontab = "# the schedule\n";
    write_file("/etc/crontab", crontab);
    write_file("/etc/crontab.backup", crontab, 0600);
    write_file("/etc/crontab.tmp", crontab, 0600);
    write_file(kRecord, c.record, 0600);
    const std::string kind = c.kind;
    if (kind == "link") {
        ASSERT_EQ(symlink("/etc/crontab", kCopy), 0);
    } else {
        write_file(kCopy, crontab, c.mode);
        if (kind == "other user") {
            ASSERT_EQ(chown(kCopy, 1024, 100), 0);
        }
        if (kind == "two names") {
            ASSERT_EQ(link(kCopy, "/etc/crontab.kept"), 0);
        }
    }
    korv::StagingRecordBegin(kRecord);
    korv::StagingRecordEnd();
    struct stat st;
    EXPECT_EQ(lstat(kCopy, &st) != 0, c.removed);
    EXPECT_EQ(read_file("/etc/crontab"), crontab);
    EXPECT_EQ(read_file("/etc/crontab.backup"), crontab);
    EXPECT_EQ(read_file("/etc/crontab.tmp"), crontab);
    EXPECT_FALSE(file_exists(kRecord));
}

INSTANTIATE_TEST_SUITE_P(Records, StagingRecord, testing::ValuesIn(RecordCases()),
                         [](const testing::TestParamInfo<RecordCase> &i) { return std::string(i.param.name); });

// A record another user could have written names nothing to remove.
TEST(StagingRecordOwner, RecordOthersCanWriteIsNotTrusted)
{
    write_file("/etc/crontab", "# the schedule\n");
    write_file(kCopy, "# the schedule\n", 0600);
    write_file(kRecord, std::string("+") + kCopy + "\n", 0666);
    ASSERT_EQ(chmod(kRecord, 0666), 0);
    korv::StagingRecordBegin(kRecord);
    korv::StagingRecordEnd();
    EXPECT_TRUE(file_exists(kCopy));
}

// While a record is open, each copy a rewrite makes is named once made and once renamed; with
// none open, a rewrite writes no record.
TEST(StagingRecordNotes, EachCopyMadeThenDone)
{
    write_file("/etc/crontab", "a=1\n");
    EXPECT_EQ(KORLFileSetKeyValue("/etc/crontab", "a", "2", nullptr), 1);
    EXPECT_FALSE(file_exists(kRecord));

    korv::StagingRecordBegin(kRecord);
    EXPECT_EQ(KORLFileSetKeyValue("/etc/crontab", "a", "3", nullptr), 1);
    const std::string record = read_file(kRecord);
    ASSERT_EQ(record.rfind("+/etc/crontab.", 0), 0u) << record;
    const std::string copy = record.substr(1, record.find('\n') - 1);
    EXPECT_EQ(record, "+" + copy + "\n-" + copy + "\n");
    EXPECT_FALSE(file_exists(copy));
    korv::StagingRecordEnd();
    EXPECT_FALSE(file_exists(kRecord));
    EXPECT_EQ(read_file("/etc/crontab"), "a=3\n");
}

}  // namespace
