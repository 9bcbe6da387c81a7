#include <errno.h>
#include <stdio.h>
#include <unistd.h>

#include "korv/log.h"
#include "korv_internal.h"
#include "korv_unique.h"

extern "C" void KORLErrorLogClear(const char *path)
{
    if (!path)
        return;
    korv::UniqueFile fp(fopen(path, "w"));
    if (!fp)
        return;
    fflush(fp.get());
    fsync(fileno(fp.get()));
}

extern "C" int KORLErrorLogSet(const char *path, const char *line)
{
    if (!path || !line) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    korv::UniqueFile fp(fopen(path, "a+"));
    if (!fp) {
        KORV_ERR(KORL_ERR_OPEN);
        return -1;
    }
    // fputs: the line is text, never a format.
    if (fputs(line, fp.get()) == EOF || fputc('\n', fp.get()) == EOF) {
        KORV_ERR(KORL_ERR_WRITE);
        return -1;
    }
    // The line reaches the file only here: a full disk shows in the flush or the close.
    // fsync's EINVAL only says the file (a console, a pipe) cannot be synced.
    if (fflush(fp.get()) != 0 || (fsync(fileno(fp.get())) != 0 && errno != EINVAL) ||
        fp.close() != 0) {
        KORV_ERR(KORL_ERR_WRITE);
        return -1;
    }
    return 0;
}
