// Helpers shared by the backup-set and rsync-account functions of this folder.
#pragma once

#include <stddef.h>

#include <source_location>

#include "korv/backup.h"
#include "korv/hash.h"

namespace korv::backup {

// Longest set name a reader keeps (the name buffer holds 195 bytes).
constexpr int kSectionNameSize = 195;
// Pool of the key hashes of one set.
constexpr int kKeyHashSize = 1024;
// Line format of the keys inside a set's section.
inline constexpr const char kSetKeyFormat[] = "\t%s=\"%s\"\n";

// One text field of a record: its key and where the record holds it.
struct TextField {
    const char *key;
    size_t offset;  // of the char * member
};
// One number field: its key, where the record holds it, and its value when the key is absent.
struct IntField {
    const char *key;
    size_t offset;  // of the int member
    int absent;
};

inline char *&TextAt(void *record, size_t offset)
{
    return *reinterpret_cast<char **>(static_cast<char *>(record) + offset);
}
inline int &IntAt(void *record, size_t offset)
{
    return *reinterpret_cast<int *>(static_cast<char *>(record) + offset);
}

// Fills the texts of a zeroed record from keys (a copy of each value, "" when absent) and the
// section name: 0, or -1 (0x0200). What was copied stays for the record's free.
int CopyTexts(void *record, char *&section, const char *name, PKORLSZHASH keys, const TextField *fields,
              size_t count, std::source_location loc = std::source_location::current());
// Frees the texts of a record and the record.
void FreeTexts(void *record, char *&section, const TextField *fields, size_t count);

// Writes one set into file: with the keys of the section oldName (when given) in *phash, fill
// puts the record's values in; then the set is added, or the section rewritten under newName.
// Messages and codes carry loc (the caller's source file). 0, or -1.
using FillKeys = int (*)(const void *record, PKORLSZHASH *phash);
int WriteSet(const char *file, const char *oldName, const char *newName, const void *record, FillKeys fill,
             std::source_location loc = std::source_location::current());

// Sets key to the text value; a null value leaves the key as it is. 0, or -1.
int PutText(PKORLSZHASH *phash, const char *key, const char *value);
// Sets key to "%d" of value. 0, or -1.
int PutInt(PKORLSZHASH *phash, const char *key, int value);

// "admin" (exact) as the rsync server names it: "root".
inline const char *RsyncAccount(const char *name);

// True when name fits the 16-byte key of a secrets line with its ":".
bool RsyncNameFits(const char *name);

}  // namespace korv::backup

#include <string.h>

inline const char *korv::backup::RsyncAccount(const char *name)
{
    return name && strcmp(name, "admin") == 0 ? "root" : name;
}
