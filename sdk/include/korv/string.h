/* Text functions: white space and trimming, splitting and joining, substring replacement,
 * colon escaping of account-line fields, and Base64. All work on NUL-terminated 8-bit texts. */
#ifndef KORV_STRING_H
#define KORV_STRING_H

#include "korv/list.h"

#ifdef __cplusplus
extern "C" {
#endif

/* 1 for TAB, LF, CR and SPACE; 0 for every other byte (vertical tab and form feed too). */
int StrIsSpace(int c);

/* Drops white space at both ends, then one pair of enclosing double quotes.
 * out null or equal to s trims s in place; else out receives the text (at most strlen(s) + 1
 * bytes). Returns the new length, or -1 (0x0D00: s null, or out inside s past its first byte). */
int KORLStrTrimSpace(char *s, char *out);

/* Joins the non-null items with sep into *pbuf, allocating or growing it (*pcb is its size).
 * 0, or -1 (0x0D00 bad arguments or no text at all; 0x0200 out of memory, and when growing
 * the buffer failed *pbuf is null and *pcb 0: the old buffer is gone). */
int KORLStrJoin(const char *const *items, int count, const char *sep, char **pbuf, int *pcb);

/* Next non-empty token of the writable text under *cursor (strsep), or null at the end. */
char *KORLStrSepNext(char **cursor, const char *delim);

/* Appends the non-empty tokens of s; the number appended, or -1. */
int KORLStrTok(const char *s, const char *delim, PKORLSZLIST *plist);
/* Appends every field of s, empty ones too; the number appended, or -1. */
int KORLStrSep(const char *s, const char *delim, PKORLSZLIST *plist);
/* Appends the trimmed key and value of "key=value"; 0, or -1 (0x0D00 empty key, or no "="
 * after the key was appended). */
int KORLStrSepPair(const char *s, PKORLSZLIST *plist);

/* Replaces the first find in s by repl, into out (or in place in s when out is null or s).
 * cap is the capacity of the buffer written. 1 replaced, 0 absent, -1 (0x0D00, or 0x0100 when
 * the result with its NUL would not fit, tested before the search). */
int KORLStrReplace(char *s, const char *find, const char *repl, char *out, int cap);

/* ":" becomes ";," and ";" becomes ";;". The output length, or -1 (0x0D00; 0x0100 when it does
 * not fit: out then holds the part that fitted, terminated, unless cap is below 1). */
int KORLStrEncodeColon(const char *in, char *out, int cap);
/* The reverse; a ";" followed by any other byte or by the end ends the text there.
 * The output length, or -1 (0x0D00; 0x0100 when strlen(in) + 1 exceeds cap). */
int KORLStrDecodeColon(const char *in, char *out, int cap);

/* Largest encoding SzBase64EncodeOneLine holds: 1533 input bytes, 2044 characters and a NUL. */
#define KORL_BASE64_ONELINE_SIZE 2048

/* Encodes n bytes (stopping early at a NUL that would begin a group of three) on one line,
 * into a static buffer that the next call overwrites; never freed. Null when data is null, or
 * (0x0100) when the encoding would not fit the buffer: it is never cut short. */
char *SzBase64EncodeOneLine(const void *data, int n);
/* The alphabet character of the low six bits of v. */
char Base64EncodeChar(int v);
/* Decodes n characters into dst; *pcap is the capacity in, the bytes written out (bytes past
 * the capacity are dropped, the input still checked). 1 when the whole input was consumed,
 * else 0. The output is not terminated. */
int Base64Decode(const char *src, int n, void *dst, int *pcap);
/* 1 when the byte is one of the 64 alphabet characters ("=" is not). */
int Base64IsValidChar(int c);

#ifdef __cplusplus
}
#endif

#endif
