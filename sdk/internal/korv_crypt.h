// The library's password and secret hashing over the platform's crypt, and the string cipher's
// parts that other modules and the tests need; not part of the public API.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <string_view>

#include "korv/user.h"

extern "C" {

// Salt character of the magnitude of value modulo 64: "0"-"9", "A"-"Z", "a"-"z", ".", "/".
char SaltCharGet(long long value);

// 1 when passwd holds "$1$" followed by more than nine characters; 0 otherwise (0x0D00 null).
int KORVUserIsPasswdMD5Encrypt(const char *passwd);

// KORVStrCrypt over n bytes that may hold 0 bytes, such as a scrambled secret being read back.
int KORVStrCryptBytes(const unsigned char *in, int n, unsigned char *out, int cbOut);

// The cipher's tables: P a permutation of 0..255, Q its inverse, R a pairing without fixed points.
struct StrCryptTables {
    uint8_t P[256];
    uint8_t Q[256];
    uint8_t R[256];
};
// Builds the tables from the key derived with crypt (a zeroed key, logged, when crypt fails).
void StrCryptTableInit(struct StrCryptTables *tables);

}  // extern "C"

namespace korv {

// MD5 crypt of password: the salt is setting after its "$1$" (when it has one), at most eight
// bytes up to a "$", any other byte taken as it is.
std::string Md5Crypt(std::string_view password, std::string_view setting);

// crypt returns null or, from libxcrypt, a hash beginning with "*" when it refuses.
inline bool cryptFailed(const char *hash)
{
    return !hash || hash[0] == '*';
}

}  // namespace korv
