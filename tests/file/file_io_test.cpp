// Whole reads and writes of plain files and pipes: the plain pair at the descriptor's position,
// gathering a pipe's pieces; the positioned pair at an offset, leaving the position where it was;
// and a transfer cut short says which file and which bytes.
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "korv_io.h"
#include "korv_unique.h"
#include "korvtest.h"

using namespace korvtest;

namespace {

const char kFile[] = "/tmp/io_at.bin";

TEST(Io, ReadFullGathersAPipesPieces)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::thread writer([w = fds[1]] {
        for (char c : {'a', 'b', 'c'}) {
            std::string piece(100, c);
            (void)!write(w, piece.data(), piece.size());
            usleep(20000);
        }
        close(w);
    });
    char buf[300];
    korv::IoResult r = korv::ReadFull(fds[0], buf, sizeof buf, {"pipe", 0});
    writer.join();
    close(fds[0]);
    EXPECT_TRUE(r.ok()) << r.Describe();
    EXPECT_EQ(std::string(buf, 300), std::string(100, 'a') + std::string(100, 'b') + std::string(100, 'c'));
}

// Both pairs over a file whose descriptor stands at 2: the plain pair goes on from the position
// and moves it; the positioned pair reads at 10 and writes at 4, and leaves the position alone.
TEST(Io, PositionOrOffset)
{
    struct Case {
        const char *name;
        bool positioned;
        const char *read;   // the four bytes read
        const char *after;  // the file after "XY" is written
        off_t position;     // the descriptor's position at the end
    } const cases[] = {
        {"Plain", false, "2345", "012345XY89abcdef", 8},
        {"Positioned", true, "abcd", "0123XY6789abcdef", 2},
    };
    for (const Case &c : cases) {
        write_file(kFile, "0123456789abcdef");
        korv::UniqueFd fd(open(kFile, O_RDWR | O_CLOEXEC));
        ASSERT_TRUE(fd);
        ASSERT_EQ(2, lseek(fd.get(), 2, SEEK_SET));
        char got[4];
        korv::IoResult r = c.positioned ? korv::ReadFullAt(fd.get(), got, sizeof got, {kFile, 10})
                                        : korv::ReadFull(fd.get(), got, sizeof got, {kFile, 2});
        EXPECT_TRUE(r.ok()) << c.name << ": " << r.Describe();
        EXPECT_EQ(c.read, std::string(got, sizeof got)) << c.name;
        r = c.positioned ? korv::WriteAllAt(fd.get(), "XY", 2, {kFile, 4})
                         : korv::WriteAll(fd.get(), "XY", 2, {kFile, 6});
        EXPECT_TRUE(r.ok()) << c.name << ": " << r.Describe();
        EXPECT_EQ(c.position, lseek(fd.get(), 0, SEEK_CUR)) << c.name;
        EXPECT_EQ(c.after, read_file(kFile)) << c.name;
    }
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
