#include <array>
#include <cstddef>

#include "korv/string.h"

namespace {

// Value of each byte in the alphabet, -1 for every other byte ("=" included).
constexpr std::array<signed char, 256> kDecode = [] {
    std::array<signed char, 256> t{};
    t.fill(-1);
    for (int v = 0; v < 64; ++v) {
        const int c = v < 26 ? 'A' + v : v < 52 ? 'a' + (v - 26) : v < 62 ? '0' + (v - 52) : v == 62 ? '+' : '/';
        t[static_cast<size_t>(c)] = static_cast<signed char>(v);
    }
    return t;
}();

// Indexed by the unsigned byte: bytes >= 0x80 are plain invalid characters.
int value(char c)
{
    return kDecode[static_cast<unsigned char>(c)];
}

}  // namespace

extern "C" int Base64IsValidChar(int c)
{
    return kDecode[static_cast<unsigned char>(c)] >= 0;
}

extern "C" int Base64Decode(const char *src, int n, void *dst, int *pcap)
{
    if (!pcap)
        return 0;
    // With no output buffer the input is still checked, but nothing can be written.
    int cap = dst ? *pcap : 0;
    // No text: only an empty one is consumed whole.
    if (!src) {
        *pcap = 0;
        return n == 0 ? 1 : 0;
    }
    auto *out = static_cast<unsigned char *>(dst);
    int written = 0;
    auto emit = [&](int byte) {
        if (cap > 0) {
            out[written++] = static_cast<unsigned char>(byte);
            --cap;
        }
    };

    int i = 0;
    while (n - i > 1) {
        const int left = n - i;
        const int v0 = value(src[i]);
        const int v1 = value(src[i + 1]);
        if (v0 < 0 || v1 < 0)
            break;
        emit((v0 << 2) | (v1 >> 4));
        if (left == 2)
            break;
        // Pad characters end the last group only, and "=" here needs a second one after it.
        if (src[i + 2] == '=') {
            if (left == 4 && src[i + 3] == '=')
                i += 4;
            break;
        }
        const int v2 = value(src[i + 2]);
        if (v2 < 0)
            break;
        emit(((v1 << 4) | (v2 >> 2)) & 0xFF);
        if (left == 3)
            break;
        if (src[i + 3] == '=') {
            if (left == 4)
                i += 4;
            break;
        }
        const int v3 = value(src[i + 3]);
        if (v3 < 0)
            break;
        emit(((v2 << 6) | v3) & 0xFF);
        i += 4;
    }
    *pcap = written;
    return n - i == 0 ? 1 : 0;
}
