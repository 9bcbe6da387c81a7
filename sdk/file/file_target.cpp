// Opening the file that a reader reads or a writer rewrites, and the ends of a rewrite that the
// writers share.
#include <errno.h>
#include <sys/stat.h>

#include "file_internal.h"
#include "korv/error.h"

namespace korv::file {

FILE *OpenTarget(const char *path, const char *mode, bool *missing, std::source_location loc)
{
    FILE *fp = fopen(path, mode);
    if (!fp) {
        // Only a file that is not there may be made; one that cannot be opened is left alone.
        if (missing && errno == ENOENT)
            *missing = true;
        else
            ErrAt(KORL_ERR_OPEN, loc);
        return nullptr;
    }
    struct stat st;
    if (fstat(fileno(fp), &st) == 0 && S_ISDIR(st.st_mode)) {
        fclose(fp);
        ErrAt(KORL_ERR_OPEN, loc);
        return nullptr;
    }
    return fp;
}

FILE *BeginRewrite(FileRewrite &rw, const char *path, bool *missing, std::source_location loc)
{
    UniqueFile target(OpenTarget(path, "r", missing, loc));
    if (!target || rw.Begin(fileno(target.get()), loc) < 0)
        return nullptr;
    return target.release();
}

int CreateWithLine(const char *path, const char *line, std::source_location loc)
{
    FileRewrite rw(path);
    if (rw.BeginNew(CreationMode(), static_cast<uid_t>(-1), static_cast<gid_t>(-1), loc) < 0)
        return -1;
    if (line && rw.PutLine(line, loc) < 0)
        return -1;
    return rw.Commit(loc) < 0 ? -1 : 1;
}

int CommitChanges(FileRewrite &rw, int changes, std::source_location loc)
{
    if (changes == 0) {
        rw.Abandon();
        ErrAt(KORL_ERR_NOT_FOUND, loc);
        return 0;
    }
    return rw.Commit(loc) < 0 ? -1 : changes;
}

}  // namespace korv::file
