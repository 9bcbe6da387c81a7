#include "file_lock_table.h"
#include "korv/file_lock.h"

// Closing the child's copies leaves the parent's locks in force: they belong to the open
// files the parent still holds.
extern "C" int KORLFileLockCloseAll(void)
{
    int result = 0;
    for (KORLLOCKFILE *entry = gKORLLockFiles; entry->bit != 0; ++entry) {
        if (!entry->fp)
            continue;
        if (korl_lock_entry_close(entry) != 0)
            result = -1;
    }
    return result;
}
