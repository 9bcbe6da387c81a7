// Copying a file over another through the temporary-file rewrite.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "file_internal.h"
#include "korv/error.h"
#include "korv_rewrite.h"
#include "korv_unique.h"

namespace korv {

int CopyFile(const char *src, const char *dst, std::source_location loc)
{
    if (!src || !dst) {
        ErrAt(KORL_ERR_BAD_PARAM, loc);
        return -1;
    }
    // Only a regular file is copied: a FIFO would be waited on, a device read without end.
    UniqueFd in(open(src, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (!in || fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        ErrAt(KORL_ERR_OPEN, loc);
        return -1;
    }
    file::Target target;
    bool missing = false;
    UniqueFile old(target.Open(dst, "r", &missing, false, loc));
    FileRewrite rw(target.path());
    if (old) {
        if (rw.Begin(fileno(old.get()), loc) < 0)
            return -1;
    } else {
        if (!missing)
            return -1;
        mode_t mask = umask(0);
        umask(mask);
        if (rw.BeginNew(st.st_mode & 0777 & ~mask, static_cast<uid_t>(-1), static_cast<gid_t>(-1), loc) < 0)
            return -1;
    }
    if (ReadChunks(in.get(), [&](const char *data, size_t n) { return rw.Put(data, n, loc); }, loc) < 0)
        return -1;
    return rw.Commit(loc);
}

}  // namespace korv
