// The shrink to a lower maximum, and writers and a shrink at once in three processes.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "eventlog_test.h"
#include "lock_holder.h"

using namespace korvtest;
using namespace logtest;

namespace {

std::string rec_of(int len, int id)
{
    const std::string program = "p", user = "u";
    const std::string name = "r" + std::to_string(id);
    return encode(1, uint32_t(id), 1000, program, user, {name + std::string(size_t(len - 26) - name.size(), '.'), "", "", ""});
}

struct ShrinkCase {
    const char *name;
    uint32_t head, tail;
    std::vector<std::pair<int, int>> layout;  // (offset, record length) from 16 on; ids in order
    int marker;                               // end marker offset, or -1
    int size;                                 // KORVLogChangeSize's argument
    std::vector<int> kept;                    // ids of the records in the shrunk file
};

// Ids are the records' indexes in layout.
const ShrinkCase kShrinkCases[] = {
    // Wrapped: old segment 216..296 (id 2), marker at 296, newer 16..156 (ids 0, 1).
    {"WrappedKeepsNewestInOrder", 216, 156, {{16, 90}, {106, 50}, {216, 80}}, 296, 250, {0, 1}},
    // Dropping reaches through the marker into the newer segment.
    {"WrappedDropsIntoNewerSegment", 216, 156, {{16, 90}, {106, 50}, {216, 80}}, 296, 200, {1}},
    // A record of 300 bytes is not carried over; the ones after it are.
    {"LongRecordLeftOut", 16, 616, {{16, 100}, {116, 300}, {416, 100}, {516, 100}}, -1, 600, {2, 3}},
    {"UnwrappedDropsOldest", 16, 316, {{16, 100}, {116, 100}, {216, 100}}, -1, 150, {2}},
    {"NothingToDo", 16, 316, {{16, 100}, {116, 100}, {216, 100}}, -1, 316, {0, 1, 2}},
};

class Shrink : public testing::TestWithParam<ShrinkCase> {};

void PrintTo(const ShrinkCase &c, std::ostream *os)
{
    *os << c.name;
}

TEST_P(Shrink, NewFileByteForByte)
{
    const ShrinkCase &c = GetParam();
    std::string file = header(c.head, c.tail);
    std::vector<std::string> recs;
    for (size_t i = 0; i < c.layout.size(); ++i) {
        const auto [at, len] = c.layout[i];
        recs.push_back(rec_of(len, int(i)));
        if (file.size() < size_t(at))
            file.resize(size_t(at), 'g');
        file.replace(size_t(at), size_t(len), recs.back());
    }
    if (c.marker >= 0) {
        file.resize(size_t(c.marker), 'g');
        file += std::string(2, '\0');
        file.resize(size_t(c.marker) + 4, 'g');  // leftover bytes after the marker
    }
    write_file(kSysLog, file, 0644);

    ASSERT_EQ(0, KORVLogChangeSize(c.size, 1));
    std::string body;
    for (int id : c.kept)
        body += recs[size_t(id)];
    if (std::string(c.name) == "NothingToDo") {
        EXPECT_EQ(file, read_file(kSysLog));
        return;
    }
    EXPECT_EQ(header(16, uint32_t(16 + body.size())) + body, read_file(kSysLog));
    struct stat st {};
    ASSERT_EQ(0, stat(kSysLog, &st));
    EXPECT_EQ(0600u, st.st_mode & 07777);
    // No temporary copy is left beside the log.
    std::string out;
    run_shell("ls /var/log | grep korvsys", &out);
    EXPECT_EQ("korvsys.log\n", out);
}

INSTANTIATE_TEST_SUITE_P(Cases, Shrink, testing::ValuesIn(kShrinkCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(ShrinkFiles, ClassTableAndMissingFile)
{
    // The class's default file, whatever the configuration names; a missing one is no failure.
    set_conf("connlogfile=\"/var/log/other.log\"\n");
    EXPECT_EQ(0, KORVLogChangeSize(100, 3));
    EXPECT_TRUE(syslog_has("KORVLogChangeSize : logfile /var/log/korvconn.log not existed"));
    const std::string big = header(16, 316) + rec_of(100, 0) + rec_of(100, 1) + rec_of(100, 2);
    write_file("/var/log/korvman1.log", big);
    write_file("/var/log/other.log", big);
    EXPECT_EQ(0, KORVLogChangeSize(200, 2));
    EXPECT_EQ(header(16, 116) + rec_of(100, 2), read_file("/var/log/korvman1.log"));
    EXPECT_EQ(0, KORVLogChangeSize(200, 4));
    EXPECT_EQ(0, KORVLogChangeSize(200, 9));
    EXPECT_EQ(big, read_file("/var/log/other.log"));
}

// Two processes write events while a third keeps shrinking the log to a size that holds all
// the new records: every record a writer was told was written is in the log afterwards.
TEST(ShrinkConcurrent, AcknowledgedRecordsSurvive)
{
    set_sys_max(65536);
    setenv("USERNAME", "w", 1);
    const std::string pad(40, '.');
    for (int i = 0; i < 150; ++i)
        ASSERT_EQ(0, KORVLogSet1(1, 1, 1, ("old" + std::to_string(i)).c_str(), pad.c_str(), nullptr, nullptr));
    const int kPerWriter = 30;

    int done[2];
    ASSERT_EQ(0, pipe(done));
    const pid_t shrinker = fork();
    if (shrinker == 0) {
        close(done[1]);
        // Until the writers are done: new records (2 x 30 of about 90 bytes) always fit in 8000.
        for (const time_t end = time(nullptr) + 90; time(nullptr) < end;) {
            KORVLogChangeSize(8000, 1);
            struct timeval tv {0, 0};
            fd_set fds;
            FD_ZERO(&fds);
            FD_SET(done[0], &fds);
            if (select(done[0] + 1, &fds, nullptr, nullptr, &tv) > 0)
                _exit(0);
        }
        _exit(1);
    }
    close(done[0]);
    std::vector<pid_t> writers;
    for (int w = 0; w < 2; ++w) {
        const pid_t pid = fork();
        if (pid == 0) {
            std::string acked;
            for (int i = 0; i < kPerWriter; ++i) {
                const std::string id = "w" + std::to_string(w) + "-" + std::to_string(i);
                if (KORVLogSet1(1, 1, 2, id.c_str(), pad.c_str(), nullptr, nullptr) == 0)
                    acked += id + "\n";
            }
            write_file("/tmp/acked" + std::to_string(w), acked);
            _exit(0);
        }
        writers.push_back(pid);
    }
    for (pid_t pid : writers) {
        int status = 0;
        ASSERT_EQ(pid, waitpid(pid, &status, 0));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    close(done[1]);
    int status = 0;
    ASSERT_EQ(shrinker, waitpid(shrinker, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    std::set<std::string> inLog;
    for (const Record &r : walk(kSysLog))
        inLog.insert(r.texts[0]);
    EXPECT_EQ(0u, inLog.count("old0"));  // the shrink did drop old records
    size_t acked = 0;
    for (int w = 0; w < 2; ++w) {
        const std::string list = read_file("/tmp/acked" + std::to_string(w));
        size_t from = 0;
        for (size_t nl; (nl = list.find('\n', from)) != std::string::npos; from = nl + 1) {
            ++acked;
            EXPECT_EQ(1u, inLog.count(list.substr(from, nl - from))) << list.substr(from, nl - from);
        }
    }
    EXPECT_GT(acked, size_t(kPerWriter));
    unsetenv("USERNAME");
}

// A shrink in another process holds the log's lock, renames its copy over the log and then lets
// go: the writer that waited on the old file writes into the new one, and the old one keeps what
// it had.
TEST(ShrinkConcurrent, WriterWaitingOnAReplacedLogWritesTheNewOne)
{
    set_sys_max(65536);
    setenv("USERNAME", "w", 1);
    const std::string old = header(16, 16 + 100) + rec_of(100, 0);
    write_file(kSysLog, old);
    ASSERT_EQ(0, link(kSysLog, "/var/log/korvsys.old"));
    static int held = -1;  // the shrinking process's descriptor of the old log
    korvtest::ChildHolding shrink(
        [] {
            held = open(kSysLog, O_RDONLY);
            return held >= 0 && flock(held, LOCK_EX) == 0;
        },
        [] {
            write_file("/var/log/korvsys.log.new", header(16, 16));
            rename("/var/log/korvsys.log.new", kSysLog);
            flock(held, LOCK_UN);
        },
        1500);
    ASSERT_TRUE(shrink.obtained());
    EXPECT_EQ(0, KORVLogSet1(1, 1, 7, "after", nullptr, nullptr, nullptr));
    shrink.release();
    const std::vector<Record> records = walk(kSysLog);
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ("after", records[0].texts[0]);
    EXPECT_EQ(old, read_file("/var/log/korvsys.old"));
    unsetenv("USERNAME");
}

}  // namespace
