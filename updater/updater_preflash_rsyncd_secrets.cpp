// The rsync secrets in Base64: a secret that already decodes completely stays, any other is
// replaced by the Base64 of its bytes and its NUL. The file is rebuilt beside itself and renamed
// over it only when every line was written.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include "korv/error.h"
#include "korv/string.h"
#include "updater.h"
#include "updater_preflash.h"

namespace {

const char kSecrets[] = "/etc/rsyncd.secrets";
const char kTemp[] = "/etc/rsyncd.secrets.tmp";
constexpr mode_t kMode = 0640;
constexpr uid_t kOwner = 0;
constexpr gid_t kGroup = 25;

struct FileCloser {
    void operator()(FILE *f) const { fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

struct LineFree {
    void operator()(char *p) const { free(p); }
};

// The temporary file, readable only by root and the rsync group before anything is written.
File OpenTemp()
{
    int fd = open(kTemp, O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, kMode);
    if (fd < 0)
        return nullptr;
    if (fchmod(fd, kMode) != 0 || fchown(fd, kOwner, kGroup) != 0) {
        int err = errno;
        close(fd);
        unlink(kTemp);
        errno = err;
        return nullptr;
    }
    FILE *f = fdopen(fd, "w+");
    if (!f) {
        int err = errno;
        close(fd);
        unlink(kTemp);
        errno = err;
    }
    return File(f);
}

// The secret as it is to be stored; false when the line is dropped.
bool StoredSecret(const char *user, const char *secret, std::vector<unsigned char> *decoded, const char **out)
{
    int len = static_cast<int>(strlen(secret));
    syslog(LOG_DEBUG, "%s (%s):%d szPtr len=%d", UPDT_SOURCE, "CheckAndUpdateRsyncdSecrets", __LINE__, len);
    decoded->resize(len > 0 ? len : 1);
    int cap = static_cast<int>(decoded->size());
    if (Base64Decode(secret, len, decoded->data(), &cap) == 1) {
        syslog(LOG_DEBUG, "%s (%s):%d szDecodePass len=%d", UPDT_SOURCE, "CheckAndUpdateRsyncdSecrets", __LINE__, cap);
        *out = secret;
        return true;
    }
    const char *encoded = SzBase64EncodeOneLine(secret, len + 1);
    if (!encoded) {
        syslog(LOG_ERR, "%s (%s):%d SzBase64EncodeOneLine() failed! inputBuf(auth:secret) = [%s]", UPDT_SOURCE,
               "CheckAndUpdateRsyncdSecrets", __LINE__, user);
        return false;
    }
    syslog(LOG_DEBUG, "%s (%s):%d szEncodePass len=%d", UPDT_SOURCE, "CheckAndUpdateRsyncdSecrets", __LINE__,
           static_cast<int>(strlen(encoded)));
    *out = encoded;
    return true;
}

}  // namespace

int CheckAndUpdateRsyncdSecrets(void)
{
    File in(fopen(kSecrets, "r"));
    if (!in) {
        syslog(LOG_ERR, "%s (%s):%d fail to open [%s]! errno=%d/%m", UPDT_SOURCE, __func__, __LINE__, kSecrets, errno);
        return 0;
    }
    File out = OpenTemp();
    if (!out) {
        syslog(LOG_ERR, "%s (%s):%d fail to open [%s]! errno=%d/%m", UPDT_SOURCE, __func__, __LINE__, kSecrets, errno);
        return 0;
    }
    bool written = true;
    std::vector<unsigned char> decoded;
    char *raw = nullptr;
    size_t rawSize = 0;
    while (getline(&raw, &rawSize, in.get()) >= 0) {
        if (KORLStrTrimSpace(raw, nullptr) < 0) {
            syslog(LOG_ERR, "%s (%s):%d KORLStrTrimSpace() failed! szInput[%d bytes], errno=[0x%04X]", UPDT_SOURCE,
                   __func__, __LINE__, static_cast<int>(strlen(raw)), KORLErrGet());
            continue;
        }
        char *bar = strchr(raw, '|');
        if (!bar)
            continue;
        *bar = '\0';
        const char *secret = nullptr;
        if (!StoredSecret(raw, bar + 1, &decoded, &secret))
            continue;
        if (fprintf(out.get(), "%s|%s\n", raw, secret) < 0) {
            written = false;
            break;
        }
    }
    bool readFailed = ferror(in.get()) != 0;
    std::unique_ptr<char, LineFree> line(raw);
    in.reset();
    if (written && !readFailed)
        written = fflush(out.get()) == 0 && fsync(fileno(out.get())) == 0;
    else
        written = false;
    int closed = fclose(out.release());
    if (!written || closed != 0) {
        syslog(LOG_ERR, "%s (%s):%d fail to write [%s]! errno=%d/%m", UPDT_SOURCE, __func__, __LINE__, kTemp, errno);
        unlink(kTemp);
        return 0;
    }
    if (rename(kTemp, kSecrets) != 0) {
        syslog(LOG_WARNING, "%s (%s):%d rename %s file failed! errno=%d/%m", UPDT_SOURCE, __func__, __LINE__, kTemp,
               errno);
        unlink(kTemp);
        return 0;
    }
    chmod(kSecrets, kMode);
    int ignored = chown(kSecrets, kOwner, kGroup);
    (void)ignored;
    return 0;
}
