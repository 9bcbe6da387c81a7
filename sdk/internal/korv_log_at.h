// "%s:%d " messages placed at a caller's source file and line, for mechanisms that several
// modules call and whose messages belong to the calling function.
#pragma once

#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <syslog.h>

#include <source_location>

namespace korv {

inline const char *BaseName(const std::source_location &loc)
{
    const char *file = loc.file_name();
    const char *slash = strrchr(file, '/');
    return slash ? slash + 1 : file;
}

__attribute__((format(printf, 3, 4))) inline void LogAt(int priority, const std::source_location &loc,
                                                       const char *fmt, ...)
{
    char text[1024];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    syslog(priority, "%s:%d %s", BaseName(loc), static_cast<int>(loc.line()), text);
}

}  // namespace korv
