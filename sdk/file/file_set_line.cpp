// Replacing or deleting the first (or last) line that matches a pattern.
#include <errno.h>
#include <stdio.h>

#include "file_internal.h"
#include "korv/file.h"
#include "korv_internal.h"
#include "korv_rewrite.h"

extern "C" int KORLFileSetLine(const char *path, const char *pattern, const char *newLine, int flags)
{
    if (!path || !pattern || flags < 0) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    korv::FileRewrite rw(path);
    korv::UniqueFile target(korv::file::OpenForRead(path));
    if (!target) {
        // Only a file that is not there is made; one that cannot be read is left alone.
        if (errno != ENOENT) {
            KORV_ERR(KORL_ERR_OPEN);
            return -1;
        }
        if (rw.BeginNew(korv::CreationMode()) < 0)
            return -1;
        if (newLine && (rw.Put(newLine) < 0 || rw.Put("\n", 1) < 0))
            return -1;
        return rw.Commit() < 0 ? -1 : 1;
    }
    long number = 0, match = 0;
    {
        korv::LineReader lines(target.get());
        while (lines.Next()) {
            ++number;
            if (KORLFileLineMatch(lines.data(), pattern, flags) != 1)
                continue;
            match = number;
            if (!(flags & OP_FIND_LAST))
                break;
        }
        if (lines.Failed()) {
            KORV_ERR(KORL_ERR_READ);
            return -1;
        }
    }
    if (match == 0) {
        KORV_ERR(KORL_ERR_NOT_FOUND);
        return 0;
    }

    if (rw.Begin(fileno(target.get())) < 0)
        return -1;
    rewind(target.get());
    number = 0;
    korv::LineReader lines(target.get());
    while (lines.Next()) {
        if (++number != match) {
            if (rw.Put(lines.data(), lines.size()) < 0)
                return -1;
        } else if (newLine && (rw.Put(newLine) < 0 || rw.Put("\n", 1) < 0)) {
            return -1;
        }
    }
    if (lines.Failed()) {
        KORV_ERR(KORL_ERR_READ);
        return -1;
    }
    return rw.Commit() < 0 ? -1 : 1;
}
