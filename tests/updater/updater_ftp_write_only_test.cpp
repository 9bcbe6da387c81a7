// smb.conf's "ftp write only" option turned into the three "ftp disable" options: the copy is
// complete or nothing changes, the file keeps its mode, and share changes wait for lock_smb.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "korvtest.h"
#include "updater_config.h"

namespace {

const char kDir[] = "/usr/korv/etc";
const char kSmbConf[] = "/usr/korv/etc/smb.conf";
const char kDisable[] = "\tftp disable list=yes\n\tftp disable modify=yes\n\tftp disable download=yes\n";

std::vector<std::string> dir_names(const char *path)
{
    std::vector<std::string> out;
    if (DIR *d = opendir(path)) {
        while (dirent *e = readdir(d))
            if (e->d_name[0] != '.')
                out.push_back(e->d_name);
        closedir(d);
    }
    return out;
}

struct Conversion {
    const char *name;
    std::string before;
    std::string after;
};

void PrintTo(const Conversion &c, std::ostream *os)
{
    *os << c.name;
}

class FtpWriteOnly : public testing::TestWithParam<Conversion> {};

// A second run finds nothing left to convert: the file stays as the first run left it.
TEST_P(FtpWriteOnly, ConvertedOnceAndStable)
{
    const Conversion &c = GetParam();
    korvtest::make_dirs(kDir);
    korvtest::write_file(kSmbConf, c.before, 0640);
    struct stat before {};
    ASSERT_EQ(stat(kSmbConf, &before), 0);

    ASSERT_EQ(ConvertFTPWriteOnlyFlag(), 0) << korvtest::syslog_dump();
    EXPECT_EQ(korvtest::read_file(kSmbConf), c.after);
    struct stat after {};
    ASSERT_EQ(stat(kSmbConf, &after), 0);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_EQ(dir_names(kDir), std::vector<std::string>{"smb.conf"});

    ASSERT_EQ(ConvertFTPWriteOnlyFlag(), 0);
    EXPECT_EQ(korvtest::read_file(kSmbConf), c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, FtpWriteOnly,
    testing::Values(
        Conversion{"yes_becomes_three_lines", "[share]\n\tpath=/volume1/share\n\tftp write only=yes\n\tread only=no\n",
                   std::string("[share]\n\tpath=/volume1/share\n") + kDisable + "\tread only=no\n"},
        Conversion{"no_is_dropped", "[a]\n\tftp write only=no\n\tcomment=x\n", "[a]\n\tcomment=x\n"},
        Conversion{"yes_anywhere_on_the_line", "[a]\nftp write only = YES ; yes\n", std::string("[a]\n") + kDisable},
        Conversion{"each_share_of_several",
                   "[a]\n\tftp write only=yes\n[b]\n\tftp write only=no\n[c]\n\tftp write only=yes\n",
                   std::string("[a]\n") + kDisable + "[b]\n[c]\n" + kDisable},
        Conversion{"nothing_to_convert", "[global]\n\tworkgroup=WORKGROUP\n", "[global]\n\tworkgroup=WORKGROUP\n"},
        Conversion{"last_line_without_newline", "[a]\n\tcomment=end", "[a]\n\tcomment=end"},
        Conversion{"empty_file", "", ""}),
    [](const testing::TestParamInfo<Conversion> &i) { return std::string(i.param.name); });

TEST(FtpWriteOnlyFailure, MissingFileFailsAndLeavesNoCopy)
{
    korvtest::make_dirs(kDir);
    EXPECT_EQ(UPDTConfigFtpWriteOnly(), -1);
    EXPECT_TRUE(korvtest::syslog_has_pattern("updater (<L>) Failed to open /usr/korv/etc/smb.conf (No such file or directory)"))
        << korvtest::syslog_dump();
    EXPECT_TRUE(korvtest::syslog_has_pattern("updater (<L>) Failed to convert FTP write only flag"));
    EXPECT_TRUE(dir_names(kDir).empty());
}

// A copy that cannot be written whole leaves smb.conf as it was and no copy beside it.
TEST(FtpWriteOnlyFailure, FullDiskKeepsTheFile)
{
    ASSERT_TRUE(korvtest::mount_small_disk(kDir, 16 * 1024));
    std::string conf;
    while (conf.size() < 10 * 1024)
        conf += "[s" + std::to_string(conf.size()) + "]\n\tftp write only=yes\n";
    korvtest::write_file(kSmbConf, conf);
    EXPECT_EQ(ConvertFTPWriteOnlyFlag(), -1);
    EXPECT_EQ(korvtest::read_file(kSmbConf), conf);
    EXPECT_EQ(dir_names(kDir), std::vector<std::string>{"smb.conf"});
}

// While another process holds lock_smb the file is not touched.
TEST(FtpWriteOnlyFailure, WaitsForLockSmb)
{
    korvtest::make_dirs(kDir);
    korvtest::make_dirs("/tmp/lock");
    const std::string conf = "[a]\n\tftp write only=yes\n";
    korvtest::write_file(kSmbConf, conf);
    int fd = open("/tmp/lock/lock_smb", O_RDWR | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    EXPECT_EQ(ConvertFTPWriteOnlyFlag(), -1);
    EXPECT_EQ(korvtest::read_file(kSmbConf), conf);
    close(fd);
    EXPECT_EQ(ConvertFTPWriteOnlyFlag(), 0);
    EXPECT_EQ(korvtest::read_file(kSmbConf), std::string("[a]\n") + kDisable);
}

}  // namespace
