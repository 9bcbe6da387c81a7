// What table tests share: readable, unique names for their cases (CTest shows each case by its
// printed value) and a mark to see whether a call records an error code.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "korv/error.h"

namespace korvtest {

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

// A code no library function records, to see whether a call records one.
constexpr int kUntouched = 0x7700;

inline void mark_error()
{
    KORLErrSet(kUntouched);
}

}  // namespace korvtest
