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

#define KORL_LOCK_DIR "/tmp/lock/"
