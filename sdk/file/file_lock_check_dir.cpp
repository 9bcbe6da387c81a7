#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "file_lock_table.h"
#include "korv/file_lock.h"
#include "korv_internal.h"
#include "korv_unique.h"

namespace {

// A held lock is only as safe as its folder: where another user can write (or has put a link
// to a folder of their choosing), they can remove a held lock file and a second process then
// gets the same lock. So the folder must be a real folder of our own that no one else writes.
bool SafeFolder(const struct stat &st)
{
    return S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

extern "C" int KORLFileLockCheckDir(void)
{
    // The name without its slash: lstat of "/tmp/lock/" would follow a link to a folder.
    struct stat st;
    if (lstat(KORL_LOCK_DIR_NAME, &st) != 0) {
        if (errno != ENOENT) {
            KORV_ERR(KORL_ERR_LOCK_DIR);
            return -1;
        }
        if (mkdir(KORL_LOCK_DIR_NAME, 0700) == 0) {
            if (chmod(KORL_LOCK_DIR_NAME, 0755) != 0) {
                KORV_ERR(KORL_ERR_LOCK_DIR);
                return -1;
            }
        } else if (errno != EEXIST) {
            // EEXIST: another process made it between the lstat and the mkdir; it is checked below.
            KORV_ERR(KORL_ERR_LOCK_DIR);
            return -1;
        }
        if (lstat(KORL_LOCK_DIR_NAME, &st) != 0) {
            KORV_ERR(KORL_ERR_LOCK_DIR);
            return -1;
        }
    }
    if (!SafeFolder(st)) {
        KORV_ERR(KORL_ERR_LOCK_DIR);
        return -1;
    }

    for (const KORLLOCKFILE *entry = gKORLLockFiles; entry->bit != 0; ++entry) {
        // lstat: a link in place of a lock file is not one, and is never followed or written
        // through; O_NONBLOCK keeps a FIFO there from hanging the open.
        if (lstat(entry->path, &st) == 0 && S_ISREG(st.st_mode))
            continue;
        korv::UniqueFd fd(
            open(entry->path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0666));
        if (!fd || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
            KORV_ERR(KORL_ERR_OPEN);
            return -1;
        }
    }
    return 0;
}
