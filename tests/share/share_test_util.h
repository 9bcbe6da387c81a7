// What the share tests share: a device's smb.conf beside its account and group files, and owned
// records and databases.
#pragma once

#include <string>

#include "../group/group_test_util.h"
#include "korv/share.h"
#include "korv/wins.h"

namespace sharetest {

using usertest::mark_error;

// smb.conf as the dump writes it: the reserved sections first, then the shares by upper-cased name.
inline const std::string kSmbConf =
    "[global]\n"
    "\tworkgroup=WORKGROUP\n"
    "\tsecurity=user\n"
    "\t\n"
    "\t; kept as it is\n"
    "[Data]\n"
    "\tinvalid users=nobody,bob,nobody\n"
    "\tvalid users=nobody,alice,nobody\n"
    "\tcomment=\"Team data\"\n"
    "\tpath=/volume1/Data\n"
    "\tguest ok=no\n"
    "\tbrowseable=yes\n"
    "\tftp disable list=no\n"
    "\tftp disable modify=yes\n"
    "\tftp disable download=no\n"
    "\tread list=nobody,nobody\n"
    "\twrite list=nobody,alice,nobody\n"
    "\twriteable=no\n"
    "[public]\n"
    "\tinvalid users=nobody,nobody\n"
    "\tvalid users=nobody,nobody\n"
    "\tcomment=\"\"\n"
    "\tpath=/volume1/public\n"
    "\tguest ok=yes\n"
    "\tbrowseable=no\n"
    "\tftp disable list=yes\n"
    "\tftp disable modify=no\n"
    "\tftp disable download=yes\n"
    "\tread list=nobody,nobody\n"
    "\twrite list=nobody,nobody\n"
    "\twriteable=yes\n"
    "[usbshare1]\n"
    "\tinvalid users=nobody,nobody\n"
    "\tvalid users=nobody,@staff,nobody\n"
    "\tcomment=\"USB disk\"\n"
    "\tpath=/volumeUSB1/usbshare\n"
    "\tguest ok=yes\n"
    "\tbrowseable=yes\n"
    "\tftp disable list=no\n"
    "\tftp disable modify=no\n"
    "\tftp disable download=no\n"
    "\tread list=nobody,@staff,nobody\n"
    "\twrite list=nobody,nobody\n"
    "\twriteable=no\n";

// Users, groups and smb.conf.
inline void install(const std::string &smbConf = kSmbConf)
{
    grouptest::install();
    korvtest::write_file(KORV_SMB_CONF, smbConf, 0644);
}

// The live database, opened (and built when missing); closed with the holder.
class Db {
public:
    explicit Db(bool open = true) : db_(open ? KORVShareDBOpen() : nullptr) {}
    ~Db() { close(); }
    Db(const Db &) = delete;
    Db &operator=(const Db &) = delete;
    void open()
    {
        close();
        db_ = KORVShareDBOpen();
    }
    void close()
    {
        if (db_)
            KORVShareDBClose(db_);
        db_ = nullptr;
    }
    KORVSHAREDB *get() const { return db_; }
    KORVSHAREDB **addr() { return &db_; }
    KORVSHAREDB *operator->() const { return db_; }
    explicit operator bool() const { return db_ != nullptr; }

private:
    KORVSHAREDB *db_;
};

// An owned share record.
struct Share {
    KORVSHARE *p = nullptr;
    Share() = default;
    explicit Share(KORVSHARE *s) : p(s) {}
    Share(Share &&o) noexcept : p(o.p) { o.p = nullptr; }
    ~Share() { KORVShareFree(p); }
    KORVSHARE *operator->() const { return p; }
};

// A record to store.
struct Spec {
    const char *name = "Data";
    const char *comment = nullptr;
    const char *path = "/volume1/Data";
    const char *invalid = nullptr;
    const char *write = nullptr;
    const char *read = nullptr;
    int fType = KORV_SHARE_READ_ONLY;
    int browseable = 1;
    int ftpFlags = 0;
};

inline KORVSHARE in(const Spec &s)
{
    KORVSHARE r{};
    r.szName = const_cast<char *>(s.name);
    r.szComment = const_cast<char *>(s.comment);
    r.szPath = const_cast<char *>(s.path);
    r.szInvalidUsers = const_cast<char *>(s.invalid);
    r.szWriteList = const_cast<char *>(s.write);
    r.szReadList = const_cast<char *>(s.read);
    r.fType = s.fType;
    r.browseable = s.browseable;
    r.ftpFlags = s.ftpFlags;
    return r;
}

inline Share make(const Spec &s)
{
    KORVSHARE r = in(s);
    return Share(KORVShareAlloc(&r));
}

// The stored value of a share key (upper-cased name, its NUL added), as bytes; "<absent>" when none.
inline std::string stored(KORVSHAREDB *db, const std::string &key)
{
    void *v = nullptr;
    int cb = 0;
    std::string out = "<absent>";
    if (KORVBDbGet(db->pShare, key.c_str(), static_cast<int>(key.size()) + 1, &v, &cb) == 0)
        out.assign(static_cast<char *>(v), static_cast<size_t>(cb));
    KORVBDbFree(v);
    return out;
}

// The names a walk of the database gives, in order.
inline std::vector<std::string> names(KORVSHAREDB *db)
{
    std::vector<std::string> out;
    EXPECT_EQ(0, KORVBDbCursorSetType(db->pShare, KORV_BDB_CURSOR_FIRST));
    Share s;
    for (int i = 0; KORVShareDBCursorGet(db, &s.p) == 0; i++) {
        out.push_back(s->szName);
        if (i == 0) {
            EXPECT_EQ(0, KORVBDbCursorSetType(db->pShare, KORV_BDB_CURSOR_NEXT));
        }
    }
    EXPECT_EQ(KORL_ERR_BDB_END, KORLErrGet());
    return out;
}

// One share of an open database.
inline Share get(KORVSHAREDB *db, const char *name)
{
    EXPECT_EQ(0, KORVBDbCursorSetType(db->pShare, KORV_BDB_CURSOR_FIRST));
    Share s;
    for (int i = 0; KORVShareDBCursorGet(db, &s.p) == 0; i++) {
        if (strcmp(s->szName, name) == 0)
            return s;
        if (i == 0) {
            EXPECT_EQ(0, KORVBDbCursorSetType(db->pShare, KORV_BDB_CURSOR_NEXT));
        }
    }
    ADD_FAILURE() << "no share " << name;
    return Share();
}

// One share read back from the live database.
inline Share get(const char *name)
{
    Db db;
    return db ? get(db.get(), name) : Share();
}

}  // namespace sharetest
