// Auto-block over any block list and settings. The first byte picks the expire days; the rest is
// "/etc/korvIPs.deny", and first "/etc/korvinfo.conf". Settings set keep every other line and
// read back as they were set; an add keeps every live record of another address in order and
// appends its own.
#include <arpa/inet.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#include "fuzz_files.h"
#include "korv/autoblock.h"
#include "korv/file.h"

namespace {

const int kDays[] = {0, 1, 2, 30, 30000, 60000, 2147483647, -1};

uint32_t le32(const std::string &b, size_t at)
{
    return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 | uint32_t(uint8_t(b[at + 2])) << 16 |
           uint32_t(uint8_t(b[at + 3])) << 24;
}

// The records an add at now keeps of list, without the added address; false when a record lapses
// between the two times, so that the result depends on the second the add ran in.
bool kept(const std::string &list, int days, uint32_t addr, uint64_t from, uint64_t to, std::string *out)
{
    out->clear();
    for (size_t at = 0; at + KORV_AUTOBLOCK_REC_SIZE <= list.size(); at += KORV_AUTOBLOCK_REC_SIZE) {
        const uint32_t t = le32(list, at);
        uint32_t a;
        memcpy(&a, list.data() + at + 4, 4);
        if (t == 0 || a == 0 || a == addr)
            continue;
        if (days > 0) {
            const uint64_t lapse = uint64_t(t) + 86400ull * uint64_t(days);
            if ((lapse <= from) != (lapse <= to))
                return false;
            if (lapse <= to)
                continue;
        }
        out->append(list, at, KORV_AUTOBLOCK_REC_SIZE);
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const int days = kDays[data[0] % (sizeof kDays / sizeof kDays[0])];
    const std::string text(reinterpret_cast<const char *>(data) + 1, size - 1);

    // The settings over the input as a file: a set keeps every other line and reads back.
    KORVAUTOBLOCKCONF read{};
    if (korvfuzz::write_file(KORV_INFO_CONF, text) && KORVAutoBlockConfGet(&read) == 0) {
        const KORVAUTOBLOCKCONF want = {3, 7, days, 1};
        if (KORVAutoBlockConfSet(&want) == 0) {
            KORVAUTOBLOCKCONF back{};
            korvfuzz::require(KORVAutoBlockConfGet(&back) == 0 && back.attempts == 3 && back.attemptMin == 7 &&
                                  back.expireDays == days && back.notify == 1,
                              "settings set read back");
            korvfuzz::require(korvfuzz::lines_without(korvfuzz::read_file(KORV_INFO_CONF), "autoblock_") ==
                                  korvfuzz::lines_without(text, "autoblock_"),
                              "a settings set keeps every other line");
        }
    }

    const std::string settings = "autoblock_attempts=\"5\"\nautoblock_attempt_min=\"10\"\nautoblock_expriedday=\"" +
                                 std::to_string(days) + "\"\nautoblock_notify=\"no\"\n";
    if (!korvfuzz::write_file(KORV_INFO_CONF, settings) || !korvfuzz::write_file(KORV_AUTOBLOCK_LIST, text))
        return 0;
    KORVAUTOBLOCKCONF conf{};
    korvfuzz::require(KORVAutoBlockConfGet(&conf) == 0 && conf.attempts == 5 && conf.attemptMin == 10 &&
                          conf.expireDays == days && conf.notify == 0,
                      "the settings read back as they were written");

    struct in_addr addr;
    inet_aton("10.0.0.1", &addr);
    const uint64_t from = uint64_t(time(nullptr));
    const int rc = KORVAutoBlockIPAdd("10.0.0.1");
    const uint64_t to = uint64_t(time(nullptr));
    if (rc != 0) {
        korvfuzz::require(korvfuzz::read_file(KORV_AUTOBLOCK_LIST) == text, "a failed add leaves the list");
        return 0;
    }
    const std::string after = korvfuzz::read_file(KORV_AUTOBLOCK_LIST);
    std::string expect;
    // Negative days expire nothing, as 0 does.
    if (!kept(text, days, addr.s_addr, from, to, &expect))
        return 0;
    korvfuzz::require(after.size() == expect.size() + KORV_AUTOBLOCK_REC_SIZE &&
                          after.compare(0, expect.size(), expect) == 0,
                      "an add keeps every live record of another address in order");
    const uint32_t t = le32(after, expect.size());
    korvfuzz::require(t >= from && t <= to && memcmp(after.data() + expect.size() + 4, &addr.s_addr, 4) == 0,
                      "an add appends its own record");
    return 0;
}
