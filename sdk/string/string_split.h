// The copy-and-append loop of the splitting functions. Failures here are recorded under the
// calling function's source file and line, which it passes in.
#pragma once

#include <cstring>

#include "korv/error.h"
#include "korv/list.h"
#include "korv_malloc_ptr.h"

namespace korv::string {

// A copy of s to cut up; null with 0x0200 recorded at file:line.
inline MallocPtr<char> copyText(const char *s, const char *file, int line)
{
    MallocPtr<char> copy(strdup(s));
    if (!copy)
        KORLErrSetEx(KORL_ERR_NO_MEMORY, file, line);
    return copy;
}

// Appends every piece that next() cuts from a copy of s: the number appended, or -1. A failed
// append keeps its own code, and the pieces appended before it stay in the list.
inline int appendPieces(const char *s, const char *delim, PKORLSZLIST *plist, char *(*next)(char **, const char *),
                        const char *file, int line)
{
    MallocPtr<char> copy = copyText(s, file, line);
    if (!copy)
        return -1;
    int appended = 0;
    char *cursor = copy.get();
    while (char *piece = next(&cursor, delim)) {
        if (KORLSzListPush(plist, piece) < 0)
            return -1;
        ++appended;
    }
    return appended;
}

}  // namespace korv::string
