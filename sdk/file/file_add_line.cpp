// Inserting a line before or after a matching line, first in the file, or appended at its end.
#include <stdio.h>
#include <unistd.h>

#include "file_internal.h"
#include "korv/file.h"
#include "korv_internal.h"

namespace {

// Appends line in place, after a newline when the file's last byte is not one. 0, or -1.
int AppendInPlace(korv::UniqueFile &target, const char *line)
{
    FILE *fp = target.get();
    bool needBreak = false;
    if (fseek(fp, -1, SEEK_END) == 0) {
        int c = fgetc(fp);
        if (c == EOF && ferror(fp)) {
            KORV_ERR(KORL_ERR_READ);
            return -1;
        }
        needBreak = c != EOF && c != '\n';
    }
    if (fseek(fp, 0, SEEK_END) != 0 || (needBreak && fputc('\n', fp) == EOF) || fprintf(fp, "%s\n", line) < 0) {
        KORV_ERR(KORL_ERR_WRITE);
        return -1;
    }
    if (fflush(fp) != 0 || fsync(fileno(fp)) != 0 || target.close() != 0) {
        KORV_ERR(KORL_ERR_WRITE);
        return -1;
    }
    return 0;
}

}  // namespace

extern "C" int KORLFileAddLine(const char *path, const char *pattern, const char *line, int flags)
{
    // One call writes one line.
    if (!path || !line || flags < 0 || korv::BreaksLine(line)) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    korv::file::TargetRewrite file;
    bool missing = false;
    if (file.Open(path, "r+", &missing) < 0)
        return missing ? korv::file::CreateWithLine(file.path(), line) : -1;

    const bool after = (flags & OP_FIND_PREFIX) != 0;
    if (!pattern && after)
        return AppendInPlace(file.input(), line) < 0 ? -1 : 1;

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
