// Replacing every occurrence of a substring throughout a file.
#include <string.h>

#include "file_internal.h"
#include "korv/file.h"
#include "korv_internal.h"

extern "C" int KORLFileReplaceSubStr(const char *path, const char *find, const char *repl)
{
    // One replacement never makes two lines of one.
    if (!path || !find || !repl || !*find || korv::BreaksLine(repl)) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    korv::file::TargetRewrite file;
    if (file.Begin(path) < 0)
        return -1;
    korv::FileRewrite &rw = file.rw();

    const size_t findLen = strlen(find), replLen = strlen(repl);
    int count = 0;
    korv::LineReader lines(file.in());
    while (lines.Next()) {
        const char *p = lines.data();
        const char *end = p + lines.size();
        // Left to right, never searching a replacement again.
        while (const void *hit = memmem(p, static_cast<size_t>(end - p), find, findLen)) {
            const char *at = static_cast<const char *>(hit);
            if (rw.Put(p, static_cast<size_t>(at - p)) < 0 || rw.Put(repl, replLen) < 0)
                return -1;
            ++count;
            p = at + findLen;
        }
        if (rw.Put(p, static_cast<size_t>(end - p)) < 0)
            return -1;
    }
    if (lines.Failed()) {
        KORV_ERR(KORL_ERR_READ);
        return -1;
    }
    return korv::file::CommitChanges(rw, count);
}
