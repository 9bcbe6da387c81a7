// Replacing or deleting the first (or last) line that matches a pattern.
#include <stdio.h>

#include "file_internal.h"
#include "korv/file.h"
#include "korv_internal.h"

extern "C" int KORLFileSetLine(const char *path, const char *pattern, const char *newLine, int flags)
{
    // One call writes one line.
    if (!path || !pattern || flags < 0 || korv::BreaksLine(newLine)) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    korv::file::TargetRewrite file;
    bool missing = false;
    if (file.Open(path, "r", &missing) < 0)
        return missing ? korv::file::CreateWithLine(file.path(), newLine) : -1;
    long match = korv::file::FindLine(file.in(), pattern, flags);
    if (match <= 0)
        return match < 0 ? -1 : 0;  // nothing matches: the file stays as it is

    if (file.Begin() < 0)
        return -1;
    korv::FileRewrite &rw = file.rw();
    long number = 0;
    korv::LineReader lines(file.in());
    while (lines.Next()) {
        if (++number != match) {
            if (rw.Put(lines.data(), lines.size()) < 0)
                return -1;
        } else if (newLine && rw.PutLine(newLine) < 0) {
            return -1;
        }
    }
    if (lines.Failed()) {
        KORV_ERR(KORL_ERR_READ);
        return -1;
    }
    return rw.Commit() < 0 ? -1 : 1;
}
