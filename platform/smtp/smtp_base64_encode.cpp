#include <nettle/base64.h>

#include <string>

#include "korv/mail.h"
#include "smtp_internal.h"

namespace korvsmtp {

std::string Base64(const void *data, size_t n)
{
    std::string out(BASE64_ENCODE_RAW_LENGTH(n), '\0');
    base64_encode_raw(reinterpret_cast<char *>(out.data()), n, static_cast<const uint8_t *>(data));
    return out;
}

}  // namespace korvsmtp

// The text lives in the plug-in until the next call; callers never free it.
KORVSMTP_EXPORT char *SzBase64Encode(const char *data, int len)
{
    static std::string text;
    if (!data || len < 0)
        return nullptr;
    try {
        text = korvsmtp::Base64(data, static_cast<size_t>(len));
    } catch (...) {
        return nullptr;
    }
    return text.data();
}
