// Helpers shared by the mail-notice functions of this folder.
#pragma once

#include <stddef.h>

namespace korv::mail {

// The fixed extra header lines of every notice.
inline constexpr const char kMailHeader[] =
    "Content-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: 8bit\n";

// The host name up to its first blank, "." or TAB, into buf.
void ShortHostName(char *buf, size_t size);

// "mailfrom" of the factory settings into buf (size bytes): absent gives absent (default null:
// ""), unreadable gives "Vaultmere".
void CompanyName(char *buf, size_t size, const char *absent = "");

}  // namespace korv::mail
