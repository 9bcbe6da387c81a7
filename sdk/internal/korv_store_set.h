// The rule by which a set of record stores (the user, group and share databases) is opened,
// checked against its text files and rebuilt from them. Each database describes its set once in
// a SetSpec and calls these; messages and codes are placed at the calling function.
//
//   Open:    every store opened; when one is missing or is no B-tree file, the whole set is built
//            anew from the text files (under the set's rebuild lock, the need checked again once
//            held) and put in place; 1 built, 0 opened, -1.
//   Check:   a store file missing or below 8192 bytes, or a text file whose mtime differs from its
//            store's sync time: rebuild and reopen (1); a store marked deprecated: reopen (1);
//            else 0; -1 on failure.
//   Rebuild: a fresh set under the staging names (cleared first of whatever stands there), built,
//            flushed and renamed over the live files; the replaced files are marked deprecated for
//            the processes that still have them open.
//
// The rebuild lock ("<prefix>.lock") must be a regular file of the effective user that no one
// else may write; anything else there is replaced, or the rebuild refused (0x0400). It is waited
// for at most as long as the callers wait for their named locks.
#pragma once

#include <stddef.h>
#include <sys/types.h>

#include <source_location>

#include "korv/bdb.h"

namespace korv::bdb {

struct StoreSpec {
    const char *suffix;         // after the prefix: ".name.0947"
    bool dup;                   // duplicate keys allowed
    size_t offset;              // of the store's KORVBDB * in the set record
    const char *source;         // paired text file whose mtime is the store's sync time, or null
    const char *stagingSuffix;  // after prefix + ".tmp" while building; null: the suffix
};

struct SetSpec {
    const char *prefix;        // the live set: "/tmp/.db.user"
    const StoreSpec *stores;   // in the order the set's functions visit them
    int count;
    const int *renameOrder;    // indexes of stores, the order new files replace the live ones
    size_t recordSize;         // of the set record of store pointers
    mode_t mode;               // of the store files
    int (*build)(void *set);   // fills a new set's open stores from the text files: 0, or -1
    const char *openName;      // "KORVUserDBOpenFile", for messages
    const char *rebuildName;   // "KORVUserDBRebuild"
};

// The store i of a set record.
inline KORVBDB *&Store(const SetSpec &spec, void *set, int i)
{
    return *reinterpret_cast<KORVBDB **>(static_cast<char *>(set) + spec.stores[i].offset);
}

// On success the set that *ppSet held (if any) is closed and *ppSet receives the new one.
int SetOpen(const SetSpec &spec, void **ppSet, const char *prefix,
            std::source_location loc = std::source_location::current());
int SetCheck(const SetSpec &spec, void **ppSet, std::source_location loc = std::source_location::current());
int SetRebuild(const SetSpec &spec, std::source_location loc = std::source_location::current());
// Whether the set may be written back over its text files: 1 when every text file still has the
// modification time its store recorded (or is missing); 0 when one changed since (a rebuild that
// failed left the set stale), with 0x0900 recorded at loc and logged; -1 when it cannot be told.
int SetSourcesCurrent(const SetSpec &spec, void *set, std::source_location loc = std::source_location::current());
// True while this thread fills a set whose stores were just made afresh (the build step of
// Open and Rebuild): they hold nothing but their own markers.
bool BuildingNewSet();
// Closes every open store and frees the record; null does nothing.
void SetClose(const SetSpec &spec, void *set);

}  // namespace korv::bdb
