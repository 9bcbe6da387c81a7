// What the user and group stores share: a name store of account lines with an id store beside
// it, whose keys are the ids and whose "#CURRENT_UID" / "#CURRENT_GID" marker is the next id.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <functional>
#include <source_location>
#include <string>
#include <vector>

#include "korv/bdb.h"

namespace korv::bdb {

// The "%06d" key of a uid or gid (7 bytes with its NUL for ids below a million).
std::string IdKey(int id);

// Whether names holds the account keyLen bytes of key (its NUL added) name: 1, or 0 (notFound
// recorded at loc for a missing one). With a buffer, the stored name (the line up to its first
// ":") is copied into it: a line without ":" gives "" and 0x4000; a name that does not fit gives
// 0 with nothing half-copied left behind.
int AccountExists(KORVBDB *names, const char *key, int keyLen, char *storedName, int cbStoredName, int notFound,
                  std::source_location loc = std::source_location::current());

// The id of an account line (the number after its second ":"), -1 without one.
int IdField(const char *line);

// Stores an account line under key in names and key under the id in ids. A name met again
// replaces its earlier line and the id record of that earlier line goes: each account is listed
// once. 0, or -1.
int StoreAccount(KORVBDB *names, KORVBDB *ids, const std::string &key, const char *line, size_t len, int id);

// The accounts one build stores into its name and id stores. A build of a new set (its stores
// made afresh, BuildingNewSet) knows a name is new to them unless it met it before, so only a
// name that may have been met before takes StoreAccount's way; the stores end the same either
// way. Any other build takes StoreAccount's way for every name.
//
// The names met are kept as 32-bit hashes in an open-addressed table: a name whose hash is new
// is certainly new; one whose hash was met (the name again, or rarely another with the same
// hash) takes StoreAccount's way, which finds out for itself.
class AccountLoad {
public:
    AccountLoad(KORVBDB *names, KORVBDB *ids);
    // As StoreAccount: 0, or -1.
    int Store(const std::string &key, const char *line, size_t len, int id);

private:
    // Enters the key's hash: true when it was not there yet.
    bool FirstMeeting(const std::string &key);

    KORVBDB *names_, *ids_;
    bool fresh_;
    std::vector<uint32_t> slots_;  // 0 empty; a power of two long, at most half full
    size_t used_ = 0;
};

// An account text file opened for reading ("re") for one pass from its start: read in large
// blocks and without stdio's locking around each line (the stream is its reader's alone): one
// read per 32 KiB instead of one per 4 KiB.
class AccountFile {
public:
    explicit AccountFile(const char *path);
    ~AccountFile();
    AccountFile(const AccountFile &) = delete;
    AccountFile &operator=(const AccountFile &) = delete;
    FILE *get() const { return fp_; }
    explicit operator bool() const { return fp_ != nullptr; }

private:
    FILE *fp_;
    char *buf_ = nullptr;
};

// Hands each line of an account text file that is no comment ("#" first) to visit, as a C text
// cut in place at its newline; visit returns 0, or -1 to stop. 0, or -1 (visit's failure, or
// 0x0A00 when the file cannot be read to its end: "<readFailure> errno=..." logged at loc).
int ForEachAccountLine(FILE *fp, const char *readFailure, const std::function<int(char *line, size_t len)> &visit,
                       std::source_location loc = std::source_location::current());

// An account text file whose every line is stored whole under the upper-cased text before its
// first delimiter ("/etc/shadow", "/etc/group_desc", ...), with what differs between the files.
struct KeyedLines {
    const char *path;
    const char *delimiters;
    const char *what;           // logged "%s format error, <what> = %s" for a line without a key
    size_t keySize;             // the fixed buffer a key is formed in; 0 for none
    bool emptyKeyIsFormatError; // a line whose key text is empty: the format error, else skipped
    const char *upperFailed;    // logged "<upperFailed> [%s]" or "<upperFailed>, str=%s." (below)
    bool upperFailedWithStr;
    bool logStoreFailure;       // a failed store logged "KORVBDbSet() failed! korverr=0x%04X"
};

// Loads every line of the file that is no comment into store (a later line of a key replaces an
// earlier one): lines without a delimiter are logged and skipped, and so are keys that cannot be
// upper-cased. 0, or -1 (0x0900 the file cannot be opened; a store or read failure) at loc.
int KeyedLineBuild(KORVBDB *store, const KeyedLines &file, std::source_location loc = std::source_location::current());

// The number of the id store's last key, marker keys skipped: 0, or -1.
int LastId(KORVBDB *ids, int *id);

// Sets the marker of ids from the "#$indexName$n$" index line of fp (read on from where it
// stands); without one, or with an n outside first..last, from the highest id stored. 0, or -1
// (0xB200 reading the ids, 0xB300 setting the marker) recorded at loc.
int NextIdBuild(KORVBDB *ids, FILE *fp, const char *indexName, long first, long last, const char *marker,
                std::source_location loc = std::source_location::current());

// The first id from the marker's next one (or the highest stored + 1) that ids does not hold,
// going round first..last: the id, or -1 (0xB200 the marker unreadable, noFree all taken)
// recorded at loc.
int FreeId(KORVBDB *ids, const char *marker, int first, int last, int noFree,
           std::source_location loc = std::source_location::current());

}  // namespace korv::bdb

namespace korv::bdb {

// The domain's accounts as samba lists them, one "name:..." line each.
struct DomainAccounts {
    const char *file;     // KORV_DOMAIN_USER_FILE, KORV_DOMAIN_GROUP_FILE
    const char *fields;   // stored after the name: ":x:-1:-1:::"
    size_t keySize;       // the fixed buffer a name's key is formed in; 0 for none
    bool skipUnkeyed;     // a name with no key (empty, too long) is left out instead of failing
    const char *nothing;  // logged when there is none: "domain user build nothing"
};

// Loads the domain accounts into the name store when samba runs in domain mode, and stamps the
// store's domain expiry time. 0, or -1; codes and messages placed at loc.
int DomainBuild(KORVBDB *names, const DomainAccounts &accounts,
                std::source_location loc = std::source_location::current());

}  // namespace korv::bdb
