#include <string.h>

#include <nettle/md4.h>

#include "korv/encoding.h"
#include "korv_internal.h"

namespace {

constexpr int kUnits = 128;  // the last unit is always the terminator: 127 characters at most

bool isContinuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

// UTF-8 into UTF-16 units of one, two or three bytes, up to the terminator, a character it cannot
// take, or a full buffer. Characters outside the Basic Multilingual Plane have no single unit.
void toUnits(const char *password, uint16_t units[kUnits])
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(password);
    for (int count = 0; count < kUnits; count++) {
        unsigned char c = p[0];
        if (c < 0x80) {
            units[count] = c;
            if (!c)
                return;
            p += 1;
        } else if ((c & 0xE0) == 0xC0 && isContinuation(p[1])) {
            units[count] = static_cast<uint16_t>((c & 0x1F) << 6 | (p[1] & 0x3F));
            p += 2;
        } else if ((c & 0xF0) == 0xE0 && isContinuation(p[1]) && isContinuation(p[2])) {
            units[count] = static_cast<uint16_t>((c & 0x0F) << 12 | (p[1] & 0x3F) << 6 | (p[2] & 0x3F));
            p += 3;
        } else {
            // The password itself stays out of the log.
            KORV_LOG("Bad UTF-8 character after [%d]-th character of string: [%s]", count, "********");
            return;
        }
    }
}

// Scrubs the password's units and the MD4 state on every return.
struct Scratch {
    uint16_t units[kUnits] = {};
    uint8_t bytes[2 * kUnits] = {};
    md4_ctx ctx;
    ~Scratch() { explicit_bzero(this, sizeof *this); }
};

}  // namespace

extern "C" int KORLEncodingSmbMd4Hash(const char *password, unsigned char *out, int cbOut)
{
    if (out && cbOut > 0)
        memset(out, 0, cbOut < KORL_SMB_HASH_SIZE ? cbOut : KORL_SMB_HASH_SIZE);
    if (!password || !out) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    if (cbOut < KORL_SMB_HASH_SIZE) {
        KORV_ERR(KORL_ERR_BUF_SMALL);
        return -1;
    }

    Scratch s;
    toUnits(password, s.units);
    s.units[kUnits - 1] = 0;
    size_t len = 0;
    // Little-endian on every build; an overlong NUL ends the text early.
    for (; len < kUnits && s.units[len]; len++) {
        s.bytes[2 * len] = static_cast<uint8_t>(s.units[len] & 0xFF);
        s.bytes[2 * len + 1] = static_cast<uint8_t>(s.units[len] >> 8);
    }
    md4_init(&s.ctx);
    md4_update(&s.ctx, 2 * len, s.bytes);
    md4_digest(&s.ctx, MD4_DIGEST_SIZE, out);
    return 0;
}
