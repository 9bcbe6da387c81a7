#include <crypt.h>
#include <string.h>
#include <syslog.h>

#include "korv/backup.h"

extern "C" int KORVNetBkpCryptPass(const char *password, char *buf, int size)
{
    // A size of 0 leaves no room even for the terminating NUL.
    if (!password || !buf || size <= 0)
        return -1;
    memset(buf, 0, static_cast<size_t>(size));
    struct crypt_data data;
    memset(&data, 0, sizeof data);
    const char *hash = crypt_r(password, "ktaw", &data);
    // libxcrypt reports failure with a hash beginning "*" instead of null.
    if (!hash || hash[0] == '*') {
        syslog(LOG_ERR, "%s(%d): crypt() failed!!", __func__, __LINE__);
        return -1;
    }
    strncpy(buf, hash, static_cast<size_t>(size) - 1);
    return 0;
}
