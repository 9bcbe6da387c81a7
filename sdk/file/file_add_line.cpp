// Inserting a line before or after a matching line, first in the file, or appended at its end.
#include <stdio.h>
#include <unistd.h>

#include <string>

#include "file_internal.h"
#include "korv/file.h"
#include "korv_internal.h"

extern "C" int KORLFileAddLine(const char *path, const char *pattern, const char *line, int flags)
{
    // One call writes one line.
    if (!path || !line || flags < 0 || korv::BreaksLine(line)) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    const bool after = (flags & OP_FIND_PREFIX) != 0;
    // Appended in place: the line and its newline in one write at the end.
    const bool append = !pattern && after;
    korv::file::TargetRewrite file;
    bool missing = false;
    if (file.Open(path, append ? "a+" : "r+", &missing) < 0)
        return missing ? korv::file::CreateWithLine(file.path(), line) : -1;

    if (append) {
        std::string text(line);
        text += '\n';
        if (korv::file::AppendWhole(fileno(file.in()), text, false) < 0)
            return -1;
        if (file.input().close() != 0) {
            KORV_ERR(KORL_ERR_WRITE);
            return -1;
        }
        return 1;
    }

    // The number (from 1) of the line that the new line goes before.
    long position = 1;
    if (pattern) {
        long match = korv::file::FindLine(file.in(), pattern, flags);
        if (match <= 0)
            return match < 0 ? -1 : 0;  // nothing matches: the file stays as it is
        position = after ? match + 1 : match;
    }

    if (file.Begin() < 0)
        return -1;
    korv::FileRewrite &rw = file.rw();
    long number = 0;
    bool written = false;
    korv::LineReader lines(file.in());
    while (lines.Next()) {
        if (++number == position) {
            if (rw.PutLine(line) < 0)
                return -1;
            written = true;
        }
        if (rw.Put(lines.data(), lines.size()) < 0)
            return -1;
    }
    if (lines.Failed()) {
        KORV_ERR(KORL_ERR_READ);
        return -1;
    }
    // Past the last line: after it, on a line of its own.
    if (!written && (rw.EndLine() < 0 || rw.PutLine(line) < 0))
        return -1;
    if (rw.Commit() < 0)
        return -1;
    return 1;
}
