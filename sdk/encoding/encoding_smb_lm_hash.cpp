#include <string.h>

#include <nettle/des.h>

#include "korv/encoding.h"
#include "korv/unicode.h"
#include "korv_internal.h"

namespace {

constexpr int kPrepSize = 128;  // the upper-cased and the converted password
constexpr int kLmInput = 14;
const uint8_t kLmMagic[8] = {'K', 'G', 'S', '!', '@', '#', '$', '%'};

// 56 key bits, most significant first, seven to a DES key byte above its (ignored) parity bit.
void spreadKey(const uint8_t in[7], uint8_t key[8])
{
    uint64_t bits = 0;
    for (int i = 0; i < 7; i++)
        bits = (bits << 8) | in[i];
    for (int k = 0; k < 8; k++)
        key[k] = static_cast<uint8_t>(((bits >> (49 - 7 * k)) & 0x7F) << 1);
}

void desHalf(const uint8_t key7[7], uint8_t out[8])
{
    uint8_t key[8];
    spreadKey(key7, key);
    des_ctx ctx;
    // The empty password's halves are the weak all-zero key; DES is defined for it all the same.
    des_set_key(&ctx, key);
    des_encrypt(&ctx, sizeof kLmMagic, out, kLmMagic);
    explicit_bzero(&ctx, sizeof ctx);
    explicit_bzero(key, sizeof key);
}

// A form that does not fit comes back as "" with its full length; a non-empty text never
// prepares to nothing otherwise, but that would be no password to hash either.
bool prepared(int n, bool fromNonEmpty)
{
    if (n >= kPrepSize || (fromNonEmpty && n == 0)) {
        KORV_ERR(n >= kPrepSize ? KORL_ERR_BUF_SMALL : KORL_ERR_OTHER);
        return false;
    }
    return true;
}

// Scrubs the password's forms on every return.
struct Scratch {
    char upper[kPrepSize] = {};
    char cp[kPrepSize] = {};
    uint8_t input[kLmInput] = {};
    ~Scratch() { explicit_bzero(this, sizeof *this); }
};

}  // namespace

extern "C" int KORLEncodingSmbLmHash(const char *password, unsigned char *out, int cbOut)
{
    if (out && cbOut > 0)
        memset(out, 0, cbOut < KORL_SMB_HASH_SIZE ? cbOut : KORL_SMB_HASH_SIZE);
    if (cbOut < KORL_SMB_HASH_SIZE) {
        KORV_ERR(KORL_ERR_BUF_SMALL);
        return -1;
    }
    if (!out || !password) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }

    Scratch s;
    int n = KORLUnicodeUTF8StrUpper(password, s.upper, sizeof s.upper);
    if (n < 0 || !prepared(n, *password != '\0'))
        return -1;
    int index = 0;
    if (KORVConfCodePageGet(KORL_CP_KIND_ANSI, &index) < 0)
        return -1;
    n = KORLUnicodeStrUTF8ToCP(index, s.upper, s.cp, sizeof s.cp);
    if (n < 0 || !prepared(n, s.upper[0] != '\0'))
        return -1;
    memcpy(s.input, s.cp, n < kLmInput ? n : kLmInput);

    desHalf(s.input, out);
    desHalf(s.input + 7, out + 8);
    return 0;
}
