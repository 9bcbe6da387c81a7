// What the configuration-file tests share: error codes, leftover temporary files, hashes and lists.
#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "case_label.h"
#include "korv/error.h"
#include "korv/file.h"
#include "korvtest.h"

namespace filetest {

using korvtest::kUntouched;
using korvtest::label;
using korvtest::mark_error;

// The names in dir that begin with base + "." (the rewrite's temporary files).
inline std::vector<std::string> temp_files(const std::string &dir, const std::string &base)
{
    std::vector<std::string> out;
    if (DIR *d = opendir(dir.c_str())) {
        while (struct dirent *e = readdir(d)) {
            std::string name = e->d_name;
            if (name.rfind(base + ".", 0) == 0)
                out.push_back(dir + "/" + name);
        }
        closedir(d);
    }
    return out;
}

inline struct stat stat_of(const std::string &path)
{
    struct stat st {};
    EXPECT_EQ(0, ::stat(path.c_str(), &st)) << path;
    return st;
}

// An owned hash filled in the given order (the order decides slots on collisions).
class Hash {
public:
    Hash(std::initializer_list<std::pair<const char *, const char *>> items = {})
        : hash_(PshKORLSzHashAlloc(0))
    {
        for (const auto &[k, v] : items)
            EXPECT_GE(KORLSzHashSetValue(&hash_, k, v), 0);
    }
    ~Hash() { KORLSzHashFree(hash_); }
    Hash(const Hash &) = delete;
    Hash &operator=(const Hash &) = delete;

    PKORLSZHASH get() const { return hash_; }
    PKORLSZHASH *addr() { return &hash_; }

    // The entries in slot order, as the library walks them.
    std::vector<std::pair<std::string, std::string>> entries() const
    {
        std::vector<std::pair<std::string, std::string>> out;
        for (int i = 0; i < hash_->nSlot; ++i)
            if (const char *k = SzKORLSzHashSlotKey(hash_, i))
                out.emplace_back(k, SzKORLSzHashSlotValue(hash_, i));
        return out;
    }
    std::map<std::string, std::string> map() const
    {
        auto e = entries();
        return {e.begin(), e.end()};
    }
    // The key lines that a writer makes of the entries with format.
    std::string lines(const char *format = "%s=%s\n") const
    {
        std::string out;
        for (const auto &[k, v] : entries()) {
            char buf[1024];
            snprintf(buf, sizeof buf, format, k.c_str(), v.c_str());
            out += buf;
        }
        return out;
    }

private:
    PKORLSZHASH hash_;
};

class List {
public:
    List(std::initializer_list<const char *> items = {}) : list_(PslKORLSzListAlloc(0))
    {
        for (const char *s : items)
            EXPECT_GE(KORLSzListPush(&list_, s), 0);
    }
    ~List() { KORLSzListFree(list_); }
    List(const List &) = delete;
    List &operator=(const List &) = delete;
    PKORLSZLIST get() const { return list_; }

private:
    PKORLSZLIST list_;
};

}  // namespace filetest

#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace filetest {

// What a call made in a child process gave: its result and the error code after it.
struct ChildResult {
    int result = -100;
    int code = -100;
};

// Runs call in a forked child that has dropped every capability, so that root there is refused
// files as any owner is refused them by their mode bits.
inline ChildResult without_capabilities(const std::function<int()> &call)
{
    int fds[2];
    EXPECT_EQ(0, pipe(fds));
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        __user_cap_header_struct hdr{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2] = {};
        ChildResult r;
        if (syscall(SYS_capset, &hdr, data) == 0) {
            r.result = call();
            r.code = KORLErrGet();
        }
        ssize_t n = write(fds[1], &r, sizeof r);
        _exit(n == sizeof r ? 0 : 1);
    }
    close(fds[1]);
    ChildResult r;
    EXPECT_EQ(static_cast<ssize_t>(sizeof r), read(fds[0], &r, sizeof r));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return r;
}

}  // namespace filetest
