// The first line that a command prints, for the readers of a program's one-line answer.
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "korv_command.h"
#include "korv_unique.h"

namespace korv::proc {

int FirstLine(const char *command, char *line, size_t size)
{
    if (!command || !line || size == 0 || size > static_cast<size_t>(INT32_MAX)) {
        errno = EINVAL;
        return -1;
    }
    memset(line, 0, size);
    UniquePipe pipe(popen(command, "re"));
    if (!pipe)
        return -1;
    // The rest of the output is left unread; closing the pipe waits for the command.
    return fgets(line, static_cast<int>(size), pipe.get()) ? 1 : 0;
}

}  // namespace korv::proc
