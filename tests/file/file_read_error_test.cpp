// A file that opens but cannot be read (every read of /proc/self/mem at offset 0 fails with EIO):
// readers and writers fail, and no writer changes the target or leaves a temporary file.
#include <errno.h>
#include <string.h>
#include <sys/mount.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "file_test.h"

using namespace korvtest;
using namespace filetest;

namespace {

const char *const kLink = "/etc/eio.conf";

// The test process's own memory file mounted over a plain file of /etc: a regular file there,
// so the writers make their copies beside it, in a folder they can write.
void plant_unreadable_file()
{
    write_file(kLink, "");
    ASSERT_EQ(0, mount("/proc/self/mem", kLink, nullptr, MS_BIND, nullptr)) << strerror(errno);
}

struct ReadErrorCase {
    const char *name;
    int code;            // recorded by the failure; kUntouched where none is
    const char *source;  // the file the code names
    std::function<int(const char *)> call;
};

const ReadErrorCase kReadErrorCases[] = {
    {"GetKeyValue", KORL_ERR_READ, "file_get_key_value.cpp",
     [](const char *p) {
         char buf[16];
         return KORLFileGetKeyValue(p, "k", buf, sizeof buf, 0);
     }},
    {"GetLine", KORL_ERR_READ, "file_get_line.cpp",
     [](const char *p) {
         char buf[16];
         return KORLFileGetLine(p, "k", buf, sizeof buf, 0);
     }},
    {"GetSection", KORL_ERR_READ, "file_get_section.cpp",
     [](const char *p) {
         Hash h;
         return KORLFileGetSection(p, "s", h.addr());
     }},
    {"GetKeys", KORL_ERR_READ, "file_get_keys.cpp",
     [](const char *p) {
         Hash h;
         return KORLFileGetKeys(p, nullptr, h.addr(), "=");
     }},
    {"SetKeyValue", KORL_ERR_WRITE, "file_set_key_value.cpp",
     [](const char *p) { return KORLFileSetKeyValue(p, "k", "v", nullptr); }},
    {"SetKeys", KORL_ERR_WRITE, "file_set_keys.cpp",
     [](const char *p) {
         Hash h({{"k", "v"}});
         return KORLFileSetKeys(p, h.get(), nullptr, nullptr);
     }},
    {"RemoveKey", KORL_ERR_WRITE, "file_remove_key.cpp",
     [](const char *p) { return KORLFileRemoveKey(p, "k"); }},
    {"AddLine", KORL_ERR_READ, "file_add_line.cpp",
     [](const char *p) { return KORLFileAddLine(p, "k", "x", 0); }},
    {"AddLineFirst", KORL_ERR_READ, "file_add_line.cpp",
     [](const char *p) { return KORLFileAddLine(p, nullptr, "x", 0); }},
    {"SetLine", KORL_ERR_READ, "file_set_line.cpp",
     [](const char *p) { return KORLFileSetLine(p, "k", "x", 0); }},
    {"ReplaceSubStr", KORL_ERR_READ, "file_replace_sub_str.cpp",
     [](const char *p) { return KORLFileReplaceSubStr(p, "k", "x"); }},
    {"ModifySection", KORL_ERR_READ, "file_modify_section.cpp",
     [](const char *p) { return KORLFileModifySection(p, "s", nullptr, nullptr, 0, nullptr); }},
    // The section appender reports a failed read by its result alone.
    {"AddSection", kUntouched, nullptr,
     [](const char *p) {
         Hash h({{"k", "v"}});
         return ErrKORLFileAddSection(p, "s", h.get(), nullptr);
     }},
};

void PrintTo(const ReadErrorCase &c, std::ostream *os)
{
    *os << c.name;
}

class ReadError : public testing::TestWithParam<ReadErrorCase> {};

TEST_P(ReadError, FailsAndChangesNothing)
{
    ASSERT_NO_FATAL_FAILURE(plant_unreadable_file());
    struct stat before = stat_of(kLink);
    mark_error();
    EXPECT_EQ(-1, GetParam().call(kLink));
    EXPECT_EQ(GetParam().code, KORLErrGet());
    if (GetParam().source) {
        EXPECT_STREQ(GetParam().source, KORLErrFileGet());
    }
    struct stat after = stat_of(kLink);
    EXPECT_EQ(before.st_dev, after.st_dev);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_TRUE(temp_files("/etc", "eio.conf").empty());
}

INSTANTIATE_TEST_SUITE_P(Functions, ReadError, testing::ValuesIn(kReadErrorCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(ReadErrorCheck, CheckKeyValueLogsAndGivesZero)
{
    ASSERT_NO_FATAL_FAILURE(plant_unreadable_file());
    syslog_clear();
    EXPECT_EQ(0, KORLFileCheckKeyValue(kLink, "k", "yes", 7));
    bool logged = false;
    for (const auto &l : syslog_lines())
        logged |= l.message.find(" KORLFileGetKeyValue(k) failed, korverr=0x0A00") != std::string::npos;
    EXPECT_TRUE(logged) << syslog_dump();
}

}  // namespace
