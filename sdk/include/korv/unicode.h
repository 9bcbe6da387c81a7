/* Unicode over ICU: upper-casing, caseless comparison, code-point counts and code pages. All texts are UTF-8. */
#ifndef KORV_UNICODE_H
#define KORV_UNICODE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One UTF-16 code unit, the same type as ICU's UChar. */
#ifdef __cplusplus
typedef char16_t KORLUCHAR;
#else
typedef uint16_t KORLUCHAR;
#endif

/* ICU's own handle types, opaque here. */
struct UCollator;
struct UConverter;

/* Converter indexes (see KORLUnicodeOpenConvertor): 0 UTF-8, 1 UTF-16, 2-17 Windows/DOS, 18-33 Macintosh. */
#define KORL_CP_INDEX_UTF8   0
#define KORL_CP_INDEX_UTF16  1
#define KORL_CP_INDEX_MAX    33
#define KORL_CP_MAC_OFFSET   16 /* Macintosh index = ANSI index + 16 */

/* Code-page kinds. */
#define KORL_CP_KIND_ANSI          1 /* Windows */
#define KORL_CP_KIND_OEM           2 /* DOS */
#define KORL_CP_KIND_MAC           3
#define KORL_CP_KIND_MEDIASERVICE  4 /* ANSI index of "codepage_mediaservice" */

/*
 * Sized output (UTF8StrUpper, StrUTF8ToCP): outSize 0 with out NULL only measures; with outSize > 0 the
 * text and its NUL are copied when the length is below outSize, else out becomes "" and the full length is
 * still returned.
 */

/* Upper-cases UTF-8 text (root locale); byte length of the result without its NUL, or -1. */
int KORLUnicodeUTF8StrUpper(const char *src, char *out, int outSize);

/* Collator order of the two upper-cased texts: -1, 0 or 1; -2 on error. */
int KORLUnicodeUTF8StrCaseCmp(const char *a, const char *b);

/* Number of Unicode code points in UTF-8 text, or -1. */
int KORLUnicodeUTF8StrCountChar(const char *s);

/*
 * Upper-cases NUL-terminated UTF-16 text into *pDst (capacity code units). When that is too small the
 * buffer is reallocated and stored back through pDst. Length in code units, or -1.
 */
int KORLUnicodeUTF16StrUpper(const KORLUCHAR *src, KORLUCHAR **pDst, int capacity);

/* The process's collator (opened on first use, never closed), or NULL. */
struct UCollator *KORLUnicodeOpenCollator(void);

/* Stores the collation locale's address in *ppLocale; 1 when it is a supported locale, else -1. */
int KORLUnicodeGetLocale(int recheck, const char **ppLocale);

/* Converter index of the device's code page of that kind ("codepage" in /etc/korvinfo.conf); 0 or -1. */
int KORVConfCodePageGet(int kind, int *pIndex);

/* Converter index of a language code ("enu", "utf8", ...) for that kind, or -1. */
int KORLUnicodeCodePageValueParse(int kind, const char *code);

/* Converts UTF-8 text into the code page of that converter index; byte length without its NUL, or -1. */
int KORLUnicodeStrUTF8ToCP(int index, const char *src, char *out, int outSize);

/* The cached ICU converter of that index (opened on first use, never closed), or NULL. */
struct UConverter *KORLUnicodeOpenConvertor(int index);

#ifdef __cplusplus
}
#endif

#endif
