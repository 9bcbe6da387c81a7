// The device's stored forms are 32-bit little-endian words whatever the host; these read and write
// one such word at any (unaligned) address.
#pragma once

#include <cstdint>

namespace korv {

inline uint32_t Le32Get(const void *at)
{
    const auto *b = static_cast<const unsigned char *>(at);
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

inline void Le32Put(void *at, uint32_t v)
{
    auto *b = static_cast<unsigned char *>(at);
    b[0] = uint8_t(v);
    b[1] = uint8_t(v >> 8);
    b[2] = uint8_t(v >> 16);
    b[3] = uint8_t(v >> 24);
}

}  // namespace korv
