// Replacing a text file as a whole: a complete copy is written beside the target under a
// temporary name and renamed over it, so readers see the old file or the new one, never a mix.
//
//   korv::FileRewrite rw(path);
//   if (rw.Begin(fileno(target)) < 0) return -1;          // or BeginNew() for a missing target
//   ... rw.Put(bytes, n) / rw.PutLine(text) / rw.PutKeyLine(fmt, key, value) / rw.EndLine() ...
//   if (rw.Commit() < 0) return -1;                       // flush, fsync, owner, mode, close, rename
//
// Every failing step records its code (0x0D00, 0x0900, 0x2700, 0x0B00, 0x2800) with the calling
// writer's source file and the line of the call, as if the writer had failed there. Until Commit has
// renamed the copy the target is never touched; an unfinished copy is closed and unlinked when the
// FileRewrite goes out of scope. After a failed rename the complete copy stays beside the target.
// While the process keeps a staging record (korv_staging_record.h), each copy is noted in it.
#pragma once

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

#include <source_location>

#include "korv/error.h"
#include "korv_unique.h"

namespace korv {

class FileRewrite {
public:
    explicit FileRewrite(const char *path) : path_(path) {}
    FileRewrite(const FileRewrite &) = delete;
    FileRewrite &operator=(const FileRewrite &) = delete;
    ~FileRewrite() { Abandon(); }

    // Starts the copy of an open target: fstat (0x2700), a directory (0x0900), then the temporary
    // file (0x0D00 when its name does not fit, 0x0900 when it cannot be made). 0, or -1.
    int Begin(int targetFd, std::source_location loc = std::source_location::current());
    // Starts a copy for a target that does not exist yet; it will get these mode bits and, unless
    // they are (uid_t)-1 / (gid_t)-1, this owner. 0, or -1.
    int BeginNew(mode_t mode, uid_t uid = static_cast<uid_t>(-1), gid_t gid = static_cast<gid_t>(-1),
                 std::source_location loc = std::source_location::current());

    // Writes exactly n bytes; 0, or -1 (0x0B00).
    int Put(const char *data, size_t n, std::source_location loc = std::source_location::current());
    int Put(const char *text, std::source_location loc = std::source_location::current());
    // text followed by a newline; 0, or -1 (0x0B00).
    int PutLine(const char *text, std::source_location loc = std::source_location::current());
    // One key line through the caller's two-"%s" format; 0, or -1 (0x0B00).
    int PutKeyLine(const char *format, const char *key, const char *value,
                   std::source_location loc = std::source_location::current());
    // Writes a newline when the copy so far is not empty and does not end with one, so that what
    // follows never joins the last line. 0, or -1 (0x0B00).
    int EndLine(std::source_location loc = std::source_location::current());

    // The temporary file's stream while the copy is open. What is written to it directly is not
    // seen by EndLine.
    FILE *stream() const { return out_.get(); }
    const char *tempPath() const { return temp_; }

    // The steps of Commit, in their order.
    enum class CommitStep { kNone, kFlush, kSync, kOwner, kMode, kClose, kRename };
    // Flush, fsync, owner and mode, close, rename over the target. 0, or -1 with errno as the
    // failed step left it and, when failed is given, *failed naming that step (kNone when no copy
    // was begun).
    int Commit(CommitStep *failed, std::source_location loc = std::source_location::current());
    int Commit(std::source_location loc = std::source_location::current()) { return Commit(nullptr, loc); }
    // Closes and unlinks an unfinished copy (also done by the destructor).
    void Abandon();

private:
    int Open(mode_t mode, uid_t uid, gid_t gid, const std::source_location &loc);

    const char *path_;
    char temp_[4096] = {};   // "%s.XXXXXX" after the target
    UniqueFile out_;
    mode_t mode_ = 0;
    uid_t uid_ = static_cast<uid_t>(-1);
    gid_t gid_ = static_cast<gid_t>(-1);
    int last_ = -1;          // last byte written, -1 while nothing is written
    bool pending_ = false;   // a temporary file exists that is not renamed yet
    bool newFile_ = false;   // the target did not exist when the copy was begun
};

// Replaces dst by a copy of src's bytes through a FileRewrite, as "cp -f" would without a shell:
// an existing dst keeps its owner and mode, a new one gets src's permission bits under the umask.
// dst is found as every writer finds its file (a link of our own is followed, anything but a
// regular file refused); until the rename it is untouched. 0, or -1 (0x0900 when src is not a
// regular file that opens, or dst is refused; 0x0A00 when src cannot be read; else the
// rewrite's codes), recorded at loc.
int CopyFile(const char *src, const char *dst, std::source_location loc = std::source_location::current());

// Records code with the source file (base name) and line of loc.
void ErrAt(int code, const std::source_location &loc);

// Reads fd to its end, handing each chunk to put(data, n), which returns 0 or -1 to stop: 0, or -1
// (0x0A00 for a failed read, recorded at loc; or put's failure).
template <typename Put>
int ReadChunks(int fd, Put &&put, std::source_location loc = std::source_location::current())
{
    char buf[8192];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ErrAt(KORL_ERR_READ, loc);
            return -1;
        }
        if (n == 0)
            return 0;
        if (put(buf, static_cast<size_t>(n)) < 0)
            return -1;
    }
}

// Mode bits that a file created with 0666 gets under the current umask.
mode_t CreationMode();

// Reads a stream line by line with getline: lines of any length, newline included.
class LineReader {
public:
    explicit LineReader(FILE *fp) : fp_(fp) {}
    LineReader(const LineReader &) = delete;
    LineReader &operator=(const LineReader &) = delete;
    ~LineReader() { free(buf_); }

    // The next line, false at the end or on a read error (see Failed).
    bool Next()
    {
        len_ = getline(&buf_, &cap_, fp_);
        return len_ >= 0;
    }
    char *data() const { return buf_; }
    size_t size() const { return len_ > 0 ? static_cast<size_t>(len_) : 0; }
    bool HasNewline() const { return len_ > 0 && buf_[len_ - 1] == '\n'; }
    // Length without the line's own newline.
    size_t TextSize() const { return HasNewline() ? size() - 1 : size(); }
    // The line as a C text, cut in place at its newline (or at a NUL before it); *len its length.
    char *Text(size_t *len)
    {
        *len = strnlen(buf_, TextSize());
        buf_[*len] = '\0';
        return buf_;
    }
    bool Failed() const { return ferror(fp_) != 0; }

private:
    FILE *fp_;
    char *buf_ = nullptr;
    size_t cap_ = 0;
    ssize_t len_ = -1;
};

// True when format is a key line that ends its line: "%s", "=", "%s", then a newline, and no
// other conversion (a "%%" is allowed), as the hash-to-file writer asks of its formats. Anything
// less would glue the next line onto the value and lose its key.
bool KeyLineFormatOk(const char *format);

// True when key can be found again by the key readers as it is written: not empty, no "=", no
// comment mark first, no CR or LF, and unchanged by trimming (white space, enclosing quotes).
bool KeyLineKeyOk(const char *key);

// True when text holds CR or LF (or, with brackets, "[" or "]"): it cannot stand on one line.
bool BreaksLine(const char *text, bool brackets = false);

}  // namespace korv
