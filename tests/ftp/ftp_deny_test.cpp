// The deny list "/etc/hosts.deny": the addresses it holds, and lines dropped by address.
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "case_label.h"
#include "korv/error.h"
#include "korv/ftp.h"
#include "korv/list.h"
#include "korvtest.h"
#include "sz_list.h"

using namespace korvtest;

namespace {

const char *const kDeny = KORV_HOSTS_DENY;
const char *const kTemp = "/etc/hosts.deny.tmp";

TEST(DenyEnum, AddressesInFileOrder)
{
    write_file(kDeny,
               "# comment: 1.1.1.1\n"
               "\n"
               "ALL: 10.0.0.5\n"
               "sshd:\t\"192.168.1.7\" : deny\n"
               "ftpd: 127.0.0.1\n"      // loopback is no client address
               "ALL: 10.0.0.255\n"      // nor a broadcast
               "noaddress\n"
               "ALL: 10.0.0.5\n"        // duplicates stay
               "ALL:" + std::string(1100, ' ') + "\n"  // read in pieces; none is an address
               "in.ftpd: 8.8.8.8");
    PKORLSZLIST list = list_of({"1.2.3.4"});
    EXPECT_EQ(5, ConnSecurityDenyIPEnum(&list));
    EXPECT_EQ((std::vector<std::string>{"1.2.3.4", "10.0.0.5", "192.168.1.7", "10.0.0.5", "8.8.8.8"}), items_of(list))
        << "the list held one address before";
    KORLSzListFree(list);
}

TEST(DenyEnum, MissingFileFails)
{
    PKORLSZLIST list = list_of({});
    EXPECT_EQ(-1, ConnSecurityDenyIPEnum(&list));
    EXPECT_TRUE(syslog_has_pattern(
        "ftputil_conn_security_deny_ip_enum.cpp: ConnSecurityDenyIPEnum(<L>) - fopen(/etc/hosts.deny) failed!! "
        "err=[No such file or directory]\n"))
        << syslog_dump();
    EXPECT_EQ(-1, ConnSecurityDenyIPEnum(nullptr));
    KORLSzListFree(list);
}

struct DeleteCase {
    const char *name;
    std::string before;
    std::vector<std::string> remove;
    int result;
    std::string after;
};

const std::string kFile =
    "# blocked\n"
    "ALL: 10.0.0.5\n"
    "sshd : \"10.0.0.6\" : deny\n"
    "\n"
    "ALL:010.0.0.5\n"
    "  ALL: 10.0.0.5  \n";

const DeleteCase kDeleteCases[] = {
    {"EveryLineOfTheAddress", kFile, {"10.0.0.5"}, 2,
     "# blocked\nsshd : \"10.0.0.6\" : deny\n\nALL:010.0.0.5\n"},
    {"QuotedAddress", kFile, {"10.0.0.6", "10.9.9.9"}, 1,
     "# blocked\nALL: 10.0.0.5\n\nALL:010.0.0.5\n  ALL: 10.0.0.5  \n"},
    {"NoneFound", kFile, {"10.9.9.9"}, 0, kFile},
    {"LastLineWithoutNewline", "ALL: 1.1.1.1\nALL: 2.2.2.2", {"1.1.1.1"}, 1, "ALL: 2.2.2.2"},
    {"LongLines", "ALL: 3.3.3.3 " + std::string(5000, 'x') + "\nALL: 4.4.4.4\n", {"4.4.4.4"}, 1,
     "ALL: 3.3.3.3 " + std::string(5000, 'x') + "\n"},
    // Kept lines go out byte for byte: a NUL does not cut off the rest and its newline.
    {"NulByteInAKeptLine", std::string("x\0y\nALL:10.0.0.9\nALL:10.0.0.1\n", 30), {"10.0.0.1"}, 1,
     std::string("x\0y\nALL:10.0.0.9\n", 17)},
};

class DenyDelete : public testing::TestWithParam<DeleteCase> {};

void PrintTo(const DeleteCase &c, std::ostream *os)
{
    *os << c.name;
}

TEST_P(DenyDelete, File)
{
    const DeleteCase &c = GetParam();
    write_file(kDeny, c.before, 0640);
    struct stat before {};
    ASSERT_EQ(0, stat(kDeny, &before));
    PKORLSZLIST list = list_of(c.remove);
    EXPECT_EQ(c.result, ConnSecurityDenyIPDelete(list));
    EXPECT_EQ(c.after, read_file(kDeny));
    struct stat after {};
    ASSERT_EQ(0, stat(kDeny, &after));
    EXPECT_EQ(0640u, after.st_mode & 07777);
    // Nothing dropped: the deny file itself was not replaced.
    if (c.result == 0) {
        EXPECT_EQ(before.st_ino, after.st_ino);
    }
    EXPECT_FALSE(file_exists(kTemp));
    KORLSzListFree(list);
}

INSTANTIATE_TEST_SUITE_P(Cases, DenyDelete, testing::ValuesIn(kDeleteCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(DenyDeleteFailures, LeaveTheFileAndNoCopy)
{
    PKORLSZLIST list = list_of({"10.0.0.5"});
    mark_error();
    EXPECT_EQ(-1, ConnSecurityDenyIPDelete(nullptr));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());

    // A missing deny file.
    mark_error();
    EXPECT_EQ(-1, ConnSecurityDenyIPDelete(list));
    EXPECT_EQ(KORL_ERR_OPEN, KORLErrGet());
    EXPECT_FALSE(file_exists(kTemp));
    EXPECT_TRUE(syslog_has_pattern("ftputil_conn_security_deny_ip_delete.cpp:<L> NetBackupIModifyConf(&pshHashDel) failed"))
        << syslog_dump();

    // A link planted at the temporary name is not followed: its target stays as it was.
    write_file(kDeny, kFile);
    write_file("/etc/target", "keep\n");
    ASSERT_EQ(0, symlink("/etc/target", kTemp));
    EXPECT_EQ(2, ConnSecurityDenyIPDelete(list));
    EXPECT_EQ("keep\n", read_file("/etc/target"));
    EXPECT_FALSE(file_exists(kTemp));

    // A deny file that opens but cannot be read: the file stays, the copy goes.
    write_file(kDeny, kFile);
    remove_tree(kDeny);
    make_dirs(kDeny);
    EXPECT_EQ(-1, ConnSecurityDenyIPDelete(list));
    EXPECT_FALSE(file_exists(kTemp));
    struct stat st {};
    ASSERT_EQ(0, stat(kDeny, &st));
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    KORLSzListFree(list);
}

}  // namespace
