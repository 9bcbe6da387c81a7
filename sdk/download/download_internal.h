// What the download-service functions share: their message prefix.
#pragma once

#include <syslog.h>

// Messages begin with the source file's name as the device's C file carries it.
#define DQ_LOG(fmt, ...) syslog(LOG_ERR, "%s (%d) " fmt, "downquarn_info_set.c", __LINE__ __VA_OPT__(, ) __VA_ARGS__)
