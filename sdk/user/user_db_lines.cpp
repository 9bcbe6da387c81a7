// Keys and stored lines of the user stores.
#include <stdio.h>
#include <string.h>

#include "korv/unicode.h"
#include "korv_bdb.h"
#include "korv_internal.h"
#include "user_internal.h"

namespace korv::user {

int UpperKey(const char *name, std::string &key)
{
    // ICU's root-locale upper-casing maps only a-z within ASCII: ASCII names need no conversion.
    size_t n0 = 0;
    bool ascii = true;
    for (; name && name[n0]; n0++) {
        if (static_cast<unsigned char>(name[n0]) >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (name && ascii) {
        if (n0 == 0) {
            KORV_ERR(KORL_ERR_OTHER);
            return -1;
        }
        key.assign(name, n0);
        for (char &c : key) {
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
        }
        return 0;
    }
    char small[256];
    int n = KORLUnicodeUTF8StrUpper(name, small, sizeof small);
    if (n < 0)
        return -1;
    if (n < static_cast<int>(sizeof small)) {
        key.assign(small, static_cast<size_t>(n));
    } else {
        key.assign(static_cast<size_t>(n) + 1, '\0');
        if (KORLUnicodeUTF8StrUpper(name, key.data(), n + 1) != n)
            return -1;
        key.resize(static_cast<size_t>(n));
    }
    // A record under an empty key could never be found or removed by name.
    if (key.empty() || key.find('\0') != std::string::npos) {
        KORV_ERR(KORL_ERR_OTHER);
        return -1;
    }
    return 0;
}

std::string UidKey(int uid)
{
    char buf[16];
    snprintf(buf, sizeof buf, "%06d", uid);
    return buf;
}

int LookupLine(KORVBDB *store, const std::string &key, const char **text, size_t *len)
{
    const void *data;
    int n;
    int r = korv::bdb::Lookup(store, key.c_str(), static_cast<int>(key.size()) + 1, &data, &n);
    if (r != 0)
        return r;
    // Lines are stored with their NUL and hold no other.
    const char *s = static_cast<const char *>(data);
    if (n <= 0 || s[n - 1] != '\0' || memchr(s, '\0', static_cast<size_t>(n) - 1)) {
        KORV_ERR(KORL_ERR_MALFORMED);
        return -1;
    }
    *text = s;
    if (len)
        *len = static_cast<size_t>(n) - 1;
    return 0;
}

int ReadLine(KORVBDB *store, const std::string &key, std::string &text)
{
    const char *s;
    size_t n;
    int r = LookupLine(store, key, &s, &n);
    if (r == 0)
        text.assign(s, n);
    return r;
}

int StoreLine(KORVBDB *store, const std::string &key, const char *text, size_t len)
{
    if (len >= 0x7fffffff) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    return KORVBDbSet(store, key.c_str(), static_cast<int>(key.size()) + 1, text, static_cast<int>(len) + 1);
}

int StoreLine(KORVBDB *store, const std::string &key, const std::string &text)
{
    return StoreLine(store, key, text.c_str(), text.size());
}

bool IsSystemUid(int uid)
{
    unsigned limit = KORVGuestSupport() ? KORV_USER_UID_GUEST : KORV_USER_UID_FIRST;
    return static_cast<unsigned>(uid) <= limit;
}

}  // namespace korv::user
