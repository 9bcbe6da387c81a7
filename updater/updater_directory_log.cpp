// The flash directory as both roads log it once read.
#include <syslog.h>

#include "updater.h"

void UPDTLogFlashDirectory(const KORVMTDFISENTRY *entries, int count)
{
    syslog(LOG_ERR, "number of partitions = [%d]", count);
    // A name fills at most its 16 bytes, with or without a NUL.
    for (int i = 0; i < count; ++i)
        syslog(LOG_ERR, "[%.16s]  0x%08lX  0x%08lX  0x%08lX\n", entries[i].name,
               static_cast<unsigned long>(entries[i].flash_base), static_cast<unsigned long>(entries[i].size),
               static_cast<unsigned long>(entries[i].data_length));
}
