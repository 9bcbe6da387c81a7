/* The string cipher: a rotor scrambling that is its own inverse, used for the readable half of
 * the rsync secrets. */
#ifndef KORV_CRYPT_H
#define KORV_CRYPT_H

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Scrambles the strlen(text) bytes of text into out, which is zeroed first (cbOut bytes); the
 * same call on those bytes gives the text back. A result byte may be 0, so the result is
 * strlen(text) bytes, not a text: unscramble it with the length (KORVStrCryptBytes inside the
 * library). 0, or -1 (logged, out untouched) when text or out is null or cbOut is not larger
 * than strlen(text). No library error code is set.
 */
int KORVStrCrypt(const char *text, unsigned char *out, int cbOut);

#ifdef __cplusplus
}
#endif

#endif
