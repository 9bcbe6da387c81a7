// Finding the line that a line writer works at, before any copy is made.
#include <stdio.h>

#include "file_internal.h"
#include "korv/error.h"
#include "korv/file.h"

namespace korv::file {

long FindLine(FILE *fp, const char *pattern, int flags, std::source_location loc)
{
    long number = 0, match = 0;
    {
        LineReader lines(fp);
        while (lines.Next()) {
            ++number;
            if (KORLFileLineMatch(lines.data(), pattern, flags) != 1)
                continue;
            match = number;
            if (!(flags & OP_FIND_LAST))
                break;
        }
        if (lines.Failed()) {
            ErrAt(KORL_ERR_READ, loc);
            return -1;
        }
    }
    if (match == 0)
        ErrAt(KORL_ERR_NOT_FOUND, loc);
    rewind(fp);
    return match;
}

}  // namespace korv::file
