// The status files: the progress record under its lock, the message key and the update log.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "korvtest.h"
#include "lock_holder.h"
#include "progress_recorder.h"
#include "updater.h"

using korvtest::read_file;
using updatertest::ProgressValue;
using korvtest::write_file;

namespace {

const char kProgress[] = "/tmp/update.progress";
const char kLog[] = "/var/log/korvupdate.log";

TEST(Progress, WrittenOverTheStartWithoutTruncating)
{
    struct Case {
        const char *before;  // nullptr: no file
        char stage;
        int value;
        const char *after;
    };
    const Case cases[] = {
        {nullptr, 'A', 0, "A:0:      "},
        {"P:100:      ", 'C', 0, "C:0:        "},  // the two bytes beyond stay
        {"A:10:      ", 'P', -20, "P:-20:      "},
        {"R:0:      ", 'A', -255, "A:-255:      "},
    };
    for (const Case &c : cases) {
        unlink(kProgress);
        if (c.before)
            write_file(kProgress, c.before);
        EXPECT_EQ(UPDTSetProgress(c.stage, c.value), 0);
        EXPECT_EQ(read_file(kProgress), c.after) << c.stage << c.value;
    }
}

TEST(Progress, BusyFileSkipsTheValueThenTheNextIsWritten)
{
    write_file(kProgress, "A:10:      ");
    korvtest::FlockHolder holder(kProgress);
    ASSERT_TRUE(holder.obtained());
    EXPECT_EQ(UPDTSetProgress('A', 100), -2);
    EXPECT_EQ(UPDTWriteStatusFile(kProgress, "X", 0), -2);
    EXPECT_EQ(read_file(kProgress), "A:10:      ");
    holder.release();
    EXPECT_EQ(UPDTSetProgress('P', 0), 0);
    EXPECT_EQ(read_file(kProgress), "P:0:       ");
}

TEST(Progress, NeverFollowsALink)
{
    write_file("/tmp/elsewhere", "keep");
    ASSERT_EQ(symlink("/tmp/elsewhere", kProgress), 0);
    EXPECT_EQ(UPDTSetProgress('A', 0), -1);
    EXPECT_EQ(read_file("/tmp/elsewhere"), "keep");
    unlink(kProgress);
    ASSERT_EQ(symlink("/tmp/nowhere", kProgress), 0);  // a dangling link is not created through
    EXPECT_EQ(UPDTSetProgress('A', 0), -1);
    EXPECT_FALSE(korvtest::file_exists("/tmp/nowhere"));
}

// The file is written only when its text changes; a value that was not written (a held lock) is
// tried again by the next call, even with the same text.
TEST(Progress, OnlyChangedTextsAreWritten)
{
    struct Call {
        char stage;
        int value;
    };
    const Call calls[] = {{'P', 60}, {'P', 60}, {'P', 61}, {'P', 61}, {'P', 61}, {'P', 60}, {'C', 60}, {'C', 60}};
    updatertest::ProgressRecorder recorder;
    for (const Call &c : calls)
        EXPECT_EQ(UPDTSetProgress(c.stage, c.value), 0) << c.stage << c.value;
    EXPECT_EQ(recorder.stop(), (std::vector<ProgressValue>{{'P', 60}, {'P', 61}, {'P', 60}, {'C', 60}}));

    // A file laid anew is written again, whatever the last value was.
    unlink(kProgress);
    EXPECT_EQ(UPDTSetProgress('C', 60), 0);
    EXPECT_EQ(read_file(kProgress), "C:60:      ");

    write_file(kProgress, "C:60:      ");
    {
        korvtest::FlockHolder holder(kProgress);
        EXPECT_EQ(UPDTSetProgress('R', 0), -2);
    }
    EXPECT_EQ(UPDTSetProgress('R', 0), 0);
    EXPECT_EQ(read_file(kProgress), "R:0:       ");
}

// A FIFO that another process holds open and never reads: the value is lost, the writer goes on.
TEST(Progress, NeverBlocksOnAFullFifo)
{
    unlink(kProgress);
    ASSERT_EQ(mkfifo(kProgress, 0644), 0);
    int reader = open(kProgress, O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    int filler = open(kProgress, O_WRONLY | O_NONBLOCK);
    ASSERT_GE(filler, 0);
    char block[4096] = {};
    while (write(filler, block, sizeof block) > 0) {
    }
    while (write(filler, block, 1) > 0) {
    }
    close(filler);
    alarm(20);  // a writer that waited would hang here
    EXPECT_EQ(UPDTSetProgress('P', 61), -3);
    EXPECT_EQ(UPDTWriteStatusFile(kProgress, "P:62:      ", 1), -3);
    alarm(0);
    close(reader);
    unlink(kProgress);
}

// A file with a second name is not written through: it could be any other file of the device.
TEST(Progress, RefusesAFileWithMoreThanOneLink)
{
    const char kPasswd[] = "/tmp/passwd";
    write_file(kPasswd, "root:x:0:0:root:/root:/bin/sh\n");
    unlink(kProgress);
    ASSERT_EQ(link(kPasswd, kProgress), 0);
    EXPECT_EQ(UPDTSetProgress('A', 0), -1);
    EXPECT_EQ(UPDTWriteStatusFile(kProgress, "A:0:      ", 1), -1);
    EXPECT_EQ(read_file(kPasswd), "root:x:0:0:root:/root:/bin/sh\n");
}

TEST(Progress, FailedWriteIsReported)
{
    // The device refuses the bytes when they are flushed, before the lock is let go.
    EXPECT_EQ(UPDTWriteStatusFile("/dev/full", "A:0:      ", 1), -3);
    EXPECT_EQ(UPDTWriteStatusFile("/no/such/dir/progress", "A:0:      ", 1), -1);
}

TEST(Message, SetMessageWritesTheKeyWithoutLineEnd)
{
    write_file("/tmp/update.message", "extramsg=\"an older and longer sentence\"\n");
    EXPECT_EQ(UPDTSetMessage("extramsg", "short"), 0);
    EXPECT_EQ(read_file("/tmp/update.message"), "extramsg=\"short\"er and longer sentence\"\n");
}

TEST(Message, ExtraMessageReplacesTheKeyAndKeepsOtherLines)
{
    write_file("/tmp/update.message", "other=\"1\"\nextramsg=\"old\"\n");
    EXPECT_EQ(UPDTSetExtraMessage("Please reboot the system and upgrade immediately."), 1);
    EXPECT_EQ(read_file("/tmp/update.message"),
              "other=\"1\"\nextramsg=\"Please reboot the system and upgrade immediately.\"\n");
}

TEST(UpdateLog, ClearedOnlyBeyond10000Bytes)
{
    for (size_t size : {10000u, 10001u}) {
        write_file(kLog, std::string(size - 1, 'x') + "\n");
        UPDTLogInit();
        EXPECT_EQ(read_file(kLog).size(), size == 10000 ? 10000u : 0u) << size;
    }
    unlink(kLog);
    UPDTLogInit();
    EXPECT_FALSE(korvtest::file_exists(kLog));  // a missing log stays missing
}

TEST(UpdateLog, LinesAreStampTabAndTextAppended)
{
    write_file(kLog, "earlier line\n");
    UPDTLog("first with %s and %d kept");
    UPDTLog(nullptr);
    UPDTLogFormat("run %d of %s", 2, "two");
    std::string log = read_file(kLog);
    std::string stamp = "[0-9]{4}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\t";
    EXPECT_TRUE(std::regex_match(log, std::regex("earlier line\n" + stamp + "first with %s and %d kept\n" + stamp +
                                                 "run 2 of two\n")))
        << log;
}

}  // namespace
