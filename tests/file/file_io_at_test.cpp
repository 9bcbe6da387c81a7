// Whole reads and writes at an offset of a file: the descriptor's own position stays where it
// was, and a transfer cut short says which file and which bytes.
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "korv_io.h"
#include "korv_unique.h"
#include "korvtest.h"

using namespace korvtest;

namespace {

const char kFile[] = "/tmp/io_at.bin";

TEST(IoAt, ReadAndWriteAtTheOffsetOnly)
{
    write_file(kFile, "0123456789abcdef");
    korv::UniqueFd fd(open(kFile, O_RDWR | O_CLOEXEC));
    ASSERT_TRUE(fd);
    ASSERT_EQ(2, lseek(fd.get(), 2, SEEK_SET));
    char got[4];
    korv::IoResult r = korv::ReadFullAt(fd.get(), got, sizeof got, {kFile, 10});
    EXPECT_TRUE(r.ok()) << r.Describe();
    EXPECT_EQ("abcd", std::string(got, sizeof got));
    r = korv::WriteAllAt(fd.get(), "XY", 2, {kFile, 4});
    EXPECT_TRUE(r.ok()) << r.Describe();
    EXPECT_EQ(2, lseek(fd.get(), 0, SEEK_CUR));
    EXPECT_EQ("0123XY6789abcdef", read_file(kFile));
}

TEST(IoAt, CutShortNamesTheFileAndTheBytes)
{
    write_file(kFile, "0123456789abcdef");
    korv::UniqueFd fd(open(kFile, O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(fd);
    char got[16];
    korv::IoResult r = korv::ReadFullAt(fd.get(), got, sizeof got, {kFile, 8});
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(8u, r.done);
    EXPECT_EQ("89abcdef", std::string(got, r.done));
    EXPECT_EQ("read of /tmp/io_at.bin bytes 0x8-0x17: 0x8 bytes done, then end of device (errno 0)", r.Describe());

    korv::UniqueFd full(open("/dev/full", O_WRONLY | O_CLOEXEC));
    ASSERT_TRUE(full);
    r = korv::WriteAllAt(full.get(), "KORV", 4, {"/dev/full", 0x10});
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(ENOSPC, errno);
    EXPECT_EQ("write of /dev/full bytes 0x10-0x13: 0x0 bytes done, then No space left on device (errno 28)",
              r.Describe());
}

}  // namespace
