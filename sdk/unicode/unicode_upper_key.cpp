// Store keys of account and share names.
#include "korv_upper_key.h"

#include "korv/unicode.h"
#include "korv_internal.h"

namespace korv {

namespace {

// The key must fit the caller's fixed buffer with its NUL.
int Fits(const std::string &key, size_t bufSize)
{
    if (bufSize != 0 && key.size() >= bufSize) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    return 0;
}

}  // namespace

int UpperKey(const char *name, std::string &key, size_t bufSize)
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
        return Fits(key, bufSize);
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
    return Fits(key, bufSize);
}

}  // namespace korv
