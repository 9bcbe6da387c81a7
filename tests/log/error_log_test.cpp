// Plain text logs: lines appended as given, truncation, and failures that must not pass as success.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>

#include "korv/error.h"
#include "korv/log.h"
#include "korvtest.h"

using namespace korvtest;

namespace {

const char kLog[] = "/var/log/korvupdate.log";

TEST(ErrorLog, LinesAreAppendedAsGiven)
{
    remove_tree(kLog);
    make_dirs("/var/log");
    EXPECT_EQ(0, KORLErrorLogSet(kLog, "2026/12/10 10:00:00\tStart of the update..."));
    EXPECT_EQ(0, KORLErrorLogSet(kLog, "100% done: %s %d %n"));
    EXPECT_EQ(0, KORLErrorLogSet(kLog, ""));
    EXPECT_EQ("2026/12/10 10:00:00\tStart of the update...\n100% done: %s %d %n\n\n",
              read_file(kLog));
}

TEST(ErrorLog, AppendsAfterExistingContent)
{
    write_file(kLog, "old line\n");
    EXPECT_EQ(0, KORLErrorLogSet(kLog, "new line"));
    EXPECT_EQ("old line\nnew line\n", read_file(kLog));
}

TEST(ErrorLog, Clear)
{
    write_file(kLog, "a\nb\n");
    KORLErrorLogClear(kLog);
    EXPECT_TRUE(file_exists(kLog));
    EXPECT_EQ("", read_file(kLog));

    remove_tree("/tmp/new.log");
    KORLErrorLogClear("/tmp/new.log");
    EXPECT_TRUE(file_exists("/tmp/new.log"));
    EXPECT_EQ("", read_file("/tmp/new.log"));

    KORLErrorLogClear(nullptr);
    KORLErrorLogClear("/no/such/dir/x.log");
    EXPECT_FALSE(file_exists("/no/such/dir/x.log"));
}

TEST(ErrorLog, Failures)
{
    struct Case {
        const char *path, *line;
        int code;
    };
    make_dirs("/var/log/dir.log");
    for (const Case &c : {Case{nullptr, "x", KORL_ERR_BAD_PARAM},
                          Case{kLog, nullptr, KORL_ERR_BAD_PARAM},
                          Case{"/var/log/dir.log", "x", KORL_ERR_OPEN},
                          Case{"/no/such/dir/x.log", "x", KORL_ERR_OPEN}}) {
        KORLErrSet(0);
        EXPECT_EQ(-1, KORLErrorLogSet(c.path, c.line));
        EXPECT_EQ(c.code, KORLErrGet());
        EXPECT_STREQ("error_log_set.cpp", KORLErrFileGet());
    }
    // A successful call after a failure leaves the failure's code in place.
    EXPECT_EQ(0, KORLErrorLogSet(kLog, "x"));
    EXPECT_EQ(KORL_ERR_OPEN, KORLErrGet());
}

// On a full disk the line never reaches the file, and the caller must hear of it.
TEST(ErrorLog, FullDiskIsAWriteError)
{
    ASSERT_TRUE(korvtest::mount_small_disk("/mnt/full"));
    run_shell("dd if=/dev/zero of=/mnt/full/fill bs=4096 2>/dev/null");
    write_file("/mnt/full/update.log", "");
    KORLErrSet(0);
    EXPECT_EQ(-1, KORLErrorLogSet("/mnt/full/update.log", "this line does not fit"));
    EXPECT_EQ(KORL_ERR_WRITE, KORLErrGet());
    run_shell("umount /mnt/full");
}

}  // namespace
