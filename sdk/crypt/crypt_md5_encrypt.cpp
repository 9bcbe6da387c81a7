#include <stdio.h>
#include <string.h>
#include <time.h>

#include <string>

#include "korv_crypt.h"
#include "korv_internal.h"

extern "C" char SaltCharGet(long long value)
{
    static const char kSaltChars[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz./";
    // The magnitude is taken unsigned, so the most negative value has one too.
    unsigned long long magnitude = value < 0 ? 0ULL - static_cast<unsigned long long>(value)
                                             : static_cast<unsigned long long>(value);
    return kSaltChars[magnitude % 64];
}

extern "C" char *SzSDKIWrapMD5Encrypt(const char *password, const char *saltSource)
{
    if (!password || !saltSource) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return nullptr;
    }
    char salt[32] = {};
    if (*saltSource) {
        // An old MD5 hash gives its salt again, so a changed password keeps it.
        if (KORVUserIsPasswdMD5Encrypt(saltSource))
            snprintf(salt, sizeof salt, "%s", saltSource);
        else
            snprintf(salt, sizeof salt, "$1$%s", saltSource);
    } else {
        // time_t stays wide: the salt comes from the full clock value.
        long long t = static_cast<long long>(time(nullptr));
        snprintf(salt, sizeof salt, "$1$%c%c", SaltCharGet(t), SaltCharGet(t + 10));
    }
    // A locked old hash ("!" before it) gives the salt of the hash after its marker.
    const char *setting = strstr(salt, "$1$");
    static std::string hash;
    hash = korv::Md5Crypt(password, setting ? setting : salt);
    return hash.data();
}
