// Opening a configuration file for reading; a directory opens but cannot be read as one.
#include <errno.h>
#include <sys/stat.h>

#include "file_internal.h"

namespace korv::file {

FILE *OpenForRead(const char *path, const char *mode)
{
    FILE *fp = fopen(path, mode);
    if (!fp)
        return nullptr;
    struct stat st;
    if (fstat(fileno(fp), &st) == 0 && S_ISDIR(st.st_mode)) {
        fclose(fp);
        errno = EISDIR;
        return nullptr;
    }
    return fp;
}

}  // namespace korv::file
