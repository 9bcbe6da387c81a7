// Record-store steps that the account and share stores need beyond the public calls.
#pragma once

#include <stdint.h>
#include <sys/types.h>

#include <string>

#include "korv/bdb.h"

namespace korv::bdb {

// KORVBDbOpen with the mode a created file gets and that root sets on the descriptor (the public
// call uses 0666; stores holding password hashes use 0600).
KORVBDB *OpenStore(const char *path, int openFlags, int allowDup, mode_t mode);

// A read without a copy: 0 with *data and *len naming the first record of the key (valid until
// the next call on the handle), 1 when the key is absent (nothing recorded), -1 on a failure
// (recorded as KORVBDbGet records it). For hot paths where absence is the normal answer.
int Lookup(KORVBDB *h, const void *key, int keyLen, const void **data, int *len);

// Stores a record only when its key has none yet (a store without duplicates): 0 stored, 1 when
// the key already has a record (nothing changed, nothing recorded), -1 on a failure (recorded as
// KORVBDbSet records it). Lets a builder learn of a repeated key within the put itself.
int PutNew(KORVBDB *h, const void *key, int keyLen, const void *data, int dataLen);

// Removes the records of key whose value is exactly the len bytes of value, leaving the key's
// other records (a store with duplicates). Moves the store's cursor. The number removed, or -1.
int DeleteValue(KORVBDB *h, const void *key, int keyLen, const void *value, int len);

// Writes the store's cached pages to its file: 0, or -1 (0x6C00, 0x2900, 0xB300).
int Sync(KORVBDB *h);

// A marker holding one 32-bit little-endian word: 0, or -1 as KORVBDbGet / KORVBDbSet, and
// 0x4000 for a value that is not 4 bytes.
int MarkerGet(KORVBDB *h, const char *key, int keyLen, int32_t *value);
int MarkerSet(KORVBDB *h, const char *key, int keyLen, int32_t value);

// The key and value buffers of a cursor walk (KORVBDbCursorGet), freed when the walk ends.
struct CursorBuffers {
    void *key = nullptr, *value = nullptr;
    int cbKey = 0, cbValue = 0;
    CursorBuffers() = default;
    CursorBuffers(const CursorBuffers &) = delete;
    CursorBuffers &operator=(const CursorBuffers &) = delete;
    ~CursorBuffers()
    {
        KORVBDbFree(key);
        KORVBDbFree(value);
    }
};

// Text lines under text keys; key is given without its NUL, which is stored with it.
// A stored line read without a library copy: 0 with *text the record's NUL-terminated line (*len
// its length when len is not null), valid until the next call on that store; 1 when the key is
// absent (nothing recorded); -1 on a failure, or 0x4000 for a value that is no text line.
int LookupLine(KORVBDB *store, const std::string &key, const char **text, size_t *len = nullptr);
// The same into text (its NUL dropped).
int ReadLine(KORVBDB *store, const std::string &key, std::string &text);
// Stores text with its NUL under key: 0, or -1.
int StoreLine(KORVBDB *store, const std::string &key, const std::string &text);
int StoreLine(KORVBDB *store, const std::string &key, const char *text, size_t len);
// Removes the key's records; an absent key is no failure. 0, or -1.
int RemoveKey(KORVBDB *store, const std::string &key);

}  // namespace korv::bdb
