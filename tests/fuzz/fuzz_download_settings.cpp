// The download settings written over any "/etc/korvinfo.conf": the input is the file, and its
// first bytes also give the numbers and texts written. Every line that names no download key
// stays byte for byte and in order, also when a write is refused part way; after a whole write
// each key reads back as written.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz_files.h"
#include "korv/download.h"
#include "korv/file.h"

namespace {

// A text for a field from the input's bytes, kept to letters and digits.
template <size_t N>
void fill(char (&field)[N], const uint8_t *data, size_t size, size_t from)
{
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    size_t n = 0;
    for (; n + 1 < N && from + n < size && data[from + n] != 0; ++n)
        field[n] = kChars[data[from + n] % (sizeof kChars - 1)];
    field[n] = '\0';
}

void expect(const char *key, const std::string &value)
{
    char buf[128];
    const int got = KORLFileGetKeyValue(KORV_INFO_CONF, key, buf, sizeof buf, 0);
    korvfuzz::require(got == int(value.size()) + 1 && value == buf, "a download key reads back as written");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    if (!korvfuzz::write_file(KORV_INFO_CONF, text))
        return 0;
    KORVDOWNQUARNINFO info{};
    const uint8_t first = size ? data[0] : 0;
    info.enabled = first & 1;
    info.order = first & 2 ? 1 : 0;
    info.ul_rate = int(first) * 1000 - 5000;
    info.btencrypt = first % 4;  // 3 is refused when its turn comes
    info.nzb_port = uint16_t(first * 257);
    fill(info.when, data, size, 1);
    fill(info.rapidshare_user, data, size, 8);
    fill(info.nzb_password, data, size, 20);

    const int rc = KORVDownQuarnInfoSet(&info);
    const std::string after = korvfuzz::read_file(KORV_INFO_CONF);
    korvfuzz::require(korvfuzz::lines_without(after, "download_") == korvfuzz::lines_without(text, "download_"),
                      "a settings write keeps every other line");
    if (rc != 0)
        return 0;
    expect("download_enabled", info.enabled ? "yes" : "no");
    expect("download_order", info.order == 1 ? "user" : "request");
    expect("download_ul_rate", std::to_string(info.ul_rate));
    expect("download_btencrypt", info.btencrypt == 0 ? "disable" : info.btencrypt == 1 ? "auto" : "always");
    expect("download_nzb_port", std::to_string(info.nzb_port));
    expect("download_when", info.when);
    expect("download_rapidshare_user", info.rapidshare_user);
    expect("download_nzb_password", info.nzb_password);
    return 0;
}
