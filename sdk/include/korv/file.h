/* Text configuration files: key lines, pattern lines and sections; readers and writers. */
#ifndef KORV_FILE_H
#define KORV_FILE_H

#include "korv/file_lock.h"
#include "korv/hash.h"
#include "korv/list.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Match flags of the line functions; a negative flags value is a bad parameter. */
#define OP_FIND_LAST     0x1   /* the last matching line decides, not the first */
#define OP_MATCH_PREFIX  0x2   /* the pattern stands at the start of the line */
#define OP_MATCH_SUFFIX  0x4   /* the pattern stands at the end of the line's text */
#define OP_FIND_PREFIX   0x200 /* KORLFileAddLine: after the match, or append without a pattern */
#define OP_MATCH_NOCASE  0x400 /* compare both texts upper-cased */

/* Key-line formats: two "%s", the key and then the value. */
#define KORL_KEY_FORMAT_DEFAULT "%s=%s\n"
#define KORL_KEY_FORMAT_QUOTED  "%s=\"%s\"\n"

/* The device settings. */
#define KORV_INFO_CONF "/etc/korvinfo.conf"

/*
 * Line tests. A comment line ("#" or ";" as its first byte) never matches a key or a pattern.
 */
/* 1 when line is a key line of key; line is cut in place at the "=" that ends its key. */
int KORLFileLineKeyMatch(char *line, const char *key);
/* 1 when line (newline included) holds pattern as the flags ask, else 0. */
int KORLFileLineMatch(const char *line, const char *pattern, int flags);
/* 1 when the len bytes of line are "[", a name, "]" and space characters only. */
int KORLFileIsSection(const char *line, int len);
/* 1 when line is the header of section name, 0 when not, -1 for null arguments. */
int KORLFileMatchSection(const char *line, int len, const char *name);

/*
 * Readers. They never lock: callers that share a file take its named lock shared around the call.
 * A missing key or line gives 0 with 0x2000; an unreadable file -1 with 0x0900.
 */
/* Length + 1 of the key's (trimmed, unquoted) value, copied into buf when it fits (else -1, 0x0100);
 * buf null with size 0 only measures. An empty value ends a first-match search as absent. */
int KORLFileGetKeyValue(const char *path, const char *key, char *buf, int size, int flags);
/* 1 when the key's value equals value ignoring ASCII case, 0 when not (or on failure), def when absent. */
int KORLFileCheckKeyValue(const char *path, const char *key, const char *value, int def);
/* Length + 1 of the matching line without its newline, copied into buf when it fits. */
int KORLFileGetLine(const char *path, const char *pattern, char *buf, int size, int flags);
/* Sets the key lines of the first section named section into *phash: the hash's key count, or -1.
 * An absent section is no failure. */
int KORLFileGetSection(const char *path, const char *section, PKORLSZHASH *phash);
/* Sets every key (or only the first line of each wanted one) into *phash, split at the first of
 * delim after the key: the hash's key count, or -1. */
int KORLFileGetKeys(const char *path, PKORLSZLIST wanted, PKORLSZHASH *phash, const char *delim);

/*
 * Every writer changes a regular file: a symbolic link of the caller's effective user is followed
 * (the rewrite happens beside the file it leads to, and the link stays); a link of another user,
 * a FIFO, a device node or a socket is refused (0x0900) and left as it is.
 *
 * Key writers: the file is rewritten through a temporary copy renamed over it. No locking inside.
 * A key-line format holds "%s", "=", "%s" and then a newline, and no other conversion; null means
 * "%s=%s\n". Refused (0x0D00): a key or value holding CR or LF, and a key that the readers would
 * not find again (empty, holding "=", beginning with "#" or ";", or changed by trimming).
 */
/* Rewrites the key's first line, drops its later lines, or appends it: 1, or -1. */
int KORLFileSetKeyValue(const char *path, const char *key, const char *value, const char *format);
/* Rewrites or drops the first line of each key of setHash / delHash (removing the key from its
 * hash) and appends the keys left in setHash: the number of lines changed, dropped and added, or -1. */
int KORLFileSetKeys(const char *path, PKORLSZHASH setHash, PKORLSZHASH delHash, const char *format);
/* Drops every line of key: their number, 0 (0x2000) when none, -1 (no code when the file cannot be opened). */
int KORLFileRemoveKey(const char *path, const char *key);
/* unlink's result. */
int KORLFileRemove(const char *path);
/* One key of "/etc/korvinfo.conf" ("%s=\"%s\"\n") under lock_korvinfo: 0, or -1. */
int KORVINFOSetKeyValue(const char *key, const char *value);

/*
 * Line writers. The line is written followed by a newline; a line or replacement holding CR or LF
 * is refused (0x0D00): one call writes one line.
 */
/* Inserts line before the matching line (after it with OP_FIND_PREFIX), first in the file without a
 * pattern, or appended in place without a pattern and with OP_FIND_PREFIX: 1, 0 (0x2000), -1.
 * The in-place append is one write with O_APPEND (a newline first when the file lacks one), so
 * appenders side by side never tear or glue lines. */
int KORLFileAddLine(const char *path, const char *pattern, const char *line, int flags);
/* Replaces the matching line by newLine, or deletes it when newLine is null: 1, 0 (0x2000), -1. */
int KORLFileSetLine(const char *path, const char *pattern, const char *newLine, int flags);
/* Replaces every occurrence of find on every line: their number, 0 (0x2000), -1. */
int KORLFileReplaceSubStr(const char *path, const char *find, const char *repl);

/*
 * Section writers. A section name holding CR, LF, "[" or "]" is refused (0x0D00).
 */
/* Appends "[section]" and the hash's entries in place, in one write with O_APPEND: 1, 0 when the
 * section exists, -1. */
int ErrKORLFileAddSection(const char *path, const char *section, PKORLSZHASH hash, const char *format);
/* Rewrites every header of section: with mode bit 0 as "[newName or section]" and the hash's
 * entries, else dropped; the section's key lines go, its comment lines stay. 1, 0 (0x2000), -1. */
int KORLFileModifySection(const char *path, const char *section, const char *newName, PKORLSZHASH hash,
                          int mode, const char *format);
/* KORLFileModifySection with mode 1; a null hash is refused. */
int ErrKORLFileSetSection(const char *path, const char *oldName, const char *newName, PKORLSZHASH hash,
                          const char *format);

#ifdef __cplusplus
}
#endif

#endif
