// The key of an account or share name in its record store: the name upper-cased as
// KORLUnicodeUTF8StrUpper does it (ICU's root locale).
#pragma once

#include <stddef.h>

#include <string>

namespace korv {

// Upper-cases name into key: 0, or -1 with the code recorded. A result that is empty or holds a
// NUL is a failure (0x8000): nothing is ever stored or looked up under an empty key. With bufSize
// (the fixed buffer a name's key is formed in, its NUL included) a longer result is refused with
// 0x0D00 instead of being cut or emptied.
int UpperKey(const char *name, std::string &key, size_t bufSize = 0);

}  // namespace korv
