#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <string>

#include "backup_internal.h"
#include "korv/backup.h"
#include "korv/file.h"
#include "korv/list.h"
#include "korv/proc.h"
#include "korv/string.h"
#include "korv_rewrite.h"
#include "korv_sz_holders.h"
#include "korv_unique.h"
#include "korv_io.h"

using namespace korv::backup;

namespace {

#define RSYNC_LOG(fmt, ...) \
    syslog(LOG_ERR, "%s %s(%d)" fmt, __FILE_NAME__, __func__, __LINE__ __VA_OPT__(, ) __VA_ARGS__)

constexpr const char kAuthUsers[] = "auth users =";
constexpr const char kSecretsLine[] = "secrets file = /etc/rsyncd.secrets";
// The "auth users" line is read into and rebuilt in this many bytes.
constexpr size_t kAuthLineSize = 128;
constexpr size_t kSecretLineSize = 3090;

// Index of name in the list ignoring case, or -1.
int FindName(PKORLSZLIST list, const char *name)
{
    if (!name)
        return -1;
    for (int i = 0; i < list->nItem; ++i) {
        if (strcasecmp(SzKORLSzListGet(list, i), name) == 0)
            return i;
    }
    return -1;
}

int NetBackupSetAuthUser(const char *oldName, const char *newName, int op)
{
    korv::ListHolder names(PslKORLSzListAlloc(1024));
    if (!names) {
        RSYNC_LOG(" : PslKORLSzListAlloc() failed");
        return -1;
    }
    char line[kAuthLineSize] = "";
    int got = KORLFileGetLine(KORV_RSYNCD_CONF, kAuthUsers, line, sizeof line, 0);
    if (got < 0) {
        RSYNC_LOG(": KORLFileGetLine(szStrFile=[%s], szKey=[auth users]) failed", KORV_RSYNCD_CONF);
        return -1;
    }
    if (got == 0) {
        if (op == KORV_RSYNC_OP_DELETE)
            return 0;
        char added[kAuthLineSize];
        if (snprintf(added, sizeof added, "auth users = %s", newName) >= static_cast<int>(sizeof added) ||
            KORLFileAddLine(KORV_RSYNCD_CONF, nullptr, added, OP_FIND_PREFIX) <= 0) {
            RSYNC_LOG(": KORLFileAddLine(szStrFile=[%s], szLine=[%s]) failed", KORV_RSYNCD_CONF, added);
            return -1;
        }
        return 0;
    }

    // Only the text from "auth users =" on is rebuilt; what stands before it stays.
    char *key = strstr(line, kAuthUsers);
    char *eq = strchr(key, '=');
    char value[kAuthLineSize];
    if (KORLStrTrimSpace(eq + 1, value) < 0) {
        RSYNC_LOG(": KORLStrTrimSpace(szInputStr=[%s]) failed", eq + 1);
        return -1;
    }
    if (KORLStrSep(value, ",", names.addr()) < 0)
        return -1;
    int oldAt = FindName(names.get(), oldName);
    int newAt = FindName(names.get(), newName);
    if (op == KORV_RSYNC_OP_ADD) {
        if (newAt >= 0)
            return 0;
        if (KORLSzListPush(names.addr(), newName) < 0) {
            RSYNC_LOG(": KORLSzListPush() failed!! szNewRsyncName=%s", newName);
            return -1;
        }
    } else if (op == KORV_RSYNC_OP_CHANGE) {
        if (oldAt >= 0) {
            if (KORLSzListSet(names.addr(), oldAt, newName) < 0) {
                RSYNC_LOG(": KORLSzListSet() failed!! \t\t\t\t\t   szOldName=[%s], szNewRsyncName=[%s]", oldName,
                          newName);
                return -1;
            }
        } else if (KORLSzListPush(names.addr(), newName) < 0) {
            RSYNC_LOG(": KORLSzListPush() failed!! szNewRsyncName=%s", newName);
            return -1;
        }
    } else if (oldAt < 0 || !SzKORLSzListRemove(names.get(), oldAt)) {
        RSYNC_LOG(": SzKORLSzListRemove() failed!! szOldName=%s", oldName);
    }

    // The rebuilt line must fit the buffer it is read back into: a longer one is refused.
    char rebuilt[kAuthLineSize];
    size_t used = static_cast<size_t>(key - line);
    memcpy(rebuilt, line, used);
    int n = snprintf(rebuilt + used, sizeof rebuilt - used, "%s", kAuthUsers);
    for (int i = 0; n >= 0 && used + static_cast<size_t>(n) < sizeof rebuilt && i < names->nItem; ++i) {
        used += static_cast<size_t>(n);
        n = snprintf(rebuilt + used, sizeof rebuilt - used, "%s%s", i ? "," : " ", SzKORLSzListGet(names.get(), i));
    }
    if (n < 0 || used + static_cast<size_t>(n) >= sizeof rebuilt) {
        RSYNC_LOG(": KORLFileSetLine(szFile=[%s], szKey=[auth users]) failed", KORV_RSYNCD_CONF);
        return -1;
    }
    // The line replaced is the line read: the first that holds all of it.
    if (KORLFileSetLine(KORV_RSYNCD_CONF, line, rebuilt, 0) <= 0) {
        RSYNC_LOG(": KORLFileSetLine(szFile=[%s], szKey=[auth users]) failed", KORV_RSYNCD_CONF);
        return -1;
    }
    return 0;
}

// Writes the first line of a new secrets file, which only root and its group may read from the
// moment it exists.
int CreateSecrets(const char *text)
{
    korv::UniqueFd fd(open(KORV_RSYNCD_SECRETS, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0640));
    if (!fd) {
        int err = errno;
        RSYNC_LOG(": KORVFOpen(%s, \"w\") failed! error_code[%d]=[%m]", KORV_RSYNCD_SECRETS, err);
        return -1;
    }
    (void)fchown(fd.get(), 0, 25);
    (void)fchmod(fd.get(), 0640);
    std::string whole = std::string(text) + "\n";
    if (!korv::WriteAll(fd.get(), whole.data(), whole.size()).ok() || fsync(fd.get()) != 0 || fd.close() != 0) {
        int err = errno;
        syslog(LOG_ERR, "%s: %s(%d) - writing %s failed! error_code[%d]=[%m]", __FILE_NAME__, __func__, __LINE__,
               KORV_RSYNCD_SECRETS, err);
        unlink(KORV_RSYNCD_SECRETS);
        return -1;
    }
    return 0;
}

int NetBackupSetRsyncdSecrets(const char *oldName, const char *newName, const char *secret, int op)
{
    if (op == KORV_RSYNC_OP_DELETE)
        return NetBackupDelSecret(oldName);
    if (!newName || !secret) {
        RSYNC_LOG(" : bad argument");
        return -1;
    }
    char text[kSecretLineSize];
    if (snprintf(text, sizeof text, "%s:%s", newName, secret) >= static_cast<int>(sizeof text) ||
        korv::BreaksLine(text)) {
        RSYNC_LOG(" : bad argument");
        return -1;
    }
    struct stat st;
    if (stat(KORV_RSYNCD_SECRETS, &st) != 0) {
        int err = errno;
        if (err != ENOENT) {
            RSYNC_LOG(": stat(%s) failed! error_code[%d]=[%m]", KORV_RSYNCD_SECRETS, err);
            return -1;
        }
        return CreateSecrets(text);
    }
    int set = 0;
    if (oldName) {
        char key[16];
        snprintf(key, sizeof key, "%s:", oldName);
        set = KORLFileSetLine(KORV_RSYNCD_SECRETS, key, text, OP_MATCH_PREFIX);
        if (set < 0) {
            RSYNC_LOG(":can not set %s's password", newName);
            return -1;
        }
    }
    if (set == 0 && KORLFileAddLine(KORV_RSYNCD_SECRETS, nullptr, text, OP_FIND_PREFIX) <= 0) {
        RSYNC_LOG(":can not add %s's password", newName);
        return -1;
    }
    (void)chmod(KORV_RSYNCD_SECRETS, 0640);
    (void)chown(KORV_RSYNCD_SECRETS, 0, 25);
    return 0;
}

int EnsureSecretsFile()
{
    char line[256];
    int got = KORLFileGetLine(KORV_RSYNCD_CONF, kSecretsLine, line, sizeof line, 0);
    if (got < 0) {
        RSYNC_LOG(": KORLFileGetLine(szFile=[%s], szKey=[%s]) failed", KORV_RSYNCD_CONF, kSecretsLine);
        return -1;
    }
    if (got == 0 && KORLFileAddLine(KORV_RSYNCD_CONF, nullptr, kSecretsLine, OP_FIND_PREFIX) <= 0) {
        RSYNC_LOG(": KORLFileAddLine(szFile=[%s], szLine=[%s]) failed", KORV_RSYNCD_CONF, kSecretsLine);
        return -1;
    }
    return 0;
}

bool ParamsOk(const char *oldName, const char *newName, const char *secret, int op)
{
    switch (op) {
    case KORV_RSYNC_OP_ADD:
        return newName && secret && RsyncNameFits(newName);
    case KORV_RSYNC_OP_CHANGE:
        return oldName && newName && secret && RsyncNameFits(oldName) && RsyncNameFits(newName);
    case KORV_RSYNC_OP_DELETE:
        return oldName && RsyncNameFits(oldName);
    default:
        return false;
    }
}

}  // namespace

extern "C" int KORVNetBackupSetServerPasswd(const char *oldName, const char *newName, const char *secret, int op)
{
    oldName = RsyncAccount(oldName);
    newName = RsyncAccount(newName);
    // Account names that do not fit the secrets key would match other accounts' lines.
    if (!ParamsOk(oldName, newName, secret, op)) {
        RSYNC_LOG(" : bad parameters");
        return -1;
    }
    if (KORLProcExec(KORV_RSYNCD_SCRIPT, "stop", nullptr, nullptr, nullptr) != 0)
        RSYNC_LOG(": failed to stop S84rsyncd.sh.");

    int result = -1;
    if (NetBackupSetAuthUser(op == KORV_RSYNC_OP_ADD ? nullptr : oldName, newName, op) == 0 &&
        EnsureSecretsFile() == 0 &&
        NetBackupSetRsyncdSecrets(op == KORV_RSYNC_OP_ADD ? nullptr : oldName, newName, secret, op) == 0)
        result = 0;

    // The daemon comes back after a failure too: it must not stay down for a refused change.
    sleep(2);
    if (KORLProcExec(KORV_RSYNCD_SCRIPT, "start", nullptr, nullptr, nullptr) != 0)
        syslog(LOG_ERR, "%s:%d(%s): failed to start S84rsyncd.sh.", __FILE_NAME__, __LINE__, __func__);
    return result;
}
