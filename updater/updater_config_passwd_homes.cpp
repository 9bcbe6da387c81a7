// The local accounts' home directories move under "/var/services/homes"; "/etc/passwd" is written
// whole beside itself and replaces the old one only when every account made it into the copy.
#include <errno.h>
#include <pwd.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <vector>

#include "korv/error.h"
#include "korv/user.h"
#include "korv_named_lock.h"
#include "korv_rewrite.h"
#include "korv_unique.h"
#include "updater_config.h"

namespace {

constexpr size_t kEntryBuffer = 4096;
// A line longer than this is no account the device could have made.
constexpr size_t kEntryBufferMax = 1u << 20;

// The next entry of fp into *pw, the buffer grown while the entry does not fit: 1, 0 at the end
// of the file, -1 on a read failure (errno set).
int NextEntry(FILE *fp, std::vector<char> &buf, struct passwd *pw)
{
    for (;;) {
        long at = ftell(fp);
        struct passwd *got = nullptr;
        int r = fgetpwent_r(fp, pw, buf.data(), buf.size(), &got);
        if (r == 0 && got)
            return 1;
        if (r == ENOENT)
            return 0;
        if (r != ERANGE || buf.size() >= kEntryBufferMax || at < 0 || fseek(fp, at, SEEK_SET) != 0) {
            errno = r ? r : EIO;
            return -1;
        }
        buf.resize(buf.size() * 2);
    }
}

// The accounts of in, homes moved, written to out: 0, or -1 after its message.
int CopyAccounts(FILE *in, FILE *out)
{
    std::vector<char> buf(kEntryBuffer);
    char home[4096];
    struct passwd pw;
    int r;
    while ((r = NextEntry(in, buf, &pw)) == 1) {
        // A domain account is not the file's to keep.
        if (!pw.pw_name || !*pw.pw_name || strchr(pw.pw_name, '\\'))
            continue;
        // uid 1025, the guest, keeps its home.
        if (pw.pw_uid == KORV_USER_UID_FIRST || pw.pw_uid > KORV_USER_UID_GUEST) {
            int n = snprintf(home, sizeof home, "%s/%s", "/var/services/homes", pw.pw_name);
            if (n < 0 || static_cast<size_t>(n) >= sizeof home) {
                syslog(LOG_ERR, "%s:%d home of [%s] too long.", "updater", __LINE__, pw.pw_name);
                return -1;
            }
            pw.pw_dir = home;
        }
        if (putpwent(&pw, out) != 0) {
            int err = errno;
            syslog(LOG_ERR, "%s:%d putpwent failed. errno:%d, message:%s", "updater", __LINE__, err, strerror(err));
            return -1;
        }
    }
    if (r < 0) {
        int err = errno;
        syslog(LOG_ERR, "%s:%d getpwent_r failed. errno:%d, message:%s", "updater", __LINE__, err, strerror(err));
        return -1;
    }
    return 0;
}

int Rewrite()
{
    // The user module edits the account files under lock_pw.
    korv::NamedLock lock(KORL_LOCK_PW);
    if (lock.Take(LOCK_EX) != 0)
        return -1;
    // The walk reads the file itself, as the user database does: only its own accounts are
    // written back, never what another name service would add.
    korv::UniqueFile in(fopen(KORV_PASSWD_FILE, "re"));
    struct stat st;
    if (!in || fstat(fileno(in.get()), &st) != 0) {
        int err = errno;
        syslog(LOG_ERR, "%s:%d open passwd failed. errno:%d, message:%s", "updater", __LINE__, err, strerror(err));
        return -1;
    }
    korv::FileRewrite rw(KORV_PASSWD_FILE);
    if (rw.BeginNew(0644, st.st_uid, st.st_gid) != 0) {
        syslog(LOG_ERR, "%s:%d mkstemp passwd tmpfile failed. errno:%d, message:%m", "updater", __LINE__, errno);
        return -1;
    }
    if (CopyAccounts(in.get(), rw.stream()) != 0)
        return -1;
    return UPDTConfigCommitFile(rw, {"fflush", "fsync", "rename passwd", "fflush"});
}

}  // namespace

int UPDTConfigPasswdHomes(void)
{
    if (Rewrite() == 0)
        return 0;
    syslog(LOG_ERR, "%s(%d) Rewrite /etc/passwd user home failed.", "updater", __LINE__);
    return -1;
}
