// Helpers shared by the configuration-file functions of this folder.
#pragma once

#include <stdio.h>

#include <source_location>
#include <string>
#include <string_view>

#include "korv/hash.h"
#include "korv/list.h"
#include "korv_malloc_ptr.h"
#include "korv_rewrite.h"
#include "korv_sz_holders.h"
#include "korv_target.h"
#include "korv_unique.h"

namespace korv::file {

// Opens path with mode; anything but a regular file (a directory, a FIFO, a device node) counts
// as unopenable and is never waited on. On failure 0x0900 is recorded at the caller, except when
// missing is given and there is no file at all: then *missing is set and nothing is recorded.
FILE *OpenTarget(const char *path, const char *mode = "r", bool *missing = nullptr,
                 std::source_location loc = std::source_location::current());

// Writes a missing target through a copy: line and a newline, or nothing for a null line; the mode
// is what the umask leaves of 0666. 1, or -1.
int CreateWithLine(const char *path, const char *line, std::source_location loc = std::source_location::current());

// Ends a rewrite that may have changed nothing: with no change the copy is dropped and 0x2000
// recorded at the caller (0); otherwise the copy replaces the target (changes, or -1).
int CommitChanges(FileRewrite &rw, int changes, std::source_location loc = std::source_location::current());

// The number (from 1) of the line of fp that KORLFileLineMatch accepts with flags: the first, or
// the last with OP_FIND_LAST. 0 when none (0x2000 at the caller); -1 on a read error (0x0A00 at
// the caller). fp is rewound to its start.
long FindLine(FILE *fp, const char *pattern, int flags, std::source_location loc = std::source_location::current());

// A key line as every reader and writer of key lines takes it. A comment line (first byte "#" or
// ";") has no key; otherwise the key text is the first non-empty run of bytes before a delimiter
// (leading delimiters are skipped; with no further delimiter it is the rest of the line), and the
// key is that text trimmed (white space, then one pair of enclosing quotes).
struct KeyLine {
    char *text = nullptr;  // the key text as the line spells it, cut off in place at its delimiter
    char *rest = nullptr;  // what follows that delimiter; null when none does (a key without value)

    // Cuts line (in place): false when it has no key.
    bool Cut(char *line, const char *delim = "=");
    // The key: the text trimmed into out, which may be text itself (in place) or a buffer of at
    // least strlen(text) + 1 bytes. Its length, or -1.
    int Key(char *out) const;
};

// KORLFileLineKeyMatch with where the key text lies: on a match (1), *keyText is the run before
// the "=" that ends the key (untrimmed; the whole rest of the line when there is no "=") and *rest
// is the text after that "=", or null when the line has none. line is cut in place.
int LineKeyMatchAt(char *line, const char *key, char **keyText, char **rest);

// LineKeyMatchAt on a copy of line kept in copy, so that the line itself stays whole for writing:
// 1, 0, or -1 (0x0200 at the caller). keyText and rest may be null.
int CopyKeyMatch(const char *line, const char *key, MallocPtr<char> &copy, char **keyText = nullptr,
                 char **rest = nullptr, std::source_location loc = std::source_location::current());

// Appends text (whole lines) to the file open on fd with O_APPEND in one write, after a newline
// when the file does not end with one (with breakEmpty, also when it is empty), then fsync: the
// file holds whole lines whatever other appenders do beside it. 0, or -1 (0x0A00 when the last
// byte cannot be read, 0x0B00 for the write or fsync, at the caller); a failed write may leave a
// partial line, which the next appender ends before its own.
int AppendWhole(int fd, std::string_view text, bool breakEmpty,
                std::source_location loc = std::source_location::current());

// Whether the len bytes of line are the header of section name.
bool IsSectionHeaderOf(const char *line, int len, const char *name);

// Whether every key and value of the hash (null: none) stands on one line.
bool HashOnOneLine(PKORLSZHASH hash);

using korv::ListHolder;

}  // namespace korv::file
