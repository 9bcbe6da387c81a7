// MD5 crypt ("$1$"), the published algorithm over Nettle's MD5. Unlike the platform's crypt it
// takes any salt byte but "$", so a salt taken from a locked account's marker ("*", "!", "!!")
// still gives a hash.
#include <nettle/md5.h>
#include <string.h>

#include <string>
#include <string_view>

#include "korv_crypt.h"

namespace korv {

namespace {

constexpr std::string_view kMagic = "$1$";
constexpr size_t kSaltMax = 8;
constexpr char kItoa64[] = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

class Md5 {
public:
    Md5() { md5_init(&ctx_); }
    Md5 &operator<<(std::string_view s)
    {
        md5_update(&ctx_, s.size(), reinterpret_cast<const uint8_t *>(s.data()));
        return *this;
    }
    Md5 &Add(const uint8_t *p, size_t n)
    {
        md5_update(&ctx_, n, p);
        return *this;
    }
    void Digest(uint8_t out[MD5_DIGEST_SIZE]) { md5_digest(&ctx_, MD5_DIGEST_SIZE, out); }

private:
    md5_ctx ctx_;
};

void To64(std::string &out, unsigned v, int n)
{
    while (n-- > 0) {
        out += kItoa64[v & 0x3f];
        v >>= 6;
    }
}

}  // namespace

std::string Md5Crypt(std::string_view password, std::string_view setting)
{
    if (setting.substr(0, kMagic.size()) == kMagic)
        setting.remove_prefix(kMagic.size());
    std::string_view salt = setting.substr(0, std::min(setting.find('$'), kSaltMax));

    uint8_t fin[MD5_DIGEST_SIZE];
    Md5 alt;
    (alt << password << salt << password).Digest(fin);

    Md5 ctx;
    ctx << password << kMagic << salt;
    for (size_t left = password.size(); left > 0; left -= std::min<size_t>(left, MD5_DIGEST_SIZE))
        ctx.Add(fin, std::min<size_t>(left, MD5_DIGEST_SIZE));
    // The length's bits pick a zero byte or the password's first byte, as the original does.
    const uint8_t zero = 0;
    for (size_t i = password.size(); i != 0; i >>= 1) {
        if (i & 1)
            ctx.Add(&zero, 1);
        else
            ctx.Add(reinterpret_cast<const uint8_t *>(password.data()), 1);
    }
    ctx.Digest(fin);

    for (int i = 0; i < 1000; i++) {
        Md5 round;
        if (i & 1)
            round << password;
        else
            round.Add(fin, sizeof fin);
        if (i % 3)
            round << salt;
        if (i % 7)
            round << password;
        if (i & 1)
            round.Add(fin, sizeof fin);
        else
            round << password;
        round.Digest(fin);
    }

    std::string out(kMagic);
    out.append(salt).push_back('$');
    static const int kOrder[5][3] = {{0, 6, 12}, {1, 7, 13}, {2, 8, 14}, {3, 9, 15}, {4, 10, 5}};
    for (const auto &o : kOrder)
        To64(out, (unsigned{fin[o[0]]} << 16) | (unsigned{fin[o[1]]} << 8) | fin[o[2]], 4);
    To64(out, fin[11], 2);
    return out;
}

}  // namespace korv
