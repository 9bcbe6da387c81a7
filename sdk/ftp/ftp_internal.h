// What the chroot-list functions share: which lines carry a name.
#pragma once

#include <string.h>

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

}  // namespace korv::ftp
