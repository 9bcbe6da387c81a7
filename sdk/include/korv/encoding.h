/* The SMB password hashes: LAN Manager (LM) and NT. Passwords are UTF-8 texts. */
#ifndef KORV_ENCODING_H
#define KORV_ENCODING_H

#ifdef __cplusplus
extern "C" {
#endif

/* Both hashes are 16 bytes; the SMB password file keeps them as 32 upper-case hex digits. */
#define KORL_SMB_HASH_SIZE 16

/*
 * Each hash zeroes the first 16 bytes of out (or cbOut, when fewer) before anything else, so a
 * failed hash leaves a defined output. 0, or -1:
 * 0x0100 cbOut below 16; 0x0D00 out or password null.
 */

/* LM hash: the upper-cased password in the device's Windows code page ("codepage" of
 * /etc/korvinfo.conf), cut or padded to 14 bytes, DES-encrypting "KGS!@#$%" under each half.
 * Also -1 when the password cannot be upper-cased or converted (0x0100 when either form is 128
 * bytes or more), or the code page names no known language. */
int KORLEncodingSmbLmHash(const char *password, unsigned char *out, int cbOut);

/* NT hash: MD4 of the password in UTF-16LE, at most 127 characters. A character outside the
 * Basic Multilingual Plane or bad UTF-8 ends the text hashed there (logged); the call succeeds. */
int KORLEncodingSmbMd4Hash(const char *password, unsigned char *out, int cbOut);

#ifdef __cplusplus
}
#endif

#endif
