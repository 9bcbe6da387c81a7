// Text lines stored under text keys, as the account and share stores keep them.
#include <string.h>

#include "korv_bdb.h"
#include "korv_internal.h"

namespace korv::bdb {

int LookupLine(KORVBDB *store, const std::string &key, const char **text, size_t *len)
{
    const void *data;
    int n;
    int r = Lookup(store, key.c_str(), static_cast<int>(key.size()) + 1, &data, &n);
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

int RemoveKey(KORVBDB *store, const std::string &key)
{
    if (KORVBDbDelete(store, key.c_str(), static_cast<int>(key.size()) + 1) == 0)
        return 0;
    return KORLErrGet() == KORL_ERR_NOT_FOUND ? 0 : -1;
}

}  // namespace korv::bdb
