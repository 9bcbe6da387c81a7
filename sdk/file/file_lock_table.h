// The process-wide table of named lock files, shared by the lock, unlock and close functions.
#pragma once

#include <stdio.h>

struct KORLLOCKFILE {
    FILE *fp;          // open while this process holds the lock, else null
    const char *path;
    unsigned int bit;  // 0 ends the table
    int refCount;      // holds of this process
    int heldOp;        // flock operation the lock was taken with
};

// In the order locks are taken, ended by an entry whose bit is 0.
extern KORLLOCKFILE gKORLLockFiles[];

#define KORL_LOCK_DIR_NAME "/tmp/lock"
#define KORL_LOCK_DIR KORL_LOCK_DIR_NAME "/"

// Closes a held entry's stream and forgets the hold; fclose's result (0 or EOF).
inline int korl_lock_entry_close(KORLLOCKFILE *entry)
{
    const int result = fclose(entry->fp);
    entry->fp = nullptr;
    entry->refCount = 0;
    entry->heldOp = 0;
    return result;
}
