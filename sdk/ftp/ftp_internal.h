// What the chroot-list functions share: which lines carry a name, and the walk over them.
#pragma once

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <string_view>

#include "korv/ftp.h"
#include "korv_rewrite.h"
#include "korv_unique.h"

namespace korv::ftp {

// The name of a line of the chroot list, cut in place at its newline; null for a comment or an
// empty line.
inline char *ChrootName(char *line)
{
    if (line[0] == '#' || line[0] == '\n' || line[0] == '\0')
        return nullptr;
    line[strcspn(line, "\n")] = '\0';
    return line;
}

// How a walk reports a list it cannot use, each in the words of its caller: an open that failed
// for another reason than a missing list, and a read that failed before the end (errno is still
// that of the failed call).
struct ChrootWalkFailures {
    void (*openFailed)();
    void (*readFailed)();
};

// Opens the chroot list and hands each of its names, in file order, to take(name, line), line being
// the bytes of its line as read, NUL bytes included, without the newline; start gets the open
// list's descriptor before the first line (a rewrite begins there). A false from start or take
// ends the walk (they report their own failures).
// 0 after the last name, 1 when the list does not exist (nothing called), or -1.
template <typename Start, typename Take>
int WalkChrootNames(const ChrootWalkFailures &fail, Start &&start, Take &&take)
{
    korv::UniqueFile fp(fopen(KORV_FTP_CHROOT_CONF, "r"));
    if (!fp) {
        if (errno == ENOENT)
            return 1;
        fail.openFailed();
        return -1;
    }
    if (!start(fileno(fp.get())))
        return -1;
    korv::LineReader line(fp.get());
    while (line.Next()) {
        size_t len = 0;
        const std::string_view raw(line.data(), line.TextSize());
        char *name = ChrootName(line.Text(&len));
        if (name && !take(name, raw))
            return -1;
    }
    if (line.Failed()) {
        fail.readFailed();
        return -1;
    }
    return 0;
}

template <typename Take>
int WalkChrootNames(const ChrootWalkFailures &fail, Take &&take)
{
    return WalkChrootNames(fail, [](int) { return true; }, take);
}

// Copies a kept line of the list into a rewrite byte for byte, with its newline.
inline bool PutKeptLine(FileRewrite &rw, std::string_view line)
{
    return rw.Put(line.data(), line.size()) == 0 && rw.Put("\n", 1) == 0;
}

}  // namespace korv::ftp
