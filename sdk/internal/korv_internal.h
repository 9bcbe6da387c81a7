// Helpers shared by the library's own source files; not part of the public API.
#pragma once

#include <syslog.h>

#include "korv/error.h"

// Records a failure with this source file's base name and line.
#define KORV_ERR(code) KORLErrSetEx((code), __FILE_NAME__, __LINE__)

// "%s:%d " messages of the library, at LOG_ERR.
#define KORV_LOG(fmt, ...) syslog(LOG_ERR, "%s:%d " fmt, __FILE_NAME__, __LINE__ __VA_OPT__(, ) __VA_ARGS__)
// The same at LOG_DEBUG, for the modules that report there (RAID).
#define KORV_LOG_DEBUG(fmt, ...) \
    syslog(LOG_DEBUG, "%s:%d " fmt, __FILE_NAME__, __LINE__ __VA_OPT__(, ) __VA_ARGS__)
// The modules whose messages begin "%s (%d) ", at LOG_ERR.
#define KORV_LOG_PAREN(fmt, ...) \
    syslog(LOG_ERR, "%s (%d) " fmt, __FILE_NAME__, __LINE__ __VA_OPT__(, ) __VA_ARGS__)
