// Helpers shared by the configuration-file functions of this folder.
#pragma once

#include <stdio.h>

#include "korv/hash.h"
#include "korv/list.h"
#include "korv_unique.h"

namespace korv::file {

// Opens path for reading; null when it cannot be opened or names a directory (errno EISDIR).
FILE *OpenForRead(const char *path, const char *mode = "r");

// KORLFileLineKeyMatch with where the key text lies: on a match (1), *keyText is the run before
// the "=" that ends the key (untrimmed; the whole rest of the line when there is no "=") and *rest
// is the text after that "=", or null when the line has none. line is cut in place.
int LineKeyMatchAt(char *line, const char *key, char **keyText, char **rest);

// Whether the len bytes of line are the header of section name.
bool IsSectionHeaderOf(const char *line, int len, const char *name);

// Whether every key and value of the hash (null: none) stands on one line.
bool HashOnOneLine(PKORLSZHASH hash);

// A work list freed on scope exit; addr() is for the calls that may move it.
class ListHolder {
public:
    explicit ListHolder(PKORLSZLIST list) : list_(list) {}
    ListHolder(const ListHolder &) = delete;
    ListHolder &operator=(const ListHolder &) = delete;
    ~ListHolder() { KORLSzListFree(list_); }

    PKORLSZLIST get() const { return list_; }
    PKORLSZLIST *addr() { return &list_; }
    PKORLSZLIST operator->() const { return list_; }
    explicit operator bool() const { return list_ != nullptr; }

private:
    PKORLSZLIST list_;
};

}  // namespace korv::file
