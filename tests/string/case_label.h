// Readable, unique names for table cases: CTest shows each case by its printed value.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace stringtest {

// Letters and digits as they are, every other byte as "_xx".
inline std::string label(std::string_view s)
{
    if (s.empty())
        return "empty";
    std::string out;
    for (unsigned char c : s) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "_%02x", c);
            out += hex;
        }
    }
    return out;
}

}  // namespace stringtest
