#include "file_lock_table.h"
#include "korv/file_lock.h"
#include "korv_internal.h"

extern "C" int ErrKORLFileUnlock(unsigned int bits)
{
    int result = 0;
    for (KORLLOCKFILE *entry = gKORLLockFiles; entry->bit != 0; ++entry) {
        if (!(entry->bit & bits) || !entry->fp)
            continue;
        if (entry->refCount > 1) {
            --entry->refCount;
            continue;
        }
        if (flock(fileno(entry->fp), LOCK_UN) != 0) {
            KORV_ERR(KORL_ERR_UNLOCK);
            result = -1;
        }
        // Closed even when the unlock failed: the kernel drops the lock with the last descriptor.
        if (korl_lock_entry_close(entry) != 0)
            result = -1;
    }
    return result;
}
