#include <crypt.h>
#include <stdio.h>
#include <string.h>
#include <syslog.h>

#include <memory>
#include <new>

#include "korv/crypt.h"
#include "korv_crypt.h"
#include "korv_internal.h"

// The cipher's messages name the public function whatever helper logs them.
#define STRCRYPT_LOG(fmt, ...) \
    syslog(LOG_ERR, "%s %s(%d): " fmt, __FILE_NAME__, "KORVStrCrypt", __LINE__ __VA_OPT__(, ) __VA_ARGS__)

namespace {

constexpr int kKeySize = 13;

// The key is the first 12 characters of crypt's classic DES hash of two fixed texts. crypt_r keeps
// crypt's own static result, which a caller may still hold, untouched.
void deriveKey(uint8_t key[kKeySize])
{
    memset(key, 0, kKeySize);
    std::unique_ptr<crypt_data> data(new (std::nothrow) crypt_data());
    const char *hash = data ? crypt_r("QTVMA_7.4", "QJ", data.get()) : nullptr;
    if (korv::cryptFailed(hash)) {
        // A zeroed key keeps the tables the same on every call.
        STRCRYPT_LOG("crypt() failed, using a zeroed key");
        return;
    }
    snprintf(reinterpret_cast<char *>(key), kKeySize, "%s", hash);
}

}  // namespace

extern "C" void StrCryptTableInit(StrCryptTables *t)
{
    memset(t, 0, sizeof *t);
    uint8_t key[kKeySize];
    deriveKey(key);

    // 32-bit arithmetic that wraps, as on the device.
    uint32_t h = 824;
    for (uint32_t i = 0; i < kKeySize; i++)
        h = key[i] * h + i;
    for (int i = 0; i < 256; i++)
        t->P[i] = static_cast<uint8_t>(i);
    for (int i = 255; i >= 0; i--) {
        h = 5 * h + key[(255 - i) % kKeySize];
        int32_t m = static_cast<int32_t>(h) % 65521;  // keeps the sign of h
        uint32_t bits = static_cast<uint32_t>(m);
        int j = static_cast<int>((bits & 0xFF) % static_cast<uint32_t>(i + 1));
        uint8_t swap = t->P[i];
        t->P[i] = t->P[j];
        t->P[j] = swap;
        // 0 means no partner yet; every value pairs with a smaller one, so 0 is paired before its
        // turn and the search below i always finds a free value.
        if (t->R[i] == 0) {
            int p = static_cast<int>(((bits >> 8) & 0xFF) % static_cast<uint32_t>(i));
            while (t->R[p] != 0)
                p = (p + 1) % i;
            t->R[i] = static_cast<uint8_t>(p);
            t->R[p] = static_cast<uint8_t>(i);
        }
    }
    for (int i = 0; i < 256; i++)
        t->Q[t->P[i]] = static_cast<uint8_t>(i);
    explicit_bzero(key, sizeof key);
}

extern "C" int KORVStrCryptBytes(const unsigned char *in, int n, unsigned char *out, int cbOut)
{
    if (!in || !out || n < 0) {
        STRCRYPT_LOG("wrong parameters");
        return -1;
    }
    if (cbOut <= n) {
        STRCRYPT_LOG("iLen is not enough!!");
        return -1;
    }
    memset(out, 0, cbOut);
    StrCryptTables t;
    StrCryptTableInit(&t);
    // c1 steps after every byte, c2 each time c1 comes round.
    uint8_t c1 = 0, c2 = 0;
    for (int i = 0; i < n; i++) {
        uint8_t y = t.P[static_cast<uint8_t>(in[i] + c1)];
        uint8_t z = t.R[static_cast<uint8_t>(y + c2)];
        uint8_t w = t.Q[static_cast<uint8_t>(z - c2)];
        out[i] = static_cast<uint8_t>(w - c1);
        if (++c1 == 0)
            c2++;
    }
    return 0;
}

extern "C" int KORVStrCrypt(const char *text, unsigned char *out, int cbOut)
{
    if (!text || !out) {
        STRCRYPT_LOG("wrong parameters");
        return -1;
    }
    size_t n = strlen(text);
    if (cbOut <= 0 || static_cast<size_t>(cbOut) <= n) {
        STRCRYPT_LOG("iLen is not enough!!");
        return -1;
    }
    return KORVStrCryptBytes(reinterpret_cast<const unsigned char *>(text), static_cast<int>(n), out, cbOut);
}
