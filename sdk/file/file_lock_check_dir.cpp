#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>

#include "file_lock_table.h"
#include "korv/file_lock.h"
#include "korv_internal.h"
#include "korv_unique.h"

extern "C" int KORLFileLockCheckDir(void)
{
    struct stat st;
    if (stat(KORL_LOCK_DIR, &st) != 0 || !S_ISDIR(st.st_mode)) {
        // Another process may have made it between the stat and the mkdir.
        if (mkdir(KORL_LOCK_DIR, 0700) != 0 &&
            !(errno == EEXIST && stat(KORL_LOCK_DIR, &st) == 0 && S_ISDIR(st.st_mode))) {
            KORV_ERR(KORL_ERR_LOCK_DIR);
            return -1;
        }
        if (chmod(KORL_LOCK_DIR, 0755) != 0) {
            KORV_ERR(KORL_ERR_LOCK_DIR);
            return -1;
        }
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
