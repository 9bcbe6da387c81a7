// What the group tests share: a device's group files beside its account files, and owned sets
// and records.
#pragma once

#include <string>

#include "../user/user_test_util.h"
#include "korv/group.h"

namespace grouptest {

using usertest::mark_error;
using usertest::records;
using usertest::stored;

// "/etc/group" and "/etc/group_desc" as the dump writes them: the index line, then the groups by gid.
struct GroupFiles {
    std::string group =
        "#$_@GID__INDEX@_$65601$\n"
        "root:x:0:\n"
        "ftp:x:21:\n"
        "smmsp:x:25:admin\n"
        "users:x:100:\n"
        "staff:x:65600:alice,bob\n"
        "devs:x:65601:bob\n";
    std::string desc =
        "staff:The staff\n"
        "devs:Developers: all of them\n";
};

inline void install(const GroupFiles &g = GroupFiles())
{
    usertest::install();
    korvtest::write_file(KORV_GROUP_FILE, g.group, 0644);
    korvtest::write_file(KORV_GROUP_DESC_FILE, g.desc, 0644);
}

inline GroupFiles installed()
{
    GroupFiles g;
    g.group = korvtest::read_file(KORV_GROUP_FILE);
    g.desc = korvtest::read_file(KORV_GROUP_DESC_FILE);
    return g;
}

inline bool operator==(const GroupFiles &x, const GroupFiles &y)
{
    return x.group == y.group && x.desc == y.desc;
}

inline void PrintTo(const GroupFiles &g, std::ostream *os)
{
    *os << "\n--group\n" << g.group << "--group_desc\n" << g.desc;
}

// The live set, opened (and built when missing); closed with the holder.
class Db {
public:
    explicit Db(bool open = true) : set_(open ? KORVGroupDBOpen() : nullptr) {}
    ~Db() { KORVGroupDBClose(set_); }
    Db(const Db &) = delete;
    Db &operator=(const Db &) = delete;
    void open()
    {
        KORVGroupDBClose(set_);
        set_ = KORVGroupDBOpen();
    }
    void close()
    {
        KORVGroupDBClose(set_);
        set_ = nullptr;
    }
    KORVGROUPDB *get() const { return set_; }
    KORVGROUPDB **addr() { return &set_; }
    KORVGROUPDB *operator->() const { return set_; }
    explicit operator bool() const { return set_ != nullptr; }

private:
    KORVGROUPDB *set_;
};

// An owned group record.
struct Group {
    KORVGROUP *p = nullptr;
    ~Group() { KORVGroupFree(p); }
    KORVGROUP *operator->() const { return p; }
    std::vector<std::string> members() const
    {
        std::vector<std::string> out;
        for (char **m = p->ppszMembers; *m; ++m)
            out.push_back(*m);
        return out;
    }
};

// A record to store: name, gid and members.
inline Group make(const char *name, int gid, std::vector<std::string> members = {})
{
    std::vector<char *> array;
    for (std::string &m : members)
        array.push_back(m.data());
    array.push_back(nullptr);
    Group g;
    EXPECT_EQ(0, KORVGroupAlloc2(&g.p, name, gid, array.data()));
    return g;
}

// The records of a store with duplicates, in store order, as "key=value" lines.
inline std::string walk(KORVBDB *store)
{
    std::string out;
    for (const auto &[k, v] : records(store))
        out += k + "=" + v + "\n";
    return out;
}

}  // namespace grouptest
