#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "bdb_internal.h"
#include "korv_bdb.h"
#include "korv_internal.h"
#include "korv_malloc_ptr.h"
#include "korv_unique.h"
#include "korv/platform_store.h"

namespace {

bool SameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Why a name cannot serve as a store file, as an errno: a link, a directory or another kind of
// file. 0 for a regular file.
int NotRegular(const struct stat &st)
{
    if (S_ISREG(st.st_mode))
        return 0;
    return S_ISDIR(st.st_mode) ? EISDIR : ENXIO;
}

KORVBDB *Fail(int err)
{
    switch (err) {
    case EINVAL:
        KORV_ERR(KORL_ERR_BDB_INVALID);
        break;
    case EACCES:
        KORV_ERR(KORL_ERR_PERMISSION);
        break;
    case ENOSPC:
        KORV_ERR(KORL_ERR_NO_SPACE);
        break;
    case ENOENT:
        KORV_ERR(KORL_ERR_NO_FILE);
        break;
    default:
        errno = err;
        syslog(LOG_NOTICE, "%s:%d errno=%d/%m, dbopen failed.", __FILE_NAME__, __LINE__, err);
        KORV_ERR(KORL_ERR_OPEN);
        break;
    }
    return nullptr;
}

}  // namespace

namespace korv::bdb {

KORVBDB *OpenStore(const char *path, int openFlags, int allowDup, mode_t mode)
{
    if (!path || !*path) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return nullptr;
    }
    korv::MallocPtr<KORVBDB> h(static_cast<KORVBDB *>(calloc(1, sizeof(KORVBDB))));
    if (!h) {
        KORV_ERR(KORL_ERR_NO_MEMORY);
        return nullptr;
    }

    // The store is reached by name only through Berkeley DB, so the name is looked at first
    // without following a link, and what Berkeley DB opened must be that same file.
    struct stat before {};
    bool existed = false;
    {
        if (lstat(path, &before) == 0) {
            // A link is never followed, and a socket cannot be opened at all.
            if (S_ISLNK(before.st_mode))
                return Fail(ELOOP);
            if (S_ISSOCK(before.st_mode))
                return Fail(ENXIO);
            // A store to be made afresh must not be there already, whatever it is.
            if (openFlags & O_EXCL)
                return Fail(EEXIST);
            if (int err = NotRegular(before))
                return Fail(err);
            // A store of another user than root or this process could hold records of its own
            // making: it is no store of this library, and its set is built anew over it.
            if (before.st_uid != 0 && before.st_uid != geteuid())
                return Fail(EINVAL);
            // An empty file is no B-tree; Berkeley DB would say so on stderr.
            if (before.st_size == 0 && !(openFlags & O_CREAT))
                return Fail(EINVAL);
            existed = true;
        } else if (errno != ENOENT || !(openFlags & O_CREAT)) {
            return Fail(errno);
        }
    }

    BTREEINFO info;
    memset(&info, 0, sizeof info);
    info.flags = R_DUP;
    // Berkeley DB's 1.85 interface does not pass O_EXCL on; the name was found free above and is
    // checked below to be the file that was made.
    DB *db = korv_plat_dbopen(path, openFlags & ~O_EXCL, static_cast<int>(mode), DB_BTREE, allowDup == 1 ? &info : nullptr);
    if (!db)
        return Fail(errno);

    int fd = db->fd(db);
    struct stat now {}, named {};
    int err = 0;
    if (fd < 0 || fstat(fd, &now) != 0)
        err = errno ? errno : EBADF;
    else if ((err = NotRegular(now)) == 0) {
        if (existed) {
            if (!SameFile(before, now))
                err = ELOOP;
        } else if (lstat(path, &named) != 0) {
            err = errno;
        } else if (!SameFile(named, now)) {
            err = S_ISLNK(named.st_mode) ? ELOOP : ENXIO;
        }
    }
    if (err) {
        db->close(db);
        return Fail(err);
    }

    // The mode is only set where the file does not have it already.
    if ((now.st_mode & 07777) != (mode & 07777) && geteuid() == 0 && fchmod(fd, mode) != 0)
        KORV_LOG("errno=%d/%m, chmod failed.", errno);

    h->pDb = db;
    h->cursorType = KORV_BDB_CURSOR_NEXT;
    return h.release();
}

}  // namespace korv::bdb

extern "C" KORVBDB *KORVBDbOpen(const char *path, int openFlags, int allowDup)
{
    return korv::bdb::OpenStore(path, openFlags, allowDup, 0666);
}
