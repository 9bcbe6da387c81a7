// What the user-database tests share: a device's account files, the stores' records read back,
// and owned records and sets.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "case_label.h"
#include "db_holder.h"
#include "korv/bdb.h"
#include "korv/error.h"
#include "korv/user.h"
#include "korvtest.h"

namespace usertest {

using korvtest::kUntouched;
using korvtest::mark_error;

// The four account files of a device, each listed in uid order as the dump writes them.
struct Accounts {
    std::string passwd =
        "root:x:0:0:root:/root:/bin/sh\n"
        "admin:x:1024:100:System default user:/var/services/homes/admin:/bin/sh\n"
        "guest:x:1025:100:Guest:/nonexistent:/bin/false\n"
        "alice:x:1030:100:Alice;, the first:/var/services/homes/alice:/bin/csh\n"
        "bob:x:1031:100::/var/services/homes/bob:/bin/csh\n"
        "nobody:x:65534:65534:nobody:/nonexistent:/bin/false\n";
    std::string shadow =
        "root:$1$rt$YZfLEgYL5jQd0NeE1dJbF/:15000:0:99999:7:::\n"
        "admin:$1$ad$gXqZ2oNhQ9h0uQ5oX9ZlE1:15000:0:99999:7:::\n"
        "guest:*:15000:0:99999:7:::\n"
        "alice:$1$Al$bH3p8p6N0B5p3a9iQ2Yw1.:15500:100000:99999:7::20000:\n"
        "bob:$1$Bo$3k9bqV5w7Wn8Bq0b1x4mT/:15500:0:99999:7:::\n"
        "nobody:*:15000:0:99999:7:::\n";
    std::string conf =
        "#$_@UID__INDEX@_$1031$\n"
        "# record user misc, format \"user_name:user_privilege:user_mail\"\n"
        "admin:7:admin@example.com\n"
        "alice:1:alice@example.com\n"
        "bob:0:\n";
    std::string smbpasswd =
        "admin:1024:AAD3B435B51404EEAAD3B435B51404EE:31D6CFE0D16AE931B73C59D7E0C089C0:[U          ]:LCT-5F000000:\n"
        "alice:1030:E52CAC67419A9A224A3B108F3FA6CB6D:8846F7EAEE8FB117AD06BDD830B7586C:[U          ]:LCT-5F000001:\n"
        "bob:1031:XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX:XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX:[U          ]:LCT-5F000002:\n";
};

inline void install(const Accounts &a = Accounts())
{
    korvtest::write_file(KORV_PASSWD_FILE, a.passwd, 0644);
    korvtest::write_file(KORV_SHADOW_FILE, a.shadow, 0600);
    korvtest::write_file(KORV_USER_CONF_FILE, a.conf, 0644);
    korvtest::write_file(KORV_SMBPASSWD_FILE, a.smbpasswd, 0600);
    // LM hashes use the device's Windows code page.
    korvtest::write_file("/etc/korvinfo.conf", "codepage=\"enu\"\n");
}

inline Accounts installed()
{
    Accounts a;
    a.passwd = korvtest::read_file(KORV_PASSWD_FILE);
    a.shadow = korvtest::read_file(KORV_SHADOW_FILE);
    a.conf = korvtest::read_file(KORV_USER_CONF_FILE);
    a.smbpasswd = korvtest::read_file(KORV_SMBPASSWD_FILE);
    return a;
}

inline bool operator==(const Accounts &x, const Accounts &y)
{
    return x.passwd == y.passwd && x.shadow == y.shadow && x.conf == y.conf && x.smbpasswd == y.smbpasswd;
}

inline void PrintTo(const Accounts &a, std::ostream *os)
{
    *os << "\n--passwd\n" << a.passwd << "--shadow\n" << a.shadow << "--conf\n" << a.conf << "--smbpasswd\n"
        << a.smbpasswd;
}

using Db = korvtest::DbHolder<KORVUSERDB, KORVUserDBOpen, KORVUserDBClose>;

// An owned user record.
struct User {
    KORVUSER *p = nullptr;
    ~User() { KORVUserFree(p); }
    KORVUSER *operator->() const { return p; }
};

// The stored value of a text key (its NUL added), without its NUL; "<absent>" when there is none.
inline std::string stored(KORVBDB *store, const std::string &key)
{
    void *v = nullptr;
    int cb = 0;
    std::string out = "<absent>";
    if (KORVBDbGet(store, key.c_str(), static_cast<int>(key.size()) + 1, &v, &cb) == 0)
        out.assign(static_cast<char *>(v), cb > 0 && static_cast<char *>(v)[cb - 1] == '\0' ? cb - 1 : cb);
    KORVBDbFree(v);
    return out;
}

// Every record of a store, markers skipped, as key -> values (duplicates in store order), NULs dropped.
inline std::multimap<std::string, std::string> records(KORVBDB *store)
{
    std::multimap<std::string, std::string> out;
    EXPECT_EQ(0, KORVBDbCursorSetType(store, KORV_BDB_CURSOR_FIRST));
    void *k = nullptr, *v = nullptr;
    int cbK = 0, cbV = 0;
    while (KORVBDbCursorGet(store, 1, &k, &cbK, &v, &cbV) == 0) {
        out.emplace(std::string(static_cast<char *>(k), strnlen(static_cast<char *>(k), cbK)),
                    std::string(static_cast<char *>(v), strnlen(static_cast<char *>(v), cbV)));
        KORVBDbCursorSetType(store, KORV_BDB_CURSOR_NEXT);
    }
    EXPECT_EQ(KORL_ERR_BDB_END, KORLErrGet());
    KORVBDbFree(k);
    KORVBDbFree(v);
    return out;
}

inline int32_t marker(KORVBDB *store, const char *key, int len)
{
    void *v = nullptr;
    int cb = 0;
    int32_t out = -999;
    if (KORVBDbGet(store, key, len, &v, &cb) == 0 && cb == 4) {
        auto *b = static_cast<unsigned char *>(v);
        out = static_cast<int32_t>(b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24);
    }
    KORVBDbFree(v);
    return out;
}

inline struct stat stat_of(const std::string &path)
{
    struct stat st {};
    EXPECT_EQ(0, ::stat(path.c_str(), &st)) << path;
    return st;
}

// The store files of the live set, in the set's order.
inline std::vector<std::string> store_files(const std::string &prefix = KORV_USER_DB_PREFIX)
{
    std::vector<std::string> out;
    for (const char *s : {".name.0947", ".misc.0947", ".shadow.0947", ".smb.0947", ".uid.0947"})
        out.push_back(prefix + s);
    return out;
}

}  // namespace usertest
