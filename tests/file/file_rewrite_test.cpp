// The temporary-file rewrite seen through its writers: owner and mode kept, and a target left
// exactly as it was when the disk is full, the directory read-only, the name too long or the
// rename refused.
#include <errno.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

#include "file_calls.h"
#include "file_test.h"
#include "korv_rewrite.h"

using namespace korvtest;
using namespace filetest;

namespace {

const std::string kFullDir = "/volume1/full";

// A 16 KiB file system; the caller fills it.
void mount_small_disk()
{
    ASSERT_TRUE(korvtest::mount_small_disk(kFullDir)) << strerror(errno);
}

std::string big_conf(size_t bytes)
{
    std::string s;
    for (int i = 0; s.size() < bytes; ++i)
        s += "key" + std::to_string(i) + "=" + std::string(40, 'v') + "\n";
    return s;
}

TEST(Rewrite, KeepsOwnerAndMode)
{
    const std::string path = "/etc/owned.conf";
    write_file(path, "a=1\nb=1\n", 0640);
    // Inside a user namespace only root is mapped: then the owner to keep is root's.
    const bool chowned = chown(path.c_str(), 1234, 5678) == 0;
    ASSERT_EQ(0, chmod(path.c_str(), 02640));
    const struct stat old = stat_of(path);

    EXPECT_EQ(1, KORLFileSetKeyValue(path.c_str(), "b", "2", nullptr));
    EXPECT_EQ("a=1\nb=2\n", read_file(path));
    struct stat st = stat_of(path);
    EXPECT_NE(old.st_ino, st.st_ino);  // a new file took its place
    EXPECT_EQ(02640u, st.st_mode & 07777);
    EXPECT_EQ(chowned ? 1234u : old.st_uid, st.st_uid);
    EXPECT_EQ(chowned ? 5678u : old.st_gid, st.st_gid);
    EXPECT_TRUE(temp_files("/etc", "owned.conf").empty());
}

// Every rewriting writer, with a change that makes its copy about as big as the target.
struct Writer {
    const char *name;
    const char *source;  // where its failures are recorded
    std::function<int(const char *)> call;
};

const Writer kWriters[] = {
    {"SetKeyValue", "file_set_key_value.cpp", [](const char *p) { return KORLFileSetKeyValue(p, "new", std::string(200, 'n').c_str(), nullptr); }},
    {"SetKeys", "file_set_keys.cpp",
     [](const char *p) {
         Hash h({{"key1", "changed"}});
         return KORLFileSetKeys(p, h.get(), nullptr, nullptr);
     }},
    {"RemoveKey", "file_remove_key.cpp", [](const char *p) { return KORLFileRemoveKey(p, "key1"); }},
    {"AddLine", "file_add_line.cpp", [](const char *p) { return KORLFileAddLine(p, nullptr, "first line", 0); }},
    {"SetLine", "file_set_line.cpp", [](const char *p) { return KORLFileSetLine(p, "key2=", "replaced", 0); }},
    {"ReplaceSubStr", "file_replace_sub_str.cpp", [](const char *p) { return KORLFileReplaceSubStr(p, "key3", "KEY3"); }},
    {"SetSection", "file_modify_section.cpp",
     [](const char *p) {
         Hash h({{"a", "1"}});
         return ErrKORLFileSetSection(p, "sec", "renamed", h.get(), nullptr);
     }},
};

class RewriteFailure : public testing::TestWithParam<Writer> {};

void PrintTo(const Writer &w, std::ostream *os)
{
    *os << w.name;
}

TEST_P(RewriteFailure, DiskFullLeavesTargetAndNoTemporaryFile)
{
    mount_small_disk();
    const std::string path = kFullDir + "/big.conf";
    const std::string content = big_conf(9000) + "[sec]\nkey1=1\n";
    write_file(path, content);
    mark_error();
    EXPECT_EQ(-1, GetParam().call(path.c_str()));
    EXPECT_EQ(KORL_ERR_WRITE, KORLErrGet());
    EXPECT_STREQ(GetParam().source, KORLErrFileGet());
    EXPECT_EQ(content, read_file(path));
    EXPECT_TRUE(temp_files(kFullDir, "big.conf").empty());
    umount(kFullDir.c_str());
}

TEST_P(RewriteFailure, FailedRenameLeavesTheCompleteCopy)
{
    // A mount point cannot be renamed over: the copy is made, the rename is refused.
    const std::string path = "/etc/bound.conf";
    const std::string content = "[sec]\nkey1=1\nkey2=2\nkey3=3\n";
    write_file(path, "");
    write_file("/srv/bound.src", content);
    ASSERT_EQ(0, mount("/srv/bound.src", path.c_str(), nullptr, MS_BIND, nullptr)) << strerror(errno);

    // The copy that a successful call would have written.
    write_file("/etc/expected.conf", content);
    ASSERT_GT(GetParam().call("/etc/expected.conf"), 0);
    const std::string expected = read_file("/etc/expected.conf");

    mark_error();
    EXPECT_EQ(-1, GetParam().call(path.c_str()));
    EXPECT_EQ(KORL_ERR_RENAME, KORLErrGet());
    EXPECT_STREQ(GetParam().source, KORLErrFileGet());
    EXPECT_EQ(content, read_file(path));
    auto temps = temp_files("/etc", "bound.conf");
    ASSERT_EQ(1u, temps.size());
    EXPECT_EQ(expected, read_file(temps[0]));
    EXPECT_EQ(path.size() + 7, temps[0].size());  // "%s.XXXXXX"
    umount(path.c_str());
}

TEST_P(RewriteFailure, ReadOnlyDirectoryLeavesTarget)
{
    const std::string dir = "/etc/ro";
    const std::string path = dir + "/t.conf";
    const std::string content = "[sec]\nkey1=1\nkey2=2\nkey3=3\n";
    write_file(path, content);
    ASSERT_TRUE(korvtest::mount_read_only(dir)) << strerror(errno);
    mark_error();
    EXPECT_EQ(-1, GetParam().call(path.c_str()));
    EXPECT_EQ(KORL_ERR_OPEN, KORLErrGet());
    EXPECT_EQ(content, read_file(path));
    umount(dir.c_str());
}

TEST_P(RewriteFailure, TemporaryNameThatDoesNotFitIsRefused)
{
    // A target path of 4090 bytes: its temporary name needs 4097 with the NUL.
    std::string dir = "/tmp";
    while (dir.size() < 4090 - 60)
        dir += "/" + std::string(std::min<size_t>(200, 4090 - 60 - dir.size() - 1), 'd');
    make_dirs(dir);
    std::string base(4090 - dir.size() - 1, 'f');
    const std::string path = dir + "/" + base;
    ASSERT_EQ(4090u, path.size());
    const std::string content = "[sec]\nkey1=1\nkey2=2\nkey3=3\n";
    write_file(path, content);
    mark_error();
    EXPECT_EQ(-1, GetParam().call(path.c_str()));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    EXPECT_EQ(content, read_file(path));
    std::string listing;
    run_shell("ls -a '" + dir + "' | wc -l", &listing);
    EXPECT_EQ("3\n", listing);  // ".", ".." and the target
}

TEST_P(RewriteFailure, DirectoryTargetIsRefused)
{
    make_dirs("/etc/adir");
    mark_error();
    EXPECT_EQ(-1, GetParam().call("/etc/adir"));
    EXPECT_EQ(KORL_ERR_OPEN, KORLErrGet());
    EXPECT_TRUE(temp_files("/etc", "adir").empty());
}

INSTANTIATE_TEST_SUITE_P(Writers, RewriteFailure, testing::ValuesIn(kWriters),
                         [](const auto &info) { return std::string(info.param.name); });

// The writers that create a missing file do it through the copy too.
TEST(RewriteNewFile, FullDiskLeavesNoHalfFile)
{
    mount_small_disk();
    const std::string big(20000, 'x');
    const std::string path = kFullDir + "/new.conf";
    struct {
        const char *name;
        std::function<int()> call;
    } cases[] = {
        {"SetKeyValue", [&] { return KORLFileSetKeyValue(path.c_str(), "k", big.c_str(), nullptr); }},
        {"AddLine", [&] { return KORLFileAddLine(path.c_str(), "pattern", big.c_str(), 0); }},
        {"SetLine", [&] { return KORLFileSetLine(path.c_str(), "pattern", big.c_str(), 0); }},
        {"SetKeys",
         [&] {
             Hash h({{"k", big.c_str()}});
             return KORLFileSetKeys(path.c_str(), h.get(), nullptr, nullptr);
         }},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        mark_error();
        EXPECT_EQ(-1, c.call());
        EXPECT_EQ(KORL_ERR_WRITE, KORLErrGet());
        EXPECT_FALSE(file_exists(path));
        EXPECT_TRUE(temp_files(kFullDir, "new.conf").empty());
    }
    umount(kFullDir.c_str());
}

TEST(RewriteNewFile, ModesOfNewFiles)
{
    mode_t old = umask(027);
    EXPECT_EQ(1, KORLFileSetKeyValue("/etc/n1.conf", "k", "v", nullptr));
    EXPECT_EQ(1, KORLFileAddLine("/etc/n2.conf", nullptr, "line", 0));
    EXPECT_EQ(1, KORLFileSetLine("/etc/n3.conf", "x", "line", 0));
    Hash h({{"k", "v"}});
    EXPECT_EQ(1, KORLFileSetKeys("/etc/n4.conf", h.get(), nullptr, nullptr));
    umask(old);
    EXPECT_EQ(0640u, stat_of("/etc/n1.conf").st_mode & 07777);
    EXPECT_EQ(0640u, stat_of("/etc/n2.conf").st_mode & 07777);
    EXPECT_EQ(0640u, stat_of("/etc/n3.conf").st_mode & 07777);
    EXPECT_EQ(0644u, stat_of("/etc/n4.conf").st_mode & 07777);  // fixed, whatever the umask
    EXPECT_EQ("k=v\n", read_file("/etc/n1.conf"));
    EXPECT_EQ("line\n", read_file("/etc/n2.conf"));
    EXPECT_EQ("line\n", read_file("/etc/n3.conf"));
    EXPECT_EQ("k=v\n", read_file("/etc/n4.conf"));
    for (const char *base : {"n1.conf", "n2.conf", "n3.conf", "n4.conf"})
        EXPECT_TRUE(temp_files("/etc", base).empty());
}

// Commit names the step that failed and leaves errno as that step set it, for the caller's own
// words; the target stays as it was, and only a refused rename leaves the complete copy.
TEST(RewriteCommit, NamesTheFailedStep)
{
    using Step = korv::FileRewrite::CommitStep;
    struct Case {
        const char *name;
        std::string dir;
        std::function<void(const std::string &path)> arrange;
        uid_t uid;  // the copy's owner; (uid_t)-1 keeps the process's
        Step step;
        int err;
        int code;
    };
    const uid_t keep = static_cast<uid_t>(-1);
    const Case cases[] = {
        {"Flush", kFullDir,
         [](const std::string &) {
             // The disk is filled up (the filler's write fails): the copy's buffer finds no room.
             EXPECT_THROW(write_file(kFullDir + "/filler", std::string(64 * 1024, 'f')), std::runtime_error);
         },
         keep, Step::kFlush, ENOSPC, KORL_ERR_WRITE},
        {"Sync", "/etc",
         [](const std::string &path) { fail_file_calls(FileCall::kFsync, path + ".", EIO); },
         keep, Step::kSync, EIO, KORL_ERR_WRITE},
        // An id the sandbox does not map cannot own a file.
        {"Owner", "/etc", [](const std::string &) {}, 100000, Step::kOwner, EINVAL, KORL_ERR_WRITE},
        {"Mode", "/etc",
         [](const std::string &path) { fail_file_calls(FileCall::kFchmod, path + ".", EPERM); },
         keep, Step::kMode, EPERM, KORL_ERR_WRITE},
        {"Rename", "/etc",
         [](const std::string &path) {
             // A mount point cannot be renamed over.
             write_file("/srv/commit.src", "old\n");
             ASSERT_EQ(0, mount("/srv/commit.src", path.c_str(), nullptr, MS_BIND, nullptr)) << strerror(errno);
         },
         keep, Step::kRename, EBUSY, KORL_ERR_RENAME},
    };
    mount_small_disk();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = c.dir + "/commit.conf";
        write_file(path, "old\n");
        c.arrange(path);
        korv::FileRewrite rw(path.c_str());
        ASSERT_EQ(0, rw.BeginNew(0640, c.uid));
        ASSERT_EQ(0, rw.PutLine("new"));
        mark_error();
        Step failed = Step::kNone;
        errno = 0;
        EXPECT_EQ(-1, rw.Commit(&failed));
        EXPECT_EQ(c.err, errno) << strerror(errno);
        EXPECT_EQ(c.step, failed);
        EXPECT_EQ(c.code, KORLErrGet());
        EXPECT_STREQ("file_rewrite_test.cpp", KORLErrFileGet());
        EXPECT_EQ("old\n", read_file(path));
        const auto copies = temp_files(c.dir, "commit.conf");
        if (c.step == Step::kRename) {
            ASSERT_EQ(1u, copies.size());
            EXPECT_EQ("new\n", read_file(copies[0]));
        } else {
            EXPECT_TRUE(copies.empty());
        }
        fail_file_calls(FileCall::kFsync, "", 0);
        fail_file_calls(FileCall::kFchmod, "", 0);
    }
}

// A file that is there but cannot be read is neither truncated nor replaced.
TEST(RewriteUnreadable, ExistingFileIsLeftAlone)
{
    const std::string path = "/etc/writeonly.conf";
    const std::string content = "a=1\nsecret=2\n";
    struct {
        const char *name;
        std::function<int()> call;
    } cases[] = {
        {"SetKeyValue", [&] { return KORLFileSetKeyValue(path.c_str(), "a", "9", nullptr); }},
        {"AddLine", [&] { return KORLFileAddLine(path.c_str(), nullptr, "x", 0); }},
        {"AddLineAppend", [&] { return KORLFileAddLine(path.c_str(), nullptr, "x", OP_FIND_PREFIX); }},
        {"SetLine", [&] { return KORLFileSetLine(path.c_str(), "a=", "a=9", 0); }},
        {"SetKeys",
         [&] {
             Hash h({{"a", "9"}});
             return KORLFileSetKeys(path.c_str(), h.get(), nullptr, nullptr);
         }},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        write_file(path, content, 0200);
        ChildResult r = without_capabilities(c.call);
        EXPECT_EQ(-1, r.result);
        EXPECT_EQ(KORL_ERR_OPEN, r.code);
        EXPECT_EQ(content, read_file(path));
        EXPECT_EQ(0200u, stat_of(path).st_mode & 07777);
        EXPECT_TRUE(temp_files("/etc", "writeonly.conf").empty());
    }
}

}  // namespace

namespace {

// A reader that takes no lock sees the old file or the new one, never a part of either.
TEST(RewriteConcurrency, ReaderNeverSeesAHalfWrittenFile)
{
    const char *path = "/etc/busy.conf";
    const std::string head = big_conf(64 * 1024);
    const std::string a = head + "k=" + std::string(30000, 'a') + "\n";
    const std::string b = head + "k=" + std::string(50000, 'b') + "\n";
    write_file(path, a);
    pid_t writer = fork();
    if (writer == 0) {
        for (int i = 0; i < 150; ++i) {
            const std::string v(i % 2 ? 30000 : 50000, i % 2 ? 'a' : 'b');
            if (KORLFileSetKeyValue(path, "k", v.c_str(), nullptr) != 1)
                _exit(1);
        }
        _exit(0);
    }
    int seen = 0, status = 0;
    while (waitpid(writer, &status, WNOHANG) == 0) {
        const std::string now = read_file(path);
        ASSERT_TRUE(now == a || now == b) << "a copy of " << now.size() << " bytes";
        ++seen;
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_GT(seen, 0);
    EXPECT_TRUE(temp_files("/etc", "busy.conf").empty());
}

}  // namespace
