#include <cstring>

#include "korv/string.h"
#include "korv_internal.h"

namespace {

char g_oneLine[KORL_BASE64_ONELINE_SIZE];

}  // namespace

extern "C" char Base64EncodeChar(int v)
{
    v &= 0x3F;
    if (v < 26)
        return static_cast<char>('A' + v);
    if (v < 52)
        return static_cast<char>('a' + (v - 26));
    if (v < 62)
        return static_cast<char>('0' + (v - 52));
    return v == 62 ? '+' : '/';
}

extern "C" char *SzBase64EncodeOneLine(const void *data, int n)
{
    if (!data)
        return nullptr;
    std::memset(g_oneLine, 0, sizeof g_oneLine);

    const auto *in = static_cast<const unsigned char *>(data);
    const size_t count = n > 0 ? static_cast<size_t>(n) : 0;
    size_t pos = 0;
    for (size_t i = 0; i < count && in[i] != 0; i += 3) {
        // Four characters and the final NUL must fit: a longer text is refused, never cut.
        if (pos + 4 + 1 > sizeof g_oneLine) {
            g_oneLine[0] = '\0';
            KORV_ERR(KORL_ERR_BUF_SMALL);
            return nullptr;
        }
        // Bytes past the input are never read: a short last group is padded.
        const size_t have = count - i < 3 ? count - i : 3;
        const unsigned b0 = in[i];
        const unsigned b1 = have > 1 ? in[i + 1] : 0;
        const unsigned b2 = have > 2 ? in[i + 2] : 0;
        g_oneLine[pos++] = Base64EncodeChar(static_cast<int>(b0 >> 2));
        g_oneLine[pos++] = Base64EncodeChar(static_cast<int>(((b0 & 0x03) << 4) | (b1 >> 4)));
        g_oneLine[pos++] = have > 1 ? Base64EncodeChar(static_cast<int>(((b1 & 0x0F) << 2) | (b2 >> 6))) : '=';
        g_oneLine[pos++] = have > 2 ? Base64EncodeChar(static_cast<int>(b2 & 0x3F)) : '=';
    }
    return g_oneLine;
}
