// Steps shared by the record-store functions of this folder.
#pragma once

#include <db_185.h>

#include "korv/bdb.h"

namespace korv::bdb {

inline DB *Db(const KORVBDB *h)
{
    return static_cast<DB *>(h->pDb);
}

// Fills a Berkeley DB descriptor: 0, or -1 (0x0D00 for a null descriptor).
int BDbDbtSet(DBT *dbt, const void *data, int len);
// Copies a descriptor's bytes into a caller buffer grown with KORVCheckAndRealloc and stores the
// byte count: 0, or -1 (logged). An empty stored item is not one this library writes: 0xB200.
int BDbDbtCopyOut(const DBT *dbt, void **pp, int *pcb);

// The code of a failed Berkeley DB call by errno: EIO 0x6C00, EINTR 0xAA00, ENOSPC 0x2900 where
// the call can run out of room, else fallback.
int DbErrCode(int err, int fallback, bool noSpace);

// True when the key's first byte marks it as a marker.
inline bool IsMarker(const DBT &key)
{
    return key.size > 0 && static_cast<const char *>(key.data)[0] == '#';
}

}  // namespace korv::bdb

namespace korv::bdb {

// A marker read into a new int of the caller's (*ppValue null on entry); argument and memory
// failures are recorded at file and line.
int MarkerGetCopy(KORVBDB *h, const char *key, int keyLen, void **ppValue, const char *file, int line);

}  // namespace korv::bdb
