// Appending text in place, for the writers that add at a file's end without a copy.
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "file_internal.h"
#include "korv/error.h"

namespace korv::file {

namespace {

// Whether what fd holds ends a line: its last byte is a newline, or it is empty and may stay so.
// -1 when that byte cannot be read.
int EndsLine(int fd, bool breakEmpty)
{
    struct stat st;
    if (fstat(fd, &st) != 0)
        return -1;
    if (st.st_size == 0)
        return breakEmpty ? 0 : 1;
    char last;
    ssize_t got;
    while ((got = pread(fd, &last, 1, st.st_size - 1)) < 0 && errno == EINTR) {
    }
    if (got < 0)
        return -1;
    // Cut shorter meanwhile: a newline first costs at most a blank line.
    return got == 1 && last == '\n' ? 1 : 0;
}

}  // namespace

int AppendWhole(int fd, std::string_view text, bool breakEmpty, std::source_location loc)
{
    // The last byte may be stale by the time we write, but every appender ends its text with a
    // newline: what another one adds meanwhile costs at most a blank line, never a glued one.
    int ends = EndsLine(fd, breakEmpty);
    if (ends < 0) {
        ErrAt(KORL_ERR_READ, loc);
        return -1;
    }
    std::string whole(ends ? "" : "\n");
    whole += text;
    // One write on an O_APPEND descriptor lands whole after whatever others appended. A short
    // one is not written on: the rest could land behind another appender's text.
    ssize_t put;
    while ((put = write(fd, whole.data(), whole.size())) < 0 && errno == EINTR) {
    }
    if (put != static_cast<ssize_t>(whole.size()) || fsync(fd) != 0) {
        ErrAt(KORL_ERR_WRITE, loc);
        return -1;
    }
    return 0;
}

}  // namespace korv::file
